// The device nodes that obinit, the menu and a booted image need before any
// device manager runs.
#pragma once

#include <sys/types.h>

namespace obinit {

// The flash nodes (before /proc and the medium).
void make_mtd_nodes();
// Everything else: eMMC and card, tuners, input, framebuffer, front panel.
void make_device_nodes();

// One node with exactly mode (the creation mask cleared first); mknod's
// result.
int make_node(const char* path, mode_t mode, unsigned major, unsigned minor);

// Removes a name: unlinks it, and removes it as a directory when it is one.
// The result is not reported; callers go on either way.
void remove_path(const char* path);

}  // namespace obinit
