// The choice of image as obctl stores it: in obboot.ini (at every start) or
// .oboneshot (at the next start only), written as the menu writes it.
#pragma once

#include <string>

#include "medium_dir.h"

namespace obctl {

// Whether name may be stored as a choice: Flash, or an image on the medium
// (a directory with a .obinfo) that obinit would boot, under a name it reads
// back whole. The reason when not.
bool choosable(const Medium& medium, const std::string& name, std::string& why);

// Stores name and a line feed in the choice file at box_path.
bool store_choice(const Medium& medium, const char* box_path, const std::string& name,
                  std::string& error);

}  // namespace obctl
