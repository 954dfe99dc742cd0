#include "file_edit.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdint.h>
#include <string.h>
#include <sys/stat.h>

#include <memory>
#include <new>
#include <string>

#include "control_file.h"
#include "kernel.h"

namespace obinit {

namespace {

// Symbolic links followed before an edit gives up (the kernel itself
// follows at most 40; an image needs one or two).
constexpr int max_link_hops = 16;

// Suffix of the temporary file that becomes the edited file.
constexpr const char* new_file_suffix = ".obnew";

// Opened to be flushed after a rename into it.
constexpr int directory_flags = O_RDONLY | O_DIRECTORY | O_NONBLOCK;

std::string directory_of(const std::string& path) {
    size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

// The first occurrence of the `length` bytes of `pattern` lying wholly within
// [start, end), or nullptr. An occurrence ending exactly at `end` counts.
const char* find_bytes(const char* start, const char* end, const char* pattern, size_t length) {
    if (start == nullptr || end == nullptr || end < start) return nullptr;
    for (const char* p = start; static_cast<size_t>(end - p) >= length; ++p) {
        if (memcmp(p, pattern, length) == 0) return p;
    }
    return nullptr;
}

// The file an edit of `path` must change: `path` itself, or the file a link
// (chain) finally points to. False when a link cannot be read or the chain
// does not end.
bool resolve_edit_target(const char* path, std::string& target) {
    target = path;
    for (int hop = 0; hop < max_link_hops; ++hop) {
        struct stat st;
        // A name that is missing or no link is the file itself; opening it
        // decides what happens next.
        if (ob::kernel().lstat(target.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return true;
        char link[PATH_MAX];
        ssize_t n = ob::kernel().readlink(target.c_str(), link, sizeof link);
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

bool read_whole_file(int fd, const char* path, const struct stat& st, char*& data, size_t& size) {
    data = nullptr;
    size = 0;
    if (!S_ISREG(st.st_mode) || st.st_size < 0) return false;
    // A file of this size is no mount table or unit; reading it whole into
    // process 1 could exhaust the box.
    if (static_cast<uintmax_t>(st.st_size) > edit_size_limit) {
        ob::printf_to(2, "Orbiel: %s is larger than 1 MiB, left unedited\n", path);
        return false;
    }
    const size_t want = static_cast<size_t>(st.st_size);
    // One spare byte, so that an empty file still gets a buffer of its own.
    char* buffer = new (std::nothrow) char[want + 1];
    if (buffer == nullptr) return false;
    size_t got = 0;
    while (got < want) {
        ssize_t n = ob::kernel().read(fd, buffer + got, want - got);
        if (n <= 0) break;
        got += static_cast<size_t>(n);
    }
    if (got != want) {
        delete[] buffer;
        return false;
    }
    data = buffer;
    size = want;
    return true;
}

// The file an edit of `path` acts on, read whole: its name, its status and
// every byte of it.
struct EditTarget {
    std::string path;
    struct stat st;
    std::unique_ptr<char[]> contents;
    size_t size = 0;
};

// False when the name cannot be resolved, or the file is no regular file,
// does not open, or cannot be read completely.
bool read_edit_target(const char* path, EditTarget& target) {
    if (!resolve_edit_target(path, target.path)) return false;
    // Never waits: a FIFO under the file's name is no file to edit.
    const int fd = ob::open_regular_file(target.path.c_str());
    if (fd < 0) return false;
    char* raw = nullptr;
    const bool read_ok = ob::kernel().fstat(fd, &target.st) == 0 &&
                         read_whole_file(fd, target.path.c_str(), target.st, raw, target.size);
    ob::kernel().close(fd);
    if (!read_ok) return false;
    target.contents.reset(raw);
    return true;
}

// The rename itself is made durable by flushing the directory that holds
// it; where that directory cannot be flushed, everything is.
void flush_directory_of(const char* path) {
    const int fd = ob::kernel().open(directory_of(path).c_str(), directory_flags);
    const bool flushed = fd >= 0 && ob::kernel().fsync(fd) == 0;
    if (fd >= 0) ob::kernel().close(fd);
    if (!flushed) ob::kernel().sync();
}

// Makes `path` hold exactly the concatenation of the given parts, atomically:
// temporary file in the same directory, written, given the old file's mode
// and owner (from `old`), flushed to the medium, renamed over `path`, the
// directory flushed. On any failure before the rename the temporary file is
// removed and `path` keeps its old contents.
struct FilePart {
    const char* data;
    size_t size;
};
bool rewrite_file(const char* path, const struct stat& old, const FilePart* parts, size_t count) {
    const std::string temporary = std::string(path) + new_file_suffix;
    // O_NOFOLLOW: a link planted under the temporary name must not redirect
    // the new contents somewhere else.
    int fd = ob::kernel().open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW,
                               old.st_mode & 07777);
    if (fd < 0) return false;
    bool ok = true;
    for (size_t i = 0; ok && i < count; ++i)
        ok = ob::write_all(fd, parts[i].data, parts[i].size);
    // The file-creation mask may have narrowed the mode given to open.
    ok = ok && ob::kernel().fchmod(fd, old.st_mode & 07777) == 0;
    ok = ok && ob::kernel().fchown(fd, old.st_uid, old.st_gid) == 0;
    ok = ok && ob::kernel().fsync(fd) == 0;
    ok = ob::kernel().close(fd) == 0 && ok;
    ok = ok && ob::kernel().rename(temporary.c_str(), path) == 0;
    if (!ok) {
        const int saved = errno;
        ob::kernel().unlink(temporary.c_str());
        errno = saved;
        return false;
    }
    flush_directory_of(path);
    return true;
}

// Every occurrence of `edit.text` in [begin, end) replaced, into `out`.
// False (out untouched) when there is nothing to replace: the text does not
// occur, or the contents hold the replacement already (patched before).
bool apply_edit(const char* begin, const char* end, const TextEdit& edit, std::string& out) {
    const size_t text_size = strlen(edit.text);
    const size_t replacement_size = strlen(edit.replacement);
    // An empty text occurs everywhere and would never let the search move on.
    if (text_size == 0) return false;
    if (find_bytes(begin, end, edit.replacement, replacement_size) != nullptr) return false;
    if (find_bytes(begin, end, edit.text, text_size) == nullptr) return false;
    std::string edited;
    const char* rest = begin;
    for (const char* hit; (hit = find_bytes(rest, end, edit.text, text_size)) != nullptr;
         rest = hit + text_size) {
        edited.append(rest, static_cast<size_t>(hit - rest));
        edited.append(edit.replacement, replacement_size);
    }
    edited.append(rest, static_cast<size_t>(end - rest));
    out.swap(edited);
    return true;
}

}  // namespace

void edit_file(const char* path, const TextEdit* edits, size_t count) {
    EditTarget target;
    if (!read_edit_target(path, target)) return;
    std::string contents(target.contents.get(), target.size);
    target.contents.reset();
    bool changed = false;
    for (size_t i = 0; i < count; ++i)
        changed =
            apply_edit(contents.data(), contents.data() + contents.size(), edits[i], contents) ||
            changed;
    if (!changed) return;
    const FilePart whole = {contents.data(), contents.size()};
    rewrite_file(target.path.c_str(), target.st, &whole, 1);
}

void remove_stale_temporary(const char* path) {
    std::string target;
    if (!resolve_edit_target(path, target)) return;
    const std::string temporary = target + new_file_suffix;
    struct stat st;
    if (ob::kernel().lstat(temporary.c_str(), &st) == 0 && !S_ISDIR(st.st_mode))
        ob::kernel().unlink(temporary.c_str());
}

int replace_in_file(const char* text, const char* replacement, const char* path) {
    const TextEdit edit = {text, replacement};
    edit_file(path, &edit, 1);
    return 0;
}

bool prepend_to_file(const char* text, const char* path) {
    EditTarget target;
    if (!read_edit_target(path, target)) return false;
    const FilePart parts[] = {{text, strlen(text)}, {target.contents.get(), target.size}};
    return rewrite_file(target.path.c_str(), target.st, parts, 2);
}

}  // namespace obinit
