#include "pin_lock.h"

#include <fcntl.h>
#include <stdio.h>
#include <string.h>

#include "boot_picture.h"
#include "control_file.h"
#include "countdown.h"
#include "image_list.h"
#include "input.h"
#include "kernel.h"
#include "logo.h"
#include "medium.h"
#include "menu_screen.h"
#include "menu_settings.h"
#include "pin_digest.h"
#include "text.h"

namespace orbiel {

namespace {

constexpr int max_digits = 4;
constexpr int allowed_attempts = 3;
constexpr int field_width = 200;
constexpr int field_x = 100;
constexpr int label_x = 85;
constexpr int label_baseline = 665;

// The field fills upwards from the label: the first digit at 565, the
// fourth at 115.
constexpr int place_baseline(int place) { return 715 - 150 * place; }

struct FieldColours {
    color label;
    color places;
};

FieldColours colours_of(PinField state) {
    switch (state) {
        case PinField::accepted:
            return {green, green};
        case PinField::rejected:
            return {red, red};
        case PinField::idle:
            break;
    }
    return {white, barcolor};  // idle: the places are erased
}

void draw_place(int place, color c) {
    render_text("*", field_x, place_baseline(place), field_width, align_left, large_text, c);
}

// The code of a digit key as its digit: KEY_1..KEY_9 are 2..10, KEY_0 is 11.
int digit_of(int code) {
    if (code >= KEY_1 && code <= KEY_9) return code - KEY_1 + 1;
    if (code == KEY_0) return 0;
    return -1;
}

bool is_exit_key(int code) { return code == KEY_ESC || code == KEY_EXIT; }
bool is_ok_key(int code) { return code == KEY_ENTER || code == KEY_OK; }

// The attempt in progress.
struct Entry {
    int value = 0;   // entered_pin
    int digits = 0;  // digit_count
    int wrong = 0;   // attempts
};

void type_digit(Entry& entry, int digit) {
    entry.value = entry.value * 10 + digit;
    entry.digits += 1;
    if (entry.digits > max_digits) {
        // A fifth digit starts a new entry.
        draw_pin_field(PinField::idle);
        entry.digits = 1;
        entry.value = digit;
    }
    draw_place(entry.digits, white);
}

void leave_without_pin() {
    ob::print_to(2, "EXIT without PIN - continue booting\n");
    ob::print_to(2, short_separator);
    close_input_devices();
}

void give_up_to_flash() {
    // Where Flash cannot be stored, the init program boots what is.
    if (write_selection("Flash\n") || strcmp(stored_selection, ob::flash_name) == 0)
        ob::print_to(2, "PIN 3 times wrong - continue booting Flash\n");
    else
        ob::printf_to(2, "PIN 3 times wrong - Flash not stored, continue booting %s\n",
                      stored_selection);
    ob::print_to(2, short_separator);
    close_input_devices();
    draw_pin_field(PinField::rejected);
    ob::kernel().sleep_us(1000000);
    show_flash_jpeg();
}

enum class Outcome { go_on, accepted, end_menu };

Outcome check_entry(Entry& entry, const char* stored) {
    draw_pin_field(PinField::idle);
    if (gcheck(stored, entry.value) == 1) {
        draw_pin_field(PinField::accepted);
        ob::kernel().sleep_us(1000000);
        show_start_logo();  // covers the field before the list is drawn
        return Outcome::accepted;
    }
    entry.wrong += 1;
    if (entry.wrong >= allowed_attempts) {
        give_up_to_flash();
        return Outcome::end_menu;
    }
    ob::print_to(2, "PIN wrong - continue trying\n");
    draw_pin_field(PinField::rejected);
    ob::kernel().sleep_us(1000000);
    draw_pin_field(PinField::idle);
    entry.value = 0;
    entry.digits = 0;
    return Outcome::go_on;
}

Outcome act_on_key(int code, Entry& entry, const char* stored) {
    int digit = digit_of(code);
    if (digit >= 0) {
        type_digit(entry, digit);
        return Outcome::go_on;
    }
    if (is_exit_key(code)) {
        leave_without_pin();
        draw_pin_field(PinField::rejected);
        ob::kernel().sleep_us(1000000);
        return Outcome::end_menu;
    }
    if (is_ok_key(code)) return check_entry(entry, stored);
    return Outcome::go_on;
}

}  // namespace

void draw_pin_field(PinField state) {
    FieldColours colours = colours_of(state);
    render_text("PIN", label_x, label_baseline, field_width, align_left, large_text, colours.label);
    for (int place = 1; place <= max_digits; ++place)
        draw_place(place, colours.places);
}

int gcheck(const char* stored, int value) {
    char hex[ob::pin_digest_digits + 1];
    ob::pin_digest(value, hex);
    return strncmp(stored, hex, ob::pin_digest_digits) == 0 ? 1 : 0;
}

bool pin_stage() {
    // The lock holds whenever a lock file is there, also on a medium mounted
    // read-only; the digest is only read. A file that cannot be read keeps an
    // empty digest, which no PIN matches. Anything but a regular file (a FIFO
    // would hold the menu) is no lock file.
    if (!ob::pin_lock_set(ob::medium_mount)) return true;
    char currentpin[33] = {};
    ob::read_control_file(ob::lock_file, currentpin, sizeof currentpin, 32);

    draw_band_and_header();
    draw_pin_field(PinField::idle);
    start_countdown();
    Entry entry;
    while (!deadline_passed()) {
        int code = read_key();
        if (renews_timeout()) renew_deadline();
        const Outcome outcome = act_on_key(code, entry, currentpin);
        if (outcome == Outcome::end_menu) return false;
        draw_progress();
        if (outcome == Outcome::accepted) return true;
        wait_for_next_pass();
    }
    leave_without_pin();
    return false;
}

}  // namespace orbiel
