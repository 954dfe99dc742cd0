// Whether a directory named as an image's source overlaps the medium: a
// directory that is the medium's top or its image directory, holds one of
// them, or lies in one of them, would take in the image being made as it is
// copied (or copy the medium into itself). Told by device and inode, and
// through bind mounts, never by the text of paths.
#pragma once

#include <string>

#include "medium_dir.h"

namespace obctl {

// Why the directory at path cannot be a source; "" when it can.
std::string source_overlap(const Medium& medium, const std::string& path);

}  // namespace obctl
