// A directory of a tree obctl writes in, held open and reached one name at a
// time without following a link. Whatever a tree holds (a link an archive
// planted, a name swapped in meanwhile, a path longer than the kernel takes)
// cannot lead a write, a rename or a removal anywhere else, and no path
// string is resolved by the kernel twice.
#pragma once

#include <sys/stat.h>

#include <string>

namespace obctl {

class DirHandle {
public:
    DirHandle() = default;
    ~DirHandle() { close(); }
    DirHandle(DirHandle&& other) noexcept;
    DirHandle& operator=(DirHandle&& other) noexcept;
    DirHandle(const DirHandle&) = delete;
    DirHandle& operator=(const DirHandle&) = delete;

    int fd() const { return fd_; }
    bool is_open() const { return fd_ >= 0; }
    void close();
    // Takes over fd, an open directory.
    void adopt(int fd, std::string shown);
    // How the user knows it ("ob/.obadd-1"), for messages.
    const std::string& shown() const { return shown_; }
    std::string shown(const std::string& name) const;

    // The directory the user named, its links followed: the one path the
    // kernel resolves. False with errno.
    bool open_named(const std::string& path, const std::string& shown);
    // The directory `name` in this one, on the same file system, never
    // through a link: false with errno (ELOOP for a link, ENOTDIR for no
    // directory, EXDEV for another file system mounted there).
    bool open_below(const std::string& name, DirHandle& below) const;
    // The same, name by name down a relative path ("ob/x"); "." and empty
    // names are passed over, ".." is refused (EPERM).
    bool open_path(const std::string& relative, DirHandle& below) const;
    // lstat of `name` in it; false with errno.
    bool stat(const std::string& name, struct stat& st) const;
    bool stat_self(struct stat& st) const;

private:
    int fd_ = -1;
    std::string shown_;
};

// "ob/x/media: " and what errno says, in words that tell what happened:
// "ob/x/media is a symbolic link, which obctl never follows inside an image".
std::string handle_failure(const std::string& shown, int err);

}  // namespace obctl
