// The start logo and the font as the menu's own libraries take them: the
// JPEG header through libjpeg, the face through FreeType.
#pragma once

#include <string>

#include "medium_dir.h"

namespace obctl {

// Why the menu would not show the medium's start logo, in the menu's words;
// empty when it would.
std::string start_logo_problem(const Medium& medium);

// Why the menu would not come up with the medium's font, in its words;
// empty when it would.
std::string font_problem(const Medium& medium);

}  // namespace obctl
