// orbiel's program-wide state.
//
// The menu program is one pass over plain globals: the entry sets them up
// (framebuffer, mode, mapping, FreeType, configuration) and every drawing,
// text, logo and menu operation reads them. One instance each; nothing is
// shared with any other process.
#pragma once

#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_CACHE_H
#include <linux/fb.h>
#include <stddef.h>
#include <stdint.h>
#include <sys/utsname.h>

namespace orbiel {

// A colour as the 32-bit mode stores it: red, green, blue, alpha bytes in
// memory order (alpha 0 is transparent, 255 opaque).
struct color {
    uint8_t r, g, b, a;
};

constexpr color white = {0xFF, 0xFF, 0xFF, 0xFF};
constexpr color transparent = {0x00, 0x00, 0x00, 0x00};
constexpr color green = {0x0F, 0xFF, 0x0F, 0xFF};
constexpr color yellow = {0xFF, 0xFF, 0x0F, 0xFF};
constexpr color red = {0xFF, 0x00, 0x00, 0xFF};
constexpr color black = {0x00, 0x00, 0x00, 0xFF};

// Shown as V12.45 in the banner and on the menu screen.
constexpr int version_major = 12;
constexpr int version_minor = 45;
// The stamp of the release this program reproduces, not of the local build.
constexpr const char* build_date = "Dec 24 2016";
constexpr const char* build_time = "13:48:48";

// The 44-hyphen separator of the log, with its line feed.
constexpr const char* separator_line = "--------------------------------------------\n";

// Buffer sizes of the names; a name that does not fit is refused.
constexpr size_t path_size = 120;
constexpr size_t name_size = 60;
constexpr size_t credit_size = 18;  // the 17-character credit text and its NUL

// ---- Configuration and arguments ----
extern char bootpicture[path_size];  // full path of the logo picture
extern char picturearg[name_size];   // logo name as given on the command line
extern char font[path_size];         // full path of the menu font; also the FreeType face id
extern char fontarg[name_size];      // font name as given on the command line
extern int logo_arg;                 // 1: started with a logo to preview
extern int extra_arg;                // 1: a third argument was given
extern color barcolor;               // accent colour {v, v, v, 255}
// The accent band down the left edge of the menu covers columns 0 to 180.
constexpr int band_right = 180;
extern char credit_text[credit_size];

// ---- Box ----
extern struct utsname u;
extern const char* modelname;  // release from its first "dm" on; "" when it has none
extern int box_model;          // 1 dm7080, 2 dm820, 3 dm520 family, 4 dm900
extern int has_display;        // 0 on the dm520 family (no front panel)

// ---- Framebuffer ----
extern int fb;
extern struct fb_var_screeninfo var_screeninfo;
extern struct fb_fix_screeninfo fix_screeninfo;
extern uint8_t* fbmem;    // start of the current mapping, nullptr when none
extern size_t fbmem_len;  // bytes mapped at fbmem (the memory length at mapping time)
extern int w;             // size of the last picture shown; 0 until the first
extern int h;

// ---- FreeType (menu text; the front panel replaces these objects) ----
extern FT_Library library;
extern FTC_Manager manager;
extern FTC_SBitCache cache;
extern FT_Face face;
extern FTC_ImageTypeRec desc;
extern FTC_SBit sbit;
extern int use_kerning;
extern FT_UInt prev_glyphindex;
extern FT_Error error;

// Puts every global back to its initial value (the program runs once per
// process; tests run it many times).
void reset_menu_state();

}  // namespace orbiel
