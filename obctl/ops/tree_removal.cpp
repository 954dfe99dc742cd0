#include "tree_removal.h"

#include <errno.h>
#include <string.h>
#include <sys/stat.h>

#include <vector>

#include "kernel.h"

namespace obctl {

namespace {

void note_failure(std::string& error, const std::string& path, const char* why) {
    if (error.empty()) error = path + ": " + why;
}

// The tree below the directory dir (of file system device), then dir.
void remove_below(const std::string& dir, dev_t device, std::string& error) {
    std::vector<std::string> names;
    if (ob::kernel().list_dir(dir.c_str(), names) != 0) note_failure(error, dir, strerror(errno));
    for (const std::string& name : names) {
        const std::string path = dir + "/" + name;
        struct stat st;
        if (ob::kernel().lstat(path.c_str(), &st) != 0) {
            note_failure(error, path, strerror(errno));
        } else if (!S_ISDIR(st.st_mode)) {
            if (ob::kernel().unlink(path.c_str()) != 0) note_failure(error, path, strerror(errno));
        } else if (st.st_dev != device) {
            note_failure(error, path, "another file system is mounted there; left in place");
        } else {
            remove_below(path, device, error);
        }
    }
    if (ob::kernel().rmdir(dir.c_str()) != 0) note_failure(error, dir, strerror(errno));
}

}  // namespace

bool remove_tree(const std::string& path, std::string& error) {
    error.clear();
    struct stat st;
    const bool found = ob::kernel().lstat(path.c_str(), &st) == 0;
    if (!found || !S_ISDIR(st.st_mode)) {
        error = path + ": " + strerror(found ? ENOTDIR : errno);
        return false;
    }
    remove_below(path, st.st_dev, error);
    return error.empty();
}

}  // namespace obctl
