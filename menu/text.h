// Menu text: one TrueType font through the FreeType small-bitmap cache,
// drawn as 1-bit glyphs in a single colour, placed by its baseline.
#pragma once

#include "menu_state.h"

namespace orbiel {

// Size codes of the text calls: 0 = 32, 1 = 24, 2 = 48, 3 = 64 pixels; any
// other code keeps the size of the previous call.
void set_text_size(int size_code);
constexpr int small_text = 1;  // 24 pixels, the menu's header
constexpr int large_text = 2;  // 48 pixels, the menu's entries

// Alignment codes of render_text within its width.
constexpr int align_left = 0;
constexpr int align_centre = 1;
constexpr int align_right = 2;

// Handed to the cache manager: opens the face whose id is the font path.
FT_Error face_requester(FTC_FaceID face_id, FT_Library lib, FT_Pointer request_data,
                        FT_Face* aface);

// Draws one character with the pen at sx and the baseline at sy. Returns the
// advance in pixels, 0 when the character has no glyph or the lookup failed,
// -1 when the glyph would reach the right limit ex (nothing drawn).
int render_glyph(char ch, int sx, int sy, int ex, color c);

// Width in pixels of text at the size code, kerning included.
int text_width(const char* text, int size_code);

// Draws text up to its end or first line feed, starting at x with the
// baseline at y, cut at x + width, aligned by one of the codes above.
void render_text(const char* text, int x, int y, int width, int align, int size_code, color c);

// The kerning in pixels between the glyph of the previous call (0: none)
// and this one at the size in desc, which it remembers for the next call;
// 0 for a font without kerning. Shared with the front panel.
int kerning_before(FT_UInt index);

// What set_up_font reports when a step fails: printf formats taking the
// FreeType error number.
struct FontMessages {
    const char* init;
    const char* manager;
    const char* cache;
    const char* face;
};
// Builds a FreeType chain (library, cache manager, small-bitmap cache, face)
// on the font at path beside the current one. Complete, it replaces (and
// releases) the current chain; after a failed step, reported with its
// message, the current chain stays and false comes back.
bool set_up_font(const char* path, const FontMessages& messages);

// The menu font chain of the entry, with its German messages.
bool menu_font_init();
// Releases the current manager and library.
void menu_font_done();

}  // namespace orbiel
