#include "file_edit.h"

#include <errno.h>
#include <fcntl.h>
#include <stdint.h>
#include <string.h>
#include <sys/stat.h>

#include <memory>
#include <new>
#include <string>

#include "control_file.h"
#include "file_replace.h"
#include "kernel.h"

namespace obinit {

namespace {

// The first occurrence of the `length` bytes of `pattern` lying wholly within
// [start, end), or nullptr. An occurrence ending exactly at `end` counts.
const char* find_bytes(const char* start, const char* end, const char* pattern, size_t length) {
    if (start == nullptr || end == nullptr || end < start) return nullptr;
    for (const char* p = start; static_cast<size_t>(end - p) >= length; ++p) {
        if (memcmp(p, pattern, length) == 0) return p;
    }
    return nullptr;
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
    if (!ob::resolve_link_chain(path, target.path)) return false;
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
    const ob::FilePart whole = {contents.data(), contents.size()};
    ob::replace_file(target.path.c_str(), target.st, &whole, 1);
}

void remove_stale_temporary(const char* path) { ob::remove_stale_replace(path); }

int replace_in_file(const char* text, const char* replacement, const char* path) {
    const TextEdit edit = {text, replacement};
    edit_file(path, &edit, 1);
    return 0;
}

bool prepend_to_file(const char* text, const char* path) {
    EditTarget target;
    if (!read_edit_target(path, target)) return false;
    const ob::FilePart parts[] = {{text, strlen(text)}, {target.contents.get(), target.size}};
    return ob::replace_file(target.path.c_str(), target.st, parts, 2);
}

}  // namespace obinit
