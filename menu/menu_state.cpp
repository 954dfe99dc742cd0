#include "menu_state.h"

#include <string.h>

namespace orbiel {

char bootpicture[path_size];
char picturearg[name_size];
char font[path_size];
char fontarg[name_size];
int logo_arg;
int extra_arg;
color barcolor = {64, 64, 64, 0xFF};
char credit_text[credit_size];

struct utsname u;
const char* modelname = "";
int box_model = 1;
int has_display = 1;

int fb = -1;
struct fb_var_screeninfo var_screeninfo;
struct fb_fix_screeninfo fix_screeninfo;
uint8_t* fbmem;
size_t fbmem_len;
int w;
int h;

FT_Library library;
FTC_Manager manager;
FTC_SBitCache cache;
FT_Face face;
FTC_ImageTypeRec desc;
FTC_SBit sbit;
int use_kerning;
FT_UInt prev_glyphindex;
FT_Error error;

void reset_menu_state() {
    bootpicture[0] = picturearg[0] = font[0] = fontarg[0] = '\0';
    logo_arg = extra_arg = 0;
    barcolor = {64, 64, 64, 0xFF};
    credit_text[0] = '\0';
    memset(&u, 0, sizeof u);
    modelname = "";
    box_model = 1;
    has_display = 1;
    fb = -1;
    memset(&var_screeninfo, 0, sizeof var_screeninfo);
    memset(&fix_screeninfo, 0, sizeof fix_screeninfo);
    fbmem = nullptr;
    fbmem_len = 0;
    w = h = 0;
    library = nullptr;
    manager = nullptr;
    cache = nullptr;
    face = nullptr;
    memset(&desc, 0, sizeof desc);
    sbit = nullptr;
    use_kerning = 0;
    prev_glyphindex = 0;
    error = 0;
}

}  // namespace orbiel
