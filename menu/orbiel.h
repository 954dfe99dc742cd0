// orbiel's entry: banner, settings, arguments, box model, framebuffer and
// font set-up, the boot menu, tear-down.
#pragma once

namespace orbiel {

// What main() does; returns the exit status (0 after every failure it
// reports itself).
int orbiel_main(int argc, char** argv);

}  // namespace orbiel
