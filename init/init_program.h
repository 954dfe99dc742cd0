// The programs of a root file system that obinit hands process 1 over to,
// and the ones around them that it links or looks for.
#pragma once

#include "image_boot.h"

namespace obinit {

// The init programs of a root, in order of preference (image_boot.h).
using ob::plain_init;
using ob::self_mounting_inits;

constexpr const char* obinit_program = "/sbin/obinit";
// Roots managed by mdev (busybox) run it as the kernel's hotplug helper.
constexpr const char* mdev_program = "/sbin/mdev";

// Executes the running root's init program: the first of the self-mounting
// ones that exists, else /sbin/init. When that fails, obinit's one hard stop.
[[noreturn]] void start_init();

// Whether the running root holds the kernel file of the box model.
bool kernel_image_present();

}  // namespace obinit
