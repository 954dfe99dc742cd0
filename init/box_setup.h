// Preparing the box for the menu: kernel modules, the box driver's settings
// from the medium, and the menu program itself.
#pragma once

namespace obinit {

// "modprobe dreambox_rc2" and the model's modules.
void load_box_modules();
// Video mode, colour format and remote-control mask.
void apply_box_settings();
// Runs the menu; its one result is the selection file on the medium.
void run_menu();

}  // namespace obinit
