// The boot menu: settings, image list, the menu screen, the selection stage
// and the boot picture.
#include "boot_menu.h"

#include <fcntl.h>
#include <stdio.h>
#include <string.h>

#include "boot_picture.h"
#include "control_file.h"
#include "countdown.h"
#include "draw.h"
#include "front_panel.h"
#include "image_list.h"
#include "input.h"
#include "kernel.h"
#include "logo.h"
#include "medium.h"
#include "menu_screen.h"
#include "menu_state.h"
#include "pin_lock.h"
#include "text.h"

namespace orbiel {

int show_progress = 0;

namespace {

int foreign_manager = 0;
int current_index = 0;

constexpr int shortest_timeout = 2;
constexpr int longest_timeout = 30;
constexpr int default_timeout = 10;

// Columns and rows of the time-out bar.
constexpr int bar_left = 40, bar_right = 60, bar_top = 69, bar_bottom = 669;
constexpr int band_right = 180;
constexpr int index_x = 130, cursor_x = 90, label_x = 200;
constexpr int label_width = 1000, index_width = 50;

// Entries 10 to 12 are chosen with the colour keys and marked in their colour.
const color colour_marks[] = {red, green, yellow};

void draw_label(int k, color c) {
    render_text(image_table[k], label_x, entry_baseline(k), label_width, 0, large_text, c);
}
void draw_cursor(int k, color c) {
    render_text(">", cursor_x, entry_baseline(k), label_width, 0, large_text, c);
}
void draw_boot_mark(int k, color c) {
    render_text("X", cursor_x, entry_baseline(k), label_width, 0, large_text, c);
}
void erase_bar() { fill_box(bar_left, bar_top, bar_right, bar_bottom, barcolor); }

void read_timeout() {
    char text[65];
    menu_timeout = default_timeout;
    if (ob::read_control_file(ob::timeout_file, text, sizeof text, 64) < 0) return;
    ob::cut_at_any(text, ob::line_separator);
    int seconds = ob::control_number(text);
    if (seconds < shortest_timeout) seconds = shortest_timeout;
    if (seconds > longest_timeout) seconds = longest_timeout;
    menu_timeout = seconds;
}

void read_settings() {
    read_timeout();
    show_progress = ob::path_exists(ob::progress_file) ? 1 : 0;
    foreign_manager = ob::path_exists(ob::foreign_manager_file) ? 1 : 0;
    // Written by tools outside Orbiel; the menu clears it at every start.
    if (ob::path_exists(ob::stale_boot_file)) ob::kernel().unlink(ob::stale_boot_file);
}

void print_settings(int xres, int yres) {
    ob::print_to(1, separator_line);
    ob::printf_to(1, "from: %i images boot: %i named: %s\n", image_count, default_index,
                  stored_selection);
    ob::print_to(1, separator_line);
    ob::printf_to(1, "Menu timeout %i sec\n", menu_timeout);
    if (show_progress) ob::print_to(1, "Progress timeout is shown\n");
    ob::print_to(1, "Picture Bootlogo is used\n");
    ob::printf_to(1, "Framebuffer resolution %i x %i\n", xres, yres);
    ob::print_to(1, separator_line);
}

void draw_entry(int k) {
    if (k < 10) {
        char index[12];
        snprintf(index, sizeof index, "%d", k);
        render_text(index, index_x, entry_baseline(k), index_width, 0, large_text, white);
    } else {
        draw_dot(index_x, entry_baseline(k) - 20, colour_marks[k - 10]);
    }
    if (k == default_index) draw_cursor(k, white);
    int y = entry_baseline(k);
    render_text(image_table[k], label_x - 1, y - 1, label_width, 0, large_text, black);
    render_text(image_table[k], label_x + 2, y + 2, label_width, 0, large_text, black);
    draw_label(k, k == default_index ? yellow : white);
}

void draw_menu_screen() {
    fill_box(0, 0, band_right, h, barcolor);
    draw_header();
    for (int k = 0; k <= image_count; ++k)
        draw_entry(k);
}

void finish_preview() {
    render_text(picturearg, w - 500, 600, 400, 0, large_text, yellow);
    render_text(fontarg, w - 500, 650, 400, 0, large_text, yellow);
    if (extra_arg) fill_box(bar_left, bar_top, bar_right, bar_bottom, white);
    ob::print_to(1, "finished viewing only\n");
    ob::print_to(1, separator_line);
    ob::kernel().sleep_us(1000000);
}

// ---- The selection stage ----

// Where a selection key moves the highlight: a fixed entry, or one of these.
constexpr int previous_entry = -1;
constexpr int next_entry = -2;
constexpr int last_entry = -3;

struct SelectionKey {
    int code;
    int entry;
    const char* message;
};

// The digit and colour keys select by position in the sorted list; a key
// whose entry is not in the list only renews the time-out.
const SelectionKey selection_keys[] = {
    {KEY_0, 0, "0 - selected %i %s\n"},
    {KEY_1, 1, "1 - selected %i %s\n"},
    {KEY_2, 2, "2 - selected %i %s\n"},
    {KEY_3, 3, "3 - selected %i %s\n"},
    {KEY_4, 4, "4 - selected %i %s\n"},
    {KEY_5, 5, "5 - selected %i %s\n"},
    {KEY_6, 6, "6 - selected %i %s\n"},
    {KEY_7, 7, "7 - selected %i %s\n"},
    {KEY_8, 8, "8 - selected %i %s\n"},
    {KEY_9, 9, "9 - selected %i %s\n"},
    {KEY_RED, 10, "RED = 10 - selected %i %s\n"},
    {KEY_GREEN, 11, "GREEN = 11 - selected %i %s\n"},
    {KEY_YELLOW, 12, "YELLOW = 12 - selected %i %s\n"},
    {KEY_UP, previous_entry, "UP   - selected %i %s\n"},
    {KEY_DOWN, next_entry, "DOWN - selected %i %s\n"},
    {KEY_LEFT, 0, "LEFT - selected %i %s\n"},
    {KEY_RIGHT, last_entry, "RIGHT - selected %i %s\n"},
};

int target_of(const SelectionKey& key_action) {
    switch (key_action.entry) {
        case previous_entry:
            return current_index == 0 ? image_count : current_index - 1;
        case next_entry:
            return current_index == image_count ? 0 : current_index + 1;
        case last_entry:
            return image_count;
        default:
            return key_action.entry;
    }
}

void select_entry(int e, const char* message) {
    unmark_entry(image_table[current_index], current_index);
    ob::printf_to(2, message, e, image_table[e]);
    mark_entry(image_table[e], e);
    current_index = e;
}

void boot_action() {
    int n = current_index;
    draw_label(n, green);
    draw_cursor(n, barcolor);
    if (show_progress) erase_bar();
    show_progress = 0;
    ob::printf_to(2, "OK   - booting %i %s\n", n, image_table[n]);
    ob::print_to(2, short_separator);
    if (n == default_index) {
        draw_boot_mark(n, green);
    } else {
        draw_boot_mark(n, foreign_manager ? white : green);
        char selection[label_size + 1];
        entry_name(n, selection, sizeof selection - 1);
        strcat(selection, "\n");
        write_selection(selection);
    }
    panel_show_name(image_table[n]);
    ob::kernel().sleep_us(1000000);
}

void keep_action() {
    int d = default_index;
    unmark_entry(image_table[current_index], current_index);
    draw_label(d, green);
    draw_cursor(d, barcolor);
    if (show_progress) erase_bar();
    show_progress = 0;
    ob::printf_to(2, "OK   - booting %i %s\n", d, image_table[d]);
    draw_boot_mark(d, green);
    ob::printf_to(2, "EXIT - continue booting %i %s\n", d, image_table[d]);
    ob::print_to(2, short_separator);
    panel_show_name(image_table[d]);
    ob::kernel().sleep_us(1000000);
    current_index = d;
}

// Acts on one key; true when the key ended the stage.
bool act_on_key(int code) {
    if (code == KEY_ENTER || code == KEY_OK) {
        boot_action();
        return true;
    }
    if (code == KEY_ESC || code == KEY_EXIT) {
        keep_action();
        return true;
    }
    for (const SelectionKey& key_action : selection_keys) {
        if (key_action.code != code) continue;
        int e = target_of(key_action);
        if (e <= image_count) select_entry(e, key_action.message);
        return false;
    }
    return false;
}

void selection_stage() {
    current_index = default_index;
    panel_show_name(image_table[current_index]);
    renew_deadline();
    for (;;) {
        int code = read_key();
        if (code != no_input) renew_deadline();
        if (deadline_passed()) {
            keep_action();
            return;
        }
        if (act_on_key(code)) return;
        draw_progress();
        wait_for_next_pass();
    }
}

}  // namespace

void cut_at_blank(char* text) { ob::cut_at_any(text, ob::value_separators); }

void draw_header() {
    char version[16];
    snprintf(version, sizeof version, "V%d.%d", version_major, version_minor);
    render_text(modelname, 200, 50, 200, 0, small_text, yellow);
    render_text(credit_text, w - 250, 50, 200, 0, small_text, yellow);
    render_text(version, 100, 50, 520, 0, small_text, red);
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
    render_text(label, label_x, entry_baseline(k), label_width, 0, large_text, yellow);
    draw_cursor(k, white);
}

void unmark_entry(const char* label, int k) {
    render_text(label, label_x, entry_baseline(k), label_width, 0, large_text, white);
    draw_cursor(k, barcolor);
}

void write_selection(const char* text) {
    int fd = ob::kernel().open(ob::selection_file, O_WRONLY | O_TRUNC);
    if (fd < 0) return;
    ob::print_to(fd, text);
    ob::kernel().close(fd);
}

int boot_menu(int width, int height) {
    shown_remaining = 0;
    read_settings();
    read_stored_selection();
    scan_images();
    find_preselection();
    print_settings(width, height);
    show_start_logo();
    if (!logo_arg) {
        open_input_devices();
        if (!pin_stage()) return 0;
    }
    draw_menu_screen();
    if (logo_arg) {
        finish_preview();
        return 0;
    }
    selection_stage();
    close_input_devices();
    show_boot_picture(image_table[current_index]);
    return 0;
}

}  // namespace orbiel
