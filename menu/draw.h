// Drawing straight into the mapped framebuffer: boxes and the 20 x 20 dot.
//
// Three pixel formats are understood, chosen by the bits per pixel the driver
// granted: 32 (the colour bytes as they are), 16 (a luma plane and a
// Cb/Cr plane below it) and 8 (an index into the palette loaded at start).
// Every primitive stays inside the visible screen and the mapping.
#pragma once

#include "menu_state.h"

namespace orbiel {

// Fills every pixel with x0 <= x <= x1 and y0 <= y <= y1 (both corners
// inclusive); nothing when x1 < x0 or y1 < y0.
void fill_box(int x0, int y0, int x1, int y1, color c);

// The 20 x 20 filled disc with its top-left corner at (x, y).
void draw_dot(int x, int y, color c);

}  // namespace orbiel
