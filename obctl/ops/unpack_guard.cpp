#include "unpack_guard.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>

#include "kernel.h"

namespace obctl {

namespace {

// Directories kept open at once.
constexpr size_t kept_open = 32;

std::string directory_of(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

std::string name_of(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

bool UnpackGuard::directory(const std::string& dir, const DirHandle*& handle, std::string& error) {
    handle = nullptr;
    if (dir.empty()) {
        handle = &root_;
        return true;
    }
    for (auto it = open_.begin(); it != open_.end(); ++it) {
        if (it->first != dir) continue;
        open_.splice(open_.begin(), open_, it);
        handle = &open_.front().second;
        return true;
    }
    DirHandle found;
    if (!root_.open_path(dir, found)) {
        if (errno == ENOENT) return true;
        error = dir + ": " +
                (errno == ELOOP     ? "the archive leads its names through a symbolic link here"
                 : errno == ENOTDIR ? std::string("not a directory")
                                    : std::string(strerror(errno)));
        return false;
    }
    open_.emplace_front(dir, std::move(found));
    if (open_.size() > kept_open) open_.pop_back();
    handle = &open_.front().second;
    return true;
}

bool UnpackGuard::clear_for(const std::string& path, std::string& error) {
    const DirHandle* dir = nullptr;
    if (!directory(directory_of(path), dir, error)) {
        error = path + ": " + error;
        return false;
    }
    if (dir == nullptr) return true;
    const std::string name = name_of(path);
    struct stat st;
    if (dir->stat(name, st) && S_ISLNK(st.st_mode)) {
        if (ob::kernel().unlinkat(dir->fd(), name.c_str(), 0) != 0) {
            error = path + ": " + strerror(errno);
            return false;
        }
        replaced(path);
    }
    return true;
}

bool UnpackGuard::reachable(const std::string& target, std::string& error) {
    const DirHandle* dir = nullptr;
    if (directory(directory_of(target), dir, error)) return true;
    error = target + ": " + error;
    return false;
}

void UnpackGuard::replaced(const std::string& path) {
    const std::string below = path + "/";
    for (auto it = open_.begin(); it != open_.end();) {
        if (it->first == path || it->first.compare(0, below.size(), below) == 0)
            it = open_.erase(it);
        else
            ++it;
    }
}

}  // namespace obctl
