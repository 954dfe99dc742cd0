#include "medium_dir.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdio.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <vector>

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

bool MediumLock::open_top(const Medium& medium, std::string& error) {
    fd_ = ob::kernel().open(medium.top.c_str(), O_RDONLY | O_DIRECTORY | O_NONBLOCK);
    if (fd_ >= 0) return true;
    error = medium.top + ": " + strerror(errno);
    return false;
}

bool MediumLock::take(const Medium& medium, bool exclusive, std::string& error) {
    if (!open_top(medium, error)) return false;
    const int kind = exclusive ? LOCK_EX : LOCK_SH;
    if (ob::kernel().flock(fd_, kind | LOCK_NB) == 0) return true;
    if (errno == EWOULDBLOCK) {
        ob::printf_to(2, "obctl: %s is in use by another obctl, waiting ...\n", medium.top.c_str());
        if (ob::kernel().flock(fd_, kind) == 0) return true;
    }
    error = medium.top + ": cannot lock: " + strerror(errno);
    return false;
}

namespace {

// The process holding a lock on the file, from the kernel's table of locks
// ("1: FLOCK  ADVISORY  WRITE 812 08:01:2 0 EOF", the device's numbers in
// hexadecimal); 0 when none is listed.
long lock_holder(const struct stat& st) {
    std::vector<char> table(64 * 1024);
    if (ob::read_control_file("/proc/locks", table.data(), table.size(), table.size() - 1) <= 0)
        return 0;
    for (char* line = strtok(table.data(), "\n"); line != nullptr; line = strtok(nullptr, "\n")) {
        char type[16], mode[16], access[16];
        long pid = 0;
        unsigned dev_major = 0, dev_minor = 0;
        unsigned long inode = 0;
        if (strstr(line, "->") != nullptr ||
            sscanf(line, "%*d: %15s %15s %15s %ld %x:%x:%lu", type, mode, access, &pid, &dev_major,
                   &dev_minor, &inode) != 7)
            continue;
        if (strcmp(type, "FLOCK") == 0 && dev_major == major(st.st_dev) &&
            dev_minor == minor(st.st_dev) && inode == st.st_ino)
            return pid;
    }
    return 0;
}

// "obctl add img9 img9.tar.gz (process 812)": the command line the process
// was started with.
std::string process_words(long pid) {
    const std::string where = "/proc/" + std::to_string(pid) + "/cmdline";
    char words[512];
    const long got = ob::read_control_file(where.c_str(), words, sizeof words, sizeof words - 1);
    std::string text;
    for (long i = 0; i < got; ++i) {
        const unsigned char c = static_cast<unsigned char>(words[i]);
        text += c == '\0' ? ' ' : c < ' ' || c == 0x7F ? '?' : static_cast<char>(c);
    }
    while (!text.empty() && text.back() == ' ')
        text.pop_back();
    const size_t slash = text.rfind('/', text.find(' '));
    if (slash != std::string::npos) text.erase(0, slash + 1);
    return (text.empty() ? "process " + std::to_string(pid)
                         : text + " (process " + std::to_string(pid) + ")");
}

}  // namespace

bool MediumLock::try_take(const Medium& medium, bool exclusive, std::string& error) {
    if (!open_top(medium, error)) return false;
    if (ob::kernel().flock(fd_, (exclusive ? LOCK_EX : LOCK_SH) | LOCK_NB) == 0) return true;
    const int failure = errno;
    struct stat st;
    const long pid = ob::kernel().fstat(fd_, &st) == 0 ? lock_holder(st) : 0;
    ob::kernel().close(fd_);
    fd_ = -1;
    if (failure != EWOULDBLOCK) {
        error = medium.top + ": cannot lock: " + strerror(failure);
        return false;
    }
    error = "the medium is in use by " + (pid > 0 ? process_words(pid) : "another obctl");
    return false;
}

}  // namespace obctl
