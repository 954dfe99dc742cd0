// Making an image directory on the medium the root of process 1 and handing
// over to the image's own init program.
#pragma once

#include "image_boot.h"

namespace obinit {

// What keeps obinit from switching into new_root (kind none: nothing).
ob::ImageBootProblem boot_problem(const char* new_root);

// 0 once process 1 runs inside new_root; 1 (after its message, nothing
// mounted) when new_root cannot be entered.
int switch_root(const char* new_root);
[[noreturn]] void start_image_init();

}  // namespace obinit
