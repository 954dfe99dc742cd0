#include "dir_handle.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <unistd.h>

#include <utility>

#include "kernel.h"

namespace obctl {

namespace {

constexpr int directory_flags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;

}  // namespace

DirHandle::DirHandle(DirHandle&& other) noexcept : fd_(other.fd_), shown_(std::move(other.shown_)) {
    other.fd_ = -1;
}

DirHandle& DirHandle::operator=(DirHandle&& other) noexcept {
    if (this != &other) {
        close();
        fd_ = other.fd_;
        shown_ = std::move(other.shown_);
        other.fd_ = -1;
    }
    return *this;
}

void DirHandle::close() {
    if (fd_ >= 0) ob::kernel().close(fd_);
    fd_ = -1;
}

void DirHandle::adopt(int fd, std::string shown) {
    close();
    fd_ = fd;
    shown_ = std::move(shown);
}

std::string DirHandle::shown(const std::string& name) const {
    return shown_.empty() || shown_ == "." ? name : shown_ + "/" + name;
}

bool DirHandle::open_named(const std::string& path, const std::string& shown) {
    close();
    fd_ = ob::kernel().open(path.c_str(), (directory_flags & ~O_NOFOLLOW));
    shown_ = shown;
    return fd_ >= 0;
}

bool DirHandle::open_below(const std::string& name, DirHandle& below) const {
    if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos) {
        errno = EPERM;
        return false;
    }
    const int fd = ob::kernel().openat(fd_, name.c_str(), directory_flags);
    if (fd < 0) {
        // A link is refused as ENOTDIR or ELOOP, by the flags' order: told
        // apart from a file, it is always ELOOP.
        struct stat st;
        const int err = errno;
        errno =
            (err == ENOTDIR || err == ELOOP) && stat(name, st) && S_ISLNK(st.st_mode) ? ELOOP : err;
        return false;
    }
    struct stat here;
    struct stat there;
    int err = 0;
    if (ob::kernel().fstat(fd_, &here) != 0 || ob::kernel().fstat(fd, &there) != 0)
        err = errno;
    else if (here.st_dev != there.st_dev)
        err = EXDEV;
    if (err != 0) {
        ob::kernel().close(fd);
        errno = err;
        return false;
    }
    below.close();
    below.fd_ = fd;
    below.shown_ = shown(name);
    return true;
}

bool DirHandle::open_path(const std::string& relative, DirHandle& below) const {
    DirHandle here;
    here.fd_ = ob::kernel().openat(fd_, ".", directory_flags);
    here.shown_ = shown_;
    if (here.fd_ < 0) return false;
    size_t start = 0;
    while (start <= relative.size()) {
        size_t slash = relative.find('/', start);
        if (slash == std::string::npos) slash = relative.size();
        const std::string name = relative.substr(start, slash - start);
        start = slash + 1;
        if (name.empty() || name == ".") continue;
        DirHandle next;
        if (!here.open_below(name, next)) return false;
        here = std::move(next);
    }
    below = std::move(here);
    return true;
}

bool DirHandle::stat(const std::string& name, struct stat& st) const {
    return ob::kernel().fstatat(fd_, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
}

bool DirHandle::stat_self(struct stat& st) const { return ob::kernel().fstat(fd_, &st) == 0; }

std::string handle_failure(const std::string& shown, int err) {
    switch (err) {
        case EACCES:
            if (geteuid() != 0) return shown + ": " + strerror(err) + " (run obctl as root)";
            break;
        case EROFS:
            return shown + ": the medium is mounted read-only (mount it read-write first)";
        case ENOSPC:
        case EDQUOT:
            return shown + ": the medium is full";
        case ELOOP:
            return shown + " is a symbolic link, which obctl never follows inside the medium";
        case EXDEV:
            return shown + ": another file system is mounted there; obctl stays on the medium";
        case EPERM:
            if (shown.find("..") != std::string::npos)
                return shown + ": a name that leads upwards; obctl stays in the tree";
            break;
        default:
            break;
    }
    return shown + ": " + strerror(err);
}

}  // namespace obctl
