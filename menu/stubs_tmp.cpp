// Temporary bodies so that the interfaces link while they are built.
#include "draw.h"
#include "framebuffer.h"
#include "logo.h"
#include "orbiel.h"
#include "text.h"

namespace orbiel {

void fill_box(int, int, int, int, color) {}
void draw_dot(int, int, color) {}
void set_manual_blit() {}
void set_text_size(int) {}
FT_Error face_requester(FTC_FaceID, FT_Library, FT_Pointer, FT_Face*) { return 1; }
int render_glyph(char, int, int, int, color) { return 0; }
int text_width(const char*, int) { return 0; }
void render_text(const char*, int, int, int, int, int, color) {}
bool menu_font_init() { return false; }
void menu_font_done() {}
int show_jpeg(const char*) { return 1; }
int show_start_logo() { return 0; }
bool read_fixed_info() { return false; }
bool read_variable_info() { return false; }
bool put_mode(int, int) { return false; }
bool map_framebuffer() { return false; }
void unmap_framebuffer() {}
void clear_framebuffer(size_t) {}
int orbiel_main(int, char**) {
    reset_menu_state();
    return 0;
}

}  // namespace orbiel
