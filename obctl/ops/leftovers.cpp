#include "leftovers.h"

#include <errno.h>
#include <string.h>
#include <sys/stat.h>

#include "kernel.h"
#include "medium.h"
#include "medium_write.h"
#include "tree_removal.h"

namespace obctl {

namespace {

bool starts_with(const std::string& name, const char* prefix) {
    return name.compare(0, strlen(prefix), prefix) == 0;
}

bool exists(const std::string& path) {
    struct stat st;
    return ob::kernel().lstat(path.c_str(), &st) == 0 || errno != ENOENT;
}

std::string removed(const Medium& medium, const std::string& name, const char* left_by) {
    std::string error;
    if (!remove_tree(medium.image(name), error))
        return "cannot remove " + shown_image(name) + ", left by " + left_by + ": " +
               shown_path(medium, error);
    flush_directory(medium.image(name));
    return "removed " + shown_image(name) + ", left by " + left_by;
}

}  // namespace

std::string unused_hidden_name(const Medium& medium, const char* prefix) {
    for (int n = 1;; ++n) {
        const std::string name = prefix + std::to_string(n);
        if (!exists(medium.image(name))) return name;
    }
}

std::vector<std::string> clean_leftovers(const Medium& medium) {
    std::vector<std::string> names, done;
    ob::kernel().list_dir(medium.path(ob::images_dir).c_str(), names);
    for (const std::string& name : names) {
        if (starts_with(name, adding_prefix)) {
            done.push_back(removed(medium, name, "an interrupted obctl add"));
        } else if (starts_with(name, removal_prefix)) {
            done.push_back(removed(medium, name, "an interrupted obctl remove"));
        } else if (starts_with(name, replaced_prefix)) {
            const std::string image = name.substr(strlen(replaced_prefix));
            if (exists(medium.image(image))) {
                done.push_back(removed(medium, name, "obctl add --replace"));
            } else if (ob::kernel().rename(medium.image(name).c_str(),
                                           medium.image(image).c_str()) == 0) {
                flush_directory(medium.image(image));
                done.push_back("put back " + shown_image(image) +
                               ", whose replacement was interrupted");
            }
        }
    }
    return done;
}

}  // namespace obctl
