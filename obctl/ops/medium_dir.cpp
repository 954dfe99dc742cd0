#include "medium_dir.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>

#include "control_file.h"
#include "kernel.h"
#include "medium.h"
#include "resolve_below.h"

namespace obctl {

std::string Medium::path(const char* box_path) const { return ob::on_medium(top, box_path); }

std::string Medium::image(const std::string& name) const {
    return path(ob::images_dir) + "/" + name;
}

bool Medium::relative_path(const std::string& path, std::string& relative) const {
    std::string resolved_top;
    std::string resolved;
    if (!ob::resolve_below("", top, resolved_top) || !ob::resolve_below("", path, resolved))
        return false;
    if (resolved == resolved_top) {
        relative.clear();
        return true;
    }
    const std::string prefix = resolved_top == "/" ? "/" : resolved_top + "/";
    if (resolved.compare(0, prefix.size(), prefix) != 0) return false;
    relative = resolved.substr(prefix.size());
    return true;
}

bool Medium::open_dir(const std::string& relative, DirHandle& dir, std::string& error) const {
    const std::string named = relative.empty() ? top : top + "/" + relative;
    std::string below;
    if (!relative_path(named, below)) {
        error = (relative.empty() ? top : relative) + " leads off the medium; obctl stays on it";
        return false;
    }
    if (top_dir.open_path(below, dir)) return true;
    error = handle_failure(below.empty() ? top : below, errno);
    return false;
}

bool Medium::images(DirHandle& dir, std::string& error, bool make) const {
    const std::string name = shown(ob::images_dir);
    struct stat st;
    if (make && !top_dir.stat(name, st) && errno == ENOENT &&
        ob::kernel().mkdirat(top_dir.fd(), name.c_str(), 0755) == 0 &&
        ob::kernel().fsync(top_dir.fd()) != 0)
        ob::kernel().sync();
    if (open_dir(name, dir, error)) return true;
    if (errno == ENOENT)
        error = name +
                "/ is missing: no image is installed on this medium yet (obctl add "
                "makes it)";
    return false;
}

std::string shown(const char* box_path) { return box_path + strlen(ob::medium_mount) + 1; }

std::string shown_image(const std::string& name) { return shown(ob::images_dir) + "/" + name; }

std::string box_image(const std::string& name) { return std::string(ob::images_dir) + "/" + name; }

namespace {

// Paths on the medium are compared after their links are resolved from the
// root, so the top directory is made absolute first.
bool absolute(const std::string& dir, std::string& path) {
    path = dir;
    if (dir[0] == '/') return true;
    char cwd[PATH_MAX];
    const ssize_t n = ob::kernel().readlink("/proc/self/cwd", cwd, sizeof cwd);
    if (n <= 0 || static_cast<size_t>(n) >= sizeof cwd || cwd[0] != '/') return false;
    path = std::string(cwd, static_cast<size_t>(n)) + "/" + dir;
    return true;
}

bool open_top(Medium& medium, std::string& error) {
    if (medium.top_dir.open_named(medium.top, "")) return true;
    error = medium.top + ": " + strerror(errno);
    return false;
}

}  // namespace

bool find_medium(const std::string& dir, Medium& medium, std::string& error) {
    if (!absolute(dir, medium.top)) {
        error = dir + ": name the medium's top directory from / (--medium DIR)";
        return false;
    }
    struct stat st;
    const bool found = ob::kernel().stat(medium.top.c_str(), &st) == 0;
    if (!found || !S_ISDIR(st.st_mode)) {
        error = dir + ": " + strerror(found ? ENOTDIR : errno) +
                " (name the medium's top directory with --medium DIR)";
        return false;
    }
    if (!ob::path_exists(medium.path(ob::medium_marker).c_str()) &&
        !ob::path_exists(medium.path(ob::images_dir).c_str())) {
        error = dir + ": no Orbiel medium (neither ob.sh nor ob/ there)";
        return false;
    }
    return open_top(medium, error);
}

bool medium_to_be(const std::string& dir, Medium& medium, std::string& error) {
    if (dir.empty() || !absolute(dir, medium.top)) {
        error = dir + ": name the directory from /";
        return false;
    }
    while (medium.top.size() > 1 && medium.top.back() == '/')
        medium.top.pop_back();
    struct stat st;
    const bool found = ob::kernel().stat(medium.top.c_str(), &st) == 0;
    if (found && S_ISDIR(st.st_mode)) return open_top(medium, error);
    error = dir + ": " + strerror(found ? ENOTDIR : errno);
    return false;
}

bool on_the_medium(const Medium& medium, const std::string& path) {
    std::string top;
    std::string resolved;
    if (!ob::resolve_below("", medium.top, top) || !ob::resolve_below("", path, resolved))
        return false;
    if (top == "/") return true;
    return resolved == top || resolved.compare(0, top.size() + 1, top + "/") == 0;
}

bool is_running_root(const struct stat& dir) {
    struct stat root;
    return ob::kernel().stat("/", &root) == 0 && S_ISDIR(dir.st_mode) &&
           root.st_dev == dir.st_dev && root.st_ino == dir.st_ino;
}

bool is_running_root(const std::string& directory) {
    struct stat dir;
    return ob::kernel().lstat(directory.c_str(), &dir) == 0 && is_running_root(dir);
}

MediumLock::~MediumLock() {
    if (fd_ >= 0) ob::kernel().close(fd_);
}

bool MediumLock::take(const Medium& medium, bool exclusive, std::string& error) {
    fd_ = ob::kernel().open(medium.top.c_str(), O_RDONLY | O_DIRECTORY | O_NONBLOCK);
    if (fd_ < 0) {
        error = medium.top + ": " + strerror(errno);
        return false;
    }
    const int kind = exclusive ? LOCK_EX : LOCK_SH;
    if (ob::kernel().flock(fd_, kind | LOCK_NB) == 0) return true;
    if (errno == EWOULDBLOCK) {
        ob::printf_to(2, "obctl: %s is in use by another obctl, waiting ...\n", medium.top.c_str());
        if (ob::kernel().flock(fd_, kind) == 0) return true;
    }
    error = medium.top + ": cannot lock: " + strerror(errno);
    return false;
}

}  // namespace obctl
