// Rules for the small control files on the boot medium: existence, reading a
// bounded value, cutting it at its first separator, and numbers.
#pragma once

#include <stddef.h>

namespace ob {

// A path "exists" when it opens for reading (a directory or a device node
// counts); it is closed again at once. A FIFO or a socket does not count.
// Nothing here ever waits: a FIFO left under a control file's name must not
// hold the box.
bool path_exists(const char* path);

// Opens path for reading, without waiting, and keeps it only when it is a
// regular file: the one kind of file whose bytes the programs read as
// content. Returns the descriptor (blocking again), or -1 with errno (EINVAL
// for anything but a regular file).
int open_regular_file(const char* path);

// True when path names a regular file (links followed). For files handed by
// name to a library that opens them itself.
bool is_regular_file(const char* path);

// Reads at most `limit` bytes (limit < size) of `path` into buf, always
// NUL-terminated. Returns the number of bytes read, or -1 when the file does
// not open or is not a regular file (buf is then the empty string).
long read_control_file(const char* path, char* buf, size_t size, size_t limit);

// Cuts text in place at the first of the characters in `separators`.
void cut_at_any(char* text, const char* separators);

// Separator sets: obinit also cuts at a carriage return; the menu's time-out
// file is cut only at its line feed.
constexpr const char* value_separators = " \t\n";
constexpr const char* init_value_separators = " \t\n\r";
constexpr const char* line_separator = "\n";

// obinit passes the box driver's settings on from the first word of at most
// this many bytes.
constexpr size_t box_setting_limit = 255;

// The decimal value of text as atoi() reads it (leading white space and a
// sign allowed, no digits gives 0), without atoi's overflow hazard: values out
// of the int range are clamped.
int control_number(const char* text);

}  // namespace ob
