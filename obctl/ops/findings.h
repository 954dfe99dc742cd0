// Every rule obinit and the menu apply to a medium and to its images, each
// finding reported once, in the words the programs use.
#pragma once

#include <string>
#include <vector>

#include "medium_dir.h"
#include "medium_info.h"
#include "medium_view.h"

namespace obctl {

enum class Severity {
    error,    // an image or the medium would not boot
    warning,  // the programs ignore, clamp or cut something, or miss a file
    note,     // what obinit will do by itself
};
const char* severity_name(Severity severity);

struct Finding {
    Severity severity;
    std::string subject;  // where: "ob/img1", ".obtimeout", "medium"
    std::string text;
};

// The rules of the medium itself: its file system, label and features, the
// menu's files, the control files and the choice.
std::vector<Finding> medium_findings(const Medium& medium, const MediumView& view,
                                     const MediumInfo& info);

// The rules of the medium's volume: its file system, its label, the
// features the boxes' kernels mount. Nothing when no mount holds it.
void file_system_findings(const MediumInfo& info, std::vector<Finding>& found);

// The rules of one image: listed or why not, bootable or why not, what
// obinit will make in it. An image that would not boot is an error when the
// menu lists it, the choice names it or the user asked about it (`named`).
std::vector<Finding> image_findings(const Medium& medium, const MediumView& view,
                                    const ImageState& image, bool named = false);

// One line each on standard output: "warning  ob/img1: ...".
void print_findings(const std::vector<Finding>& found);

}  // namespace obctl
