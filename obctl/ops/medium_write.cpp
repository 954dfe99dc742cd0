#include "medium_write.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>

#include "file_replace.h"
#include "kernel.h"

namespace obctl {

namespace {

bool failed(std::string& error, const std::string& text) {
    error = text;
    return false;
}

void split(const std::string& path, std::string& directory, std::string& name) {
    const size_t slash = path.rfind('/');
    directory = slash == std::string::npos ? "" : path.substr(0, slash);
    name = slash == std::string::npos ? path : path.substr(slash + 1);
}

// The file name in dir replaced, like `old` in mode and owner (or a new
// file's).
bool replace_in(const DirHandle& dir, const std::string& name, const std::string& content,
                std::string& error, mode_t mode) {
    const std::string shown = dir.shown(name);
    struct stat old;
    if (dir.stat(name, old)) {
        if (!S_ISREG(old.st_mode) && !S_ISLNK(old.st_mode))
            return failed(error, shown + ": not a regular file; not replaced");
        if (S_ISLNK(old.st_mode)) old.st_mode = S_IFREG | 0644;
    } else if (errno == ENOENT) {
        old = {};
        old.st_mode = S_IFREG | 0644;
        old.st_uid = static_cast<uid_t>(-1);  // fchown leaves the owner as created
        old.st_gid = static_cast<gid_t>(-1);
    } else {
        return failed(error, handle_failure(shown, errno));
    }
    if (mode != 0) old.st_mode = S_IFREG | mode;
    const ob::FilePart whole = {content.data(), content.size()};
    if (!ob::replace_file_at(dir.fd(), name.c_str(), old, &whole, 1))
        return failed(error, handle_failure(shown, errno) + "; unchanged");
    return true;
}

}  // namespace

std::string shown_path(const Medium& medium, const std::string& path) {
    const std::string prefix = medium.top == "/" ? "/" : medium.top + "/";
    return path.compare(0, prefix.size(), prefix) == 0 ? path.substr(prefix.size()) : path;
}

bool write_medium_file(const Medium& medium, const std::string& relative,
                       const std::string& content, std::string& error, mode_t mode) {
    std::string target;
    if (!ob::resolve_link_chain((medium.top + "/" + relative).c_str(), target))
        return failed(error, relative + ": its links do not end; not written");
    std::string directory;
    std::string name;
    std::string resolved;
    split(target, directory, name);
    if (!medium.relative_path(directory.empty() ? "/" : directory, resolved))
        return failed(error, relative + " leads off the medium (to " + target + "); not written");
    DirHandle dir;
    if (!medium.open_dir(resolved, dir, error)) return false;
    return replace_in(dir, name, content, error, mode);
}

bool write_file_in(const DirHandle& dir, const std::string& name, const std::string& content,
                   std::string& error, mode_t mode) {
    return replace_in(dir, name, content, error, mode);
}

bool remove_medium_file(const Medium& medium, const std::string& relative, std::string& error) {
    std::string directory;
    std::string name;
    split(relative, directory, name);
    DirHandle dir;
    if (!medium.open_dir(directory, dir, error)) return false;
    struct stat st;
    if (!dir.stat(name, st))
        return errno == ENOENT || failed(error, handle_failure(relative, errno));
    if (S_ISDIR(st.st_mode)) return failed(error, relative + ": a directory; not removed");
    if (ob::kernel().unlinkat(dir.fd(), name.c_str(), 0) != 0)
        return failed(error, handle_failure(relative, errno) + "; not removed");
    flush_directory(dir);
    return true;
}

void flush_directory(const DirHandle& dir) {
    if (ob::kernel().fsync(dir.fd()) != 0) ob::kernel().sync();
}

}  // namespace obctl
