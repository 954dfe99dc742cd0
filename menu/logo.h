// Full-screen JPEG pictures: the framebuffer mode follows the picture's size
// and the display hardware scales it to the video output.
#pragma once

namespace orbiel {

// Shows the picture at path. 0 when shown (w and h then hold its size); 1 on
// any failure, with the reason on standard error.
int show_jpeg(const char* path);

// Makes the graphics plane opaque and shows the start logo (or, in preview
// mode, the logo given on the command line with the accent band). Returns 0.
int show_start_logo();

}  // namespace orbiel
