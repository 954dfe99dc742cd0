// What an interrupted obctl leaves on a medium (a power cut, Ctrl-C, an
// error while it unpacks or deletes an image), under hidden names the menu
// never lists, and how the next obctl finishes or undoes it.
#pragma once

#include <string>
#include <vector>

#include "dir_handle.h"
#include "medium_dir.h"

namespace obctl {

// An image being unpacked: only a complete one is renamed to its name.
constexpr const char* adding_prefix = ".obadd-";
// An image being replaced, until its successor has its name: ".obreplaced-NAME".
constexpr const char* replaced_prefix = ".obreplaced-";
// An image being removed: renamed first, so that a cut leaves no half image
// listed.
constexpr const char* removal_prefix = ".obremove-";

// The name "PREFIXN" in the image directory for the first N not in use.
std::string unused_hidden_name(const DirHandle& images, const char* prefix);

// Removes unfinished additions and removals (whatever they are), and puts
// back a replaced image whose successor never got its name. Returns what it
// did, one line each ("removed ob/.obadd-1, left by an interrupted obctl
// add").
std::vector<std::string> clean_leftovers(const Medium& medium);

}  // namespace obctl
