// The boot menu: its settings, then its stages (start logo, PIN lock, menu
// screen, selection, boot picture).
#pragma once

namespace orbiel {

// Runs the menu on a screen of width x height pixels; returns 0.
int boot_menu(int width, int height);

}  // namespace orbiel
