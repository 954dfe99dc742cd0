// The names and labels obctl gives images: only those the menu lists whole
// and writes back to obboot.ini unchanged.
#pragma once

#include <string>

namespace obctl {

// Why name cannot be a new image's directory name ("\"my image\": image
// name holds a blank, ..."); empty when it can.
std::string refused_image_name(const std::string& name);

// Why text cannot be an image's label (the first word of its .obinfo, shown
// as "N (TEXT)" for the numbered images); empty when it can.
std::string refused_label(const std::string& text);

}  // namespace obctl
