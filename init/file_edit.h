// Editing the files of an image in place.
//
// The mount table and the systemd units of an image are files the image needs
// to boot, on a medium that may lose power at any moment. Every edit is
// therefore made by writing the complete new contents to a temporary file next
// to the old one and renaming it over the old one: after a power cut the file
// holds either its old or its new contents, never a part of either. All edits
// of one file are made in memory and written by one such replace, so a file
// is never left between two of its edits; the rename is flushed to the medium
// before the edit returns.
#pragma once

#include <stddef.h>

namespace obinit {

// Files larger than this are left unedited (with a message): they are read
// whole into process 1's memory.
constexpr size_t edit_size_limit = 1024 * 1024;

// One replacement: every occurrence of `text` by `replacement`, unless the
// contents already hold `replacement` anywhere (patched before). Matching is
// byte-exact.
struct TextEdit {
    const char* text;
    const char* replacement;
};

// Applies the edits in turn to the contents of the file at `path`, each to
// the result of the ones before, and writes the result once when any of
// them changed something. A missing or unreadable file stays untouched.
void edit_file(const char* path, const TextEdit* edits, size_t count);

// Replaces every occurrence of `text` in the file at `path` by `replacement`,
// unless the file already contains `replacement` anywhere (patched before).
// Matching is byte-exact. A missing or unreadable file, or one without
// `text`, stays untouched. Returns 0 in every case.
int replace_in_file(const char* text, const char* replacement, const char* path);

// Puts `text` in front of the contents of the file at `path`. False when the
// file cannot be read or rewritten (it then keeps its old contents).
bool prepend_to_file(const char* text, const char* path);

// The temporary file an edit of `path` writes, left by a power cut during an
// earlier edit: removed (the file itself is whole, old or new).
void remove_stale_temporary(const char* path);

// All of these act on the file that `path` finally names when it is a symbolic link (or
// a chain of them; relative targets are taken from the link's own
// directory), and leave it alone when a link cannot be read, the chain does
// not end, or the file is no regular file.

}  // namespace obinit
