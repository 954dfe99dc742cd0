// The pieces of the menu screen and of the selection that the selection
// stage and the PIN stage share.
#pragma once

#include <stddef.h>

#include "menu_state.h"

namespace orbiel {

// The short separator of the key trace on standard error: 31 hyphens.
constexpr const char* short_separator = "-------------------------------\n";

// Text sizes of the menu (size codes of render_text).
constexpr int small_text = 1;  // 24 pixels
constexpr int large_text = 2;  // 48 pixels

// The time-out bar is drawn (/media/ob/.obprogress exists).
extern int show_progress;

// Ends text at its first space, tab or line feed (a carriage return stays).
void cut_at_blank(char* text);

// Baseline of entry k: entry 0 at 106, entry 12 at 658.
constexpr int entry_baseline(int k) { return 106 + 46 * k; }

// Model name, credit text and version along the top.
void draw_header();
// Redraws the time-out bar when the remaining whole seconds changed.
void draw_progress();
// Highlights entry k (label in yellow, the cursor in white) and shows its
// label on the front panel.
void mark_entry(const char* label, int k);
// Takes the highlight from entry k again.
void unmark_entry(const char* label, int k);

// Replaces the content of the selection file with text. The file is never
// created: without it the init program boots the flash image anyway.
void write_selection(const char* text);

// The flash image's framebuffer boot picture, when the flash root has one.
void show_flash_jpeg();

}  // namespace orbiel
