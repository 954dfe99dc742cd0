#include "leftovers.h"

#include <errno.h>
#include <string.h>
#include <sys/stat.h>

#include "kernel.h"
#include "medium_write.h"
#include "tree_removal.h"

namespace obctl {

namespace {

bool starts_with(const std::string& name, const char* prefix) {
    return name.compare(0, strlen(prefix), prefix) == 0;
}

bool exists(const DirHandle& dir, const std::string& name) {
    struct stat st;
    return dir.stat(name, st) || errno != ENOENT;
}

std::string removed(const DirHandle& images, const std::string& name, const char* left_by) {
    std::string error;
    const bool gone = remove_tree(images, name, error);
    flush_directory(images);
    if (!gone) return "cannot remove " + images.shown(name) + ", left by " + left_by + ": " + error;
    return "removed " + images.shown(name) + ", left by " + left_by;
}

}  // namespace

std::string unused_hidden_name(const DirHandle& images, const char* prefix) {
    for (int n = 1;; ++n) {
        const std::string name = prefix + std::to_string(n);
        if (!exists(images, name)) return name;
    }
}

std::vector<std::string> clean_leftovers(const Medium& medium) {
    std::vector<std::string> done;
    DirHandle images;
    std::string error;
    std::vector<std::string> names;
    if (!medium.images(images, error) || ob::kernel().list_dir_at(images.fd(), names) != 0)
        return done;
    for (const std::string& name : names) {
        if (starts_with(name, adding_prefix)) {
            done.push_back(removed(images, name, "an interrupted obctl add"));
        } else if (starts_with(name, removal_prefix)) {
            done.push_back(removed(images, name, "an interrupted obctl remove"));
        } else if (starts_with(name, replaced_prefix)) {
            const std::string image = name.substr(strlen(replaced_prefix));
            if (image.empty() || exists(images, image)) {
                done.push_back(removed(images, name, "obctl add --replace"));
            } else if (ob::kernel().renameat(images.fd(), name.c_str(), images.fd(),
                                             image.c_str()) == 0) {
                flush_directory(images);
                done.push_back("put back " + images.shown(image) +
                               ", whose replacement was interrupted");
            }
        }
    }
    return done;
}

}  // namespace obctl
