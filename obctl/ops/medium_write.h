// obctl's writes: only on the medium, through directory handles that never
// follow a link the medium or an image does not mean, every file replaced
// whole (a power cut leaves it old or new) and every change flushed before
// obctl reports it done.
#pragma once

#include <sys/types.h>

#include <string>

#include "dir_handle.h"
#include "medium_dir.h"

namespace obctl {

// The path as the user finds it on the medium ("obboot.ini", "ob/1/.obinfo").
std::string shown_path(const Medium& medium, const std::string& path);

// Makes the medium's own file at `relative` ("obboot.ini", "bin/orbiel")
// hold exactly content, through a temporary and a rename, flushed with its
// directory. A link there is followed to the file it names (keeping the
// link, as the menu writes the selection) while it stays on the medium; the
// file keeps its mode and owner. A missing file is made with mode 0644. False
// with the reason when the file or its directory lies off the medium, it is
// not a regular file, or a step fails (the old contents then stay). A mode
// other than 0 is the file's mode afterwards, whatever it was.
bool write_medium_file(const Medium& medium, const std::string& relative,
                       const std::string& content, std::string& error, mode_t mode = 0);

// The same for the file `name` in an image's directory, where nothing is
// followed: a link of that name is replaced by the file.
bool write_file_in(const DirHandle& dir, const std::string& name, const std::string& content,
                   std::string& error, mode_t mode = 0);

// Removes the medium's own file (or link) at `relative`, the removal
// flushed; a missing one is no error.
bool remove_medium_file(const Medium& medium, const std::string& relative, std::string& error);

// Makes a rename or removal in the directory durable.
void flush_directory(const DirHandle& dir);

}  // namespace obctl
