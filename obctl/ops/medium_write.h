// obctl's writes: only on the medium, never through a link that leads off
// it, every file replaced whole (a power cut leaves it old or new) and every
// change flushed before obctl reports it done.
#pragma once

#include <sys/types.h>

#include <string>

#include "medium_dir.h"

namespace obctl {

// The path as the user finds it on the medium ("obboot.ini", "ob/1/.obinfo").
std::string shown_path(const Medium& medium, const std::string& path);

// Makes the file at path hold exactly content, through a temporary and a
// rename, flushed with its directory; a link is followed to the file it
// names (keeping the link, like the menu's write of the selection), which
// keeps its mode and owner. A missing file is made with mode 0644. False
// with the reason when the file or its directory lies off the medium, it is
// not a regular file, or a step fails (the old contents then stay). A mode
// other than 0 is the file's mode afterwards, whatever it was.
bool write_medium_file(const Medium& medium, const std::string& path, const std::string& content,
                       std::string& error, mode_t mode = 0);

// Removes the file (or link) at path, the removal flushed; a missing one is
// no error.
bool remove_medium_file(const Medium& medium, const std::string& path, std::string& error);

// Makes a rename or removal in the directory that holds path durable.
void flush_directory(const std::string& path);

}  // namespace obctl
