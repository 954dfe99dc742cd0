// Deleting a tree from the medium without ever leaving it: a walk by
// directory handles that removes every name with unlinkat, follows no link,
// enters no mount point (a bind mount of the medium's own file system
// included, as `rm --one-file-system` leaves them) and takes any depth
// memory allows, since no path string grows with it.
#pragma once

#include <string>

#include "dir_handle.h"

namespace obctl {

// Deletes `name` in the directory `parent`: a directory with everything in
// it, or whatever else it is. A mount point in the tree is left in place,
// and so is what holds it. False with the first name left and why
// ("ob/.obremove-1/media/ob: a mount point; left in place").
bool remove_tree(const DirHandle& parent, const std::string& name, std::string& error);

}  // namespace obctl
