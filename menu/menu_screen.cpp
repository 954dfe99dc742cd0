#include "menu_screen.h"

#include <stdio.h>

#include "countdown.h"
#include "draw.h"
#include "front_panel.h"
#include "image_list.h"
#include "text.h"

namespace orbiel {

int show_progress = 0;

namespace {

// Columns and rows of the time-out bar.
constexpr int bar_left = 40, bar_right = 60, bar_top = 69, bar_bottom = 669;
constexpr int index_x = 130, cursor_x = 90, label_x = 200;
constexpr int label_width = 1000, index_width = 50;

// Entries 10 to 12 are chosen with the colour keys and marked in their colour.
const color colour_marks[] = {red, green, yellow};

void draw_large(const char* text, int x, int k, int width, color c) {
    render_text(text, x, entry_baseline(k), width, align_left, large_text, c);
}
void draw_label(int k, color c) { draw_large(image_table[k], label_x, k, label_width, c); }
void draw_cursor(int k, color c) { draw_large(">", cursor_x, k, label_width, c); }

void draw_entry(int k) {
    if (k < 10) {
        char index[12];
        snprintf(index, sizeof index, "%d", k);
        draw_large(index, index_x, k, index_width, white);
    } else {
        draw_dot(index_x, entry_baseline(k) - 20, colour_marks[k - 10]);
    }
    if (k == default_index) draw_cursor(k, white);
    int y = entry_baseline(k);
    render_text(image_table[k], label_x - 1, y - 1, label_width, align_left, large_text, black);
    render_text(image_table[k], label_x + 2, y + 2, label_width, align_left, large_text, black);
    draw_label(k, k == default_index ? yellow : white);
}

}  // namespace

void draw_band_and_header() {
    fill_box(0, 0, band_right, h, barcolor);
    char version[16];
    snprintf(version, sizeof version, "V%d.%d", version_major, version_minor);
    render_text(modelname, 200, 50, 200, align_left, small_text, yellow);
    render_text(credit_text, w - 250, 50, 200, align_left, small_text, yellow);
    render_text(version, 100, 50, 520, align_left, small_text, red);
}

void draw_menu_screen() {
    draw_band_and_header();
    for (int k = 0; k <= image_count; ++k)
        draw_entry(k);
}

void draw_preview_marks() {
    render_text(picturearg, w - 500, 600, 400, align_left, large_text, yellow);
    render_text(fontarg, w - 500, 650, 400, align_left, large_text, yellow);
    if (extra_arg) fill_box(bar_left, bar_top, bar_right, bar_bottom, white);
}

void draw_progress() {
    if (!show_progress) return;
    int remaining = remaining_seconds();
    if (remaining == shown_remaining) return;
    int p = remaining * 100 / menu_timeout;
    fill_box(bar_left, bar_top, bar_right, bar_bottom - 6 * p, barcolor);
    fill_box(bar_left, bar_bottom - 6 * p, bar_right, bar_bottom, p < 31 ? yellow : white);
    shown_remaining = remaining;
}

void mark_entry(const char* label, int k) {
    panel_show_name(label);
    draw_large(label, label_x, k, label_width, yellow);
    draw_cursor(k, white);
}

void unmark_entry(const char* label, int k) {
    draw_large(label, label_x, k, label_width, white);
    draw_cursor(k, barcolor);
}

void mark_chosen(int k, color mark_colour) {
    draw_label(k, green);
    draw_cursor(k, barcolor);
    if (show_progress) fill_box(bar_left, bar_top, bar_right, bar_bottom, barcolor);
    show_progress = 0;
    draw_large("X", cursor_x, k, label_width, mark_colour);
}

}  // namespace orbiel
