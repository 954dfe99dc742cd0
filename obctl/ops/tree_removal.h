// Deleting an image tree from the medium without ever leaving it.
#pragma once

#include <sys/types.h>

#include <string>

namespace obctl {

// Deletes the directory at path and everything in it. Links are removed,
// never followed; a directory of another file system (a mount point in the
// tree) is left, and so is what holds it. False with the first path left
// and why.
bool remove_tree(const std::string& path, std::string& error);

}  // namespace obctl
