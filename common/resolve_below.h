// Paths as a process whose root is some directory sees them.
#pragma once

#include <string>

namespace ob {

// The path `path` names as a process whose root is the directory `root` ("" for
// the running root) sees it, every link followed, into `resolved` (without
// the root prefix; "/" for the root itself). Absolute link targets start at
// that root and ".." stops there, as they would after a root switch. False
// when a name on the way is missing, a link cannot be read or the links do
// not end.
bool resolve_below(const std::string& root, const std::string& path, std::string& resolved);

}  // namespace ob
