// The menu screen: the accent band with the header, the image list with its
// cursor and marks, and the time-out bar. The selection stage and the PIN
// stage draw through these.
#pragma once

#include "menu_state.h"

namespace orbiel {

// The short separator of the key trace on standard error: 31 hyphens.
constexpr const char* short_separator = "-------------------------------\n";

// The time-out bar is drawn (/media/ob/.obprogress exists).
extern int show_progress;

// Baseline of entry k: entry 0 at 106, entry 12 at 658.
constexpr int entry_baseline(int k) { return 106 + 46 * k; }

// The accent band down the left edge with the model name, credit text and
// version along the top.
void draw_band_and_header();
// The whole list: band, header, every entry with its index or colour dot,
// the preselected one highlighted.
void draw_menu_screen();
// The preview's names of logo and font (and, with a third argument, the bar).
void draw_preview_marks();
// Redraws the time-out bar when the remaining whole seconds changed.
void draw_progress();

// Highlights entry k (label in yellow, the cursor in white) and shows its
// label on the front panel.
void mark_entry(const char* label, int k);
// Takes the highlight from entry k again.
void unmark_entry(const char* label, int k);
// Entry k chosen: label in green, cursor and bar gone, then the boot mark in
// mark_colour.
void mark_chosen(int k, color mark_colour);

}  // namespace orbiel
