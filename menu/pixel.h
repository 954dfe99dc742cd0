// Pixel writers for the three framebuffer formats.
//
// A primitive converts its colour and picks the writer for the current mode
// once, then hands it clipped horizontal spans. The drawable area is the part
// of the visible screen that lies inside the mapping, so no span can reach
// outside the mapped memory whatever the driver granted.
#pragma once

#include <stdint.h>

#include "menu_state.h"

namespace orbiel {

struct pixel_writer {
    uint8_t* mem;
    size_t line;       // bytes per row
    size_t plane;      // byte offset of the chroma plane (16 bits per pixel)
    int width;         // drawable columns
    int height;        // drawable rows
    uint8_t value[4];  // the colour converted for the format
    // Writes columns x0..x1 (inclusive, inside the area) of row y.
    void (*span)(const pixel_writer& pw, int x0, int x1, int y);
    // Writes columns x0..x1 of rows y0..y1 (inside the area).
    void (*rect)(const pixel_writer& pw, int x0, int x1, int y0, int y1);

    // Clips x0..x1 of row y to the area and writes what is left.
    void clipped_span(int x0, int x1, int y) const {
        if (y < 0 || y >= height) return;
        if (x0 < 0) x0 = 0;
        if (x1 >= width) x1 = width - 1;
        if (x0 <= x1) span(*this, x0, x1, y);
    }

    // Fills columns x0..x1 of rows y0..y1, clipped.
    void clipped_rect(int x0, int y0, int x1, int y1) const {
        if (y0 < 0) y0 = 0;
        if (y1 >= height) y1 = height - 1;
        if (x0 < 0) x0 = 0;
        if (x1 >= width) x1 = width - 1;
        if (x0 > x1 || y0 > y1) return;
        rect(*this, x0, x1, y0, y1);
    }
};

// The writer for colour c in the current mode; false (nothing to draw) for an
// unknown format or without a mapping.
bool make_pixel_writer(color c, pixel_writer& pw);

// The conversions of the 16- and 8-bit formats.
void color_to_yuv(color c, uint8_t yuv[3]);
uint8_t color_to_index(color c);

}  // namespace orbiel
