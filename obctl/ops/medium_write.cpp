#include "medium_write.h"

#include <errno.h>
#include <string.h>
#include <sys/stat.h>

#include "file_replace.h"
#include "kernel.h"

namespace obctl {

namespace {

std::string directory_of(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

bool failed(std::string& error, const std::string& text) {
    error = text;
    return false;
}

}  // namespace

std::string shown_path(const Medium& medium, const std::string& path) {
    const std::string prefix = medium.top == "/" ? "/" : medium.top + "/";
    return path.compare(0, prefix.size(), prefix) == 0 ? path.substr(prefix.size()) : path;
}

bool write_medium_file(const Medium& medium, const std::string& path, const std::string& content,
                       std::string& error, mode_t mode) {
    const std::string name = shown_path(medium, path);
    std::string target;
    if (!ob::resolve_link_chain(path.c_str(), target))
        return failed(error, name + ": its links do not end; not written");
    if (!on_the_medium(medium, directory_of(target)))
        return failed(error, name + " leads off the medium (to " + target + "); not written");
    struct stat old;
    if (ob::kernel().lstat(target.c_str(), &old) == 0) {
        if (!S_ISREG(old.st_mode))
            return failed(error, name + ": not a regular file; not replaced");
    } else if (errno == ENOENT) {
        old = {};
        old.st_mode = S_IFREG | 0644;
        old.st_uid = static_cast<uid_t>(-1);  // fchown leaves the owner as created
        old.st_gid = static_cast<gid_t>(-1);
    } else {
        return failed(error, name + ": " + strerror(errno));
    }
    if (mode != 0) old.st_mode = S_IFREG | mode;
    ob::remove_stale_replace(path.c_str());
    const ob::FilePart whole = {content.data(), content.size()};
    if (!ob::replace_file(target.c_str(), old, &whole, 1))
        return failed(error, name + ": " + strerror(errno) + "; unchanged");
    return true;
}

bool remove_medium_file(const Medium& medium, const std::string& path, std::string& error) {
    const std::string name = shown_path(medium, path);
    struct stat st;
    if (ob::kernel().lstat(path.c_str(), &st) != 0)
        return errno == ENOENT || failed(error, name + ": " + strerror(errno));
    if (S_ISDIR(st.st_mode)) return failed(error, name + ": a directory; not removed");
    if (!on_the_medium(medium, directory_of(path)))
        return failed(error, name + " lies off the medium; not removed");
    if (ob::kernel().unlink(path.c_str()) != 0)
        return failed(error, name + ": " + strerror(errno) + "; not removed");
    flush_directory(path);
    return true;
}

void flush_directory(const std::string& path) { ob::flush_directory_of(path.c_str()); }

}  // namespace obctl
