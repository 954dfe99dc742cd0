// Menu text: one TrueType font through the FreeType small-bitmap cache,
// drawn as 1-bit glyphs in a single colour, placed by its baseline.
#pragma once

#include "menu_state.h"

namespace orbiel {

// Size codes of the text calls: 0 = 32, 1 = 24, 2 = 48, 3 = 64 pixels; any
// other code keeps the size of the previous call.
void set_text_size(int size_code);

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
// baseline at y, cut at x + width. align: 0 left, 1 centred, 2 right.
void render_text(const char* text, int x, int y, int width, int align, int size_code, color c);

// The menu font chain of the entry (library, manager, cache, face, desc,
// kerning flag), with its German messages. Returns false after a failure,
// with what was created released.
bool menu_font_init();
// Releases the current manager and library.
void menu_font_done();

}  // namespace orbiel
