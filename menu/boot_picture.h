// The chosen image's boot picture: the MPEG still on the video plane and the
// JPEG on the framebuffer, left standing for the image's own start.
#pragma once

namespace orbiel {

// The flash image's framebuffer boot picture, when the flash root has one.
void show_flash_jpeg();

// Shows the boot picture of the entry with this label (the flash root's for
// every label beginning with Flash, else the image directory's).
void show_boot_picture(const char* label);

}  // namespace orbiel
