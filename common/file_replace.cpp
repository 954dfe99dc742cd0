#include "file_replace.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>

#include "kernel.h"

namespace ob {

namespace {

// Symbolic links followed before a replace gives up (the kernel itself
// follows at most 40; a medium or an image needs one or two).
constexpr int max_link_hops = 16;

// Opened to be flushed after a rename into it.
constexpr int directory_flags = O_RDONLY | O_DIRECTORY | O_NONBLOCK;

std::string directory_of(const std::string& path) {
    size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

// The new contents, mode and owner into the temporary fd, on the disk, and
// fd closed; false with errno of the failed step.
bool fill_temporary(int fd, const struct stat& old, const FilePart* parts, size_t count) {
    bool ok = true;
    for (size_t i = 0; ok && i < count; ++i)
        ok = write_all(fd, parts[i].data, parts[i].size);
    // The file-creation mask may have narrowed the mode given to open.
    ok = ok && kernel().fchmod(fd, old.st_mode & 07777) == 0;
    ok = ok && kernel().fchown(fd, old.st_uid, old.st_gid) == 0;
    ok = ok && kernel().fsync(fd) == 0;
    const int saved = errno;
    ok = kernel().close(fd) == 0 && ok;
    if (!ok && errno == 0) errno = saved;
    return ok;
}

}  // namespace

void flush_directory_of(const char* path) {
    const int fd = kernel().open(directory_of(path).c_str(), directory_flags);
    const bool flushed = fd >= 0 && kernel().fsync(fd) == 0;
    if (fd >= 0) kernel().close(fd);
    if (!flushed) kernel().sync();
}

bool resolve_link_chain(const char* path, std::string& target) {
    target = path;
    for (int hop = 0; hop < max_link_hops; ++hop) {
        struct stat st;
        if (kernel().lstat(target.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return true;
        char link[PATH_MAX];
        ssize_t n = kernel().readlink(target.c_str(), link, sizeof link);
        if (n <= 0 || static_cast<size_t>(n) >= sizeof link) return false;
        std::string next(link, static_cast<size_t>(n));
        if (next[0] != '/') {
            std::string dir = directory_of(target);
            next = (dir == "/" ? dir : dir + "/") + next;
        }
        target = next;
    }
    return false;
}

bool replace_file(const char* path, const struct stat& old, const FilePart* parts, size_t count) {
    const std::string temporary = std::string(path) + replace_suffix;
    // O_NOFOLLOW: a link planted under the temporary name must not redirect
    // the new contents somewhere else; O_NONBLOCK: nor may a FIFO there hold
    // the caller.
    int fd =
        kernel().open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_NONBLOCK,
                      old.st_mode & 07777);
    if (fd < 0) return false;
    const bool ok =
        fill_temporary(fd, old, parts, count) && kernel().rename(temporary.c_str(), path) == 0;
    if (!ok) {
        const int saved = errno;
        kernel().unlink(temporary.c_str());
        errno = saved;
        return false;
    }
    flush_directory_of(path);
    return true;
}

bool replace_file_at(int dirfd, const char* name, const struct stat& old, const FilePart* parts,
                     size_t count) {
    const std::string temporary = std::string(name) + replace_suffix;
    // What a power cut left under the temporary name goes first, whatever it
    // is (a directory stays and fails the create below).
    kernel().unlinkat(dirfd, temporary.c_str(), 0);
    int fd = kernel().openat(dirfd, temporary.c_str(),
                             O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC,
                             old.st_mode & 07777);
    if (fd < 0) return false;
    const bool ok = fill_temporary(fd, old, parts, count) &&
                    kernel().renameat(dirfd, temporary.c_str(), dirfd, name) == 0;
    if (!ok) {
        const int saved = errno;
        kernel().unlinkat(dirfd, temporary.c_str(), 0);
        errno = saved;
        return false;
    }
    if (kernel().fsync(dirfd) != 0) kernel().sync();
    return true;
}

void remove_stale_replace(const char* path) {
    std::string target;
    if (!resolve_link_chain(path, target)) return;
    const std::string temporary = target + replace_suffix;
    struct stat st;
    if (kernel().lstat(temporary.c_str(), &st) == 0 && !S_ISDIR(st.st_mode))
        kernel().unlink(temporary.c_str());
}

}  // namespace ob
