// Unpacking an image into a directory on the medium as it was made: owners,
// modes, times, links, device nodes and extended attributes kept, nothing
// written outside the directory, the directory itself never replaced, and
// everything on the disk before it is reported done.
#pragma once

#include <signal.h>
#include <stdint.h>

#include <string>

#include "add_watch.h"
#include "dir_handle.h"
#include "image_source.h"

namespace obctl {

struct Unpacked {
    uint64_t bytes = 0;  // file data written
    uint64_t files = 0;  // entries made
};

// Writes every entry of source below the directory `tree` (empty, made by
// the caller), reads the source to its end, then flushes the file system.
// stop is polled between blocks: once it is set the unpack ends. False with
// the reason (the directory then holds part of the image).
bool unpack_into(ImageSource& source, const DirHandle& tree, AddWatch& watch,
                 const volatile sig_atomic_t& stop, Unpacked& made, std::string& error);

}  // namespace obctl
