// Temporary stand-ins until the image preparation and the maintenance
// commands land: an image boots unprepared, and a maintenance command ends
// after the start-up. This file goes away with them.
#include "kernel.h"
#include "obinit.h"

namespace obinit {

void prepare_image_root() {}

void run_maintenance(int) {
    ob::kernel().exit(0);
    __builtin_unreachable();  // the seam's exit does not return, but a virtual call hides that
}

}  // namespace obinit
