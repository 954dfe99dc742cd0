// The selected image's name on the box's front-panel display.
//
// Every update renders the text afresh with FreeType into an off-screen
// 8-bit buffer, packs a fixed 128 x 64 window of it into 4-bit pixels and
// writes the 4096-byte frame to /dev/dbox/oled0 in one piece.
#pragma once

#include <stdint.h>

namespace orbiel {

constexpr const char* panel_device = "/dev/dbox/oled0";
// One frame of the panel: 64 rows of 64 bytes, two 4-bit pixels a byte, the
// left one in the high nibble.
constexpr int panel_frame_size = 4096;

// The off-screen buffer of the update in progress.
extern int lcdfd;
extern int _xres, _yres, _bpp, _stride;
extern uint8_t* _buffer;

// Shows name on the panel. 1 when shown as it is; 0 when "Flash" was shown
// (for every name beginning with Flash) or the box has no panel.
int panel_show_name(const char* name);

// Renders text at pen x and baseline y into a width x height buffer and
// sends it to the panel.
void lcd_text(int x, int y, const char* text, int width, int height);

// The front-panel FreeType chain, always on the default font. On success the
// new objects replace (and release) the menu's; on failure the current ones
// stay.
void lcd_font_init();

void lcd_render_text(const char* text, int x, int y, int width, int align, int size, int red,
                     int green, int blue);
// Advance in pixels; 0 for a missing glyph or a failed lookup; -1 when it
// does not fit. red = -1 only measures.
int lcd_render_glyph(unsigned char ch, int sx, int sy, int ex, int red, int green, int blue);
int lcd_text_width(const char* text);
// Packs buffer columns 2..129 of rows 0..63 into one frame and writes it.
void lcd_flush(int width, int height);

uint8_t rgb332(int r, int g, int b);

}  // namespace orbiel
