// Editing the files of an image in place.
//
// The mount table and the systemd units of an image are files the image needs
// to boot, on a medium that may lose power at any moment. Every edit is
// therefore made by writing the complete new contents to a temporary file next
// to the old one and renaming it over the old one: after a power cut the file
// holds either its old or its new contents, never a part of either.
#pragma once

#include <stddef.h>
#include <sys/stat.h>

#include <memory>
#include <string>

namespace obinit {

// The first occurrence of the `length` bytes of `pattern` lying wholly within
// [start, end), or nullptr. An occurrence ending exactly at `end` counts.
const char* find_bytes(const char* start, const char* end, const char* pattern, size_t length);

// Replaces every occurrence of `text` in the file at `path` by `replacement`,
// unless the file already contains `replacement` anywhere (patched before).
// Matching is byte-exact. A missing or unreadable file, or one without
// `text`, stays untouched. Returns 0 in every case.
int replace_in_file(const char* text, const char* replacement, const char* path);

// The file an edit of `path` must change: `path` itself, or, where `path` is
// a symbolic link (or a chain of them), the file it finally points to;
// relative targets are taken from the link's own directory. False when a link
// cannot be read or the chain does not end.
bool resolve_edit_target(const char* path, std::string& target);

// The file an edit of `path` acts on (see resolve_edit_target), read whole:
// its name, its status and every byte of it.
struct EditTarget {
    std::string path;
    struct stat st;
    std::unique_ptr<char[]> contents;
    size_t size = 0;
};
// False when the name cannot be resolved, or the file is no regular file,
// does not open, or cannot be read completely.
bool read_edit_target(const char* path, EditTarget& target);

// Makes `path` hold exactly the concatenation of the given parts, atomically:
// temporary file in the same directory, written, given the old file's mode
// and owner (from `old`), flushed to the medium, renamed over `path`. On any
// failure the temporary file is removed and `path` keeps its old contents.
struct FilePart {
    const char* data;
    size_t size;
};
bool rewrite_file(const char* path, const struct stat& old, const FilePart* parts, size_t count);

// Removes a name: unlinks it, and removes it as a directory when it is one.
// The result is not reported; callers go on either way.
void remove_path(const char* path);

}  // namespace obinit
