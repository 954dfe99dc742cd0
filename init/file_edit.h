// Editing the files of an image in place.
//
// The mount table and the systemd units of an image are files the image needs
// to boot, on a medium that may lose power at any moment. Every edit is
// therefore made by writing the complete new contents to a temporary file next
// to the old one and renaming it over the old one: after a power cut the file
// holds either its old or its new contents, never a part of either.
#pragma once

namespace obinit {

// Replaces every occurrence of `text` in the file at `path` by `replacement`,
// unless the file already contains `replacement` anywhere (patched before).
// Matching is byte-exact. A missing or unreadable file, or one without
// `text`, stays untouched. Returns 0 in every case.
int replace_in_file(const char* text, const char* replacement, const char* path);

// Puts `text` in front of the contents of the file at `path`. False when the
// file cannot be read or rewritten (it then keeps its old contents).
bool prepend_to_file(const char* text, const char* path);

// Both edit the file that `path` finally names when it is a symbolic link (or
// a chain of them; relative targets are taken from the link's own
// directory), and leave it alone when a link cannot be read, the chain does
// not end, or the file is no regular file.

}  // namespace obinit
