#include "selection_stage.h"

#include <stdio.h>
#include <string.h>

#include "countdown.h"
#include "front_panel.h"
#include "image_list.h"
#include "input.h"
#include "kernel.h"
#include "menu_screen.h"

namespace orbiel {

namespace {

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

// How the stage ends.
enum class Ending { boot_highlighted, keep_preselected };

struct Stage {
    int current = 0;
    bool foreign_manager = false;
};

int target_of(const Stage& stage, const SelectionKey& key_action) {
    switch (key_action.entry) {
        case previous_entry:
            return stage.current == 0 ? image_count : stage.current - 1;
        case next_entry:
            return stage.current == image_count ? 0 : stage.current + 1;
        case last_entry:
            return image_count;
        default:
            return key_action.entry;
    }
}

void select_entry(Stage& stage, int e, const char* message) {
    unmark_entry(image_table[stage.current], stage.current);
    ob::printf_to(2, message, e, image_table[e]);
    mark_entry(image_table[e], e);
    stage.current = e;
}

// OK boots the highlighted entry, writing it as the new choice unless the
// selection file names it already; EXIT and the time-out take the highlight
// back to the preselected entry and leave the file as it is. When the stored
// name matches no entry (a carriage return after it, an image not listed),
// Flash is preselected while obinit would boot the stored name: OK on Flash
// then writes "Flash", so that Flash boots as chosen.
void end_stage(Stage& stage, Ending ending) {
    const bool keep = ending == Ending::keep_preselected;
    if (keep) unmark_entry(image_table[stage.current], stage.current);
    const int n = keep ? default_index : stage.current;
    char name[label_size];
    entry_name(n, name, sizeof name);
    const bool new_choice = !keep && strcmp(name, stored_selection) != 0;
    mark_chosen(n, new_choice && stage.foreign_manager ? white : green);
    ob::printf_to(2, "OK   - booting %i %s\n", n, image_table[n]);
    if (keep) ob::printf_to(2, "EXIT - continue booting %i %s\n", n, image_table[n]);
    ob::print_to(2, short_separator);
    if (new_choice) {
        char selection[label_size + 1];
        snprintf(selection, sizeof selection, "%s\n", name);
        write_selection(selection);
    }
    panel_show_name(image_table[n]);
    ob::kernel().sleep_us(1000000);
    stage.current = n;
}

// Acts on one key; true when the key ended the stage.
bool act_on_key(Stage& stage, int code) {
    if (code == KEY_ENTER || code == KEY_OK) {
        end_stage(stage, Ending::boot_highlighted);
        return true;
    }
    if (code == KEY_ESC || code == KEY_EXIT) {
        end_stage(stage, Ending::keep_preselected);
        return true;
    }
    for (const SelectionKey& key_action : selection_keys) {
        if (key_action.code != code) continue;
        int e = target_of(stage, key_action);
        if (e <= image_count) select_entry(stage, e, key_action.message);
        return false;
    }
    return false;
}

}  // namespace

int selection_stage(bool foreign_manager) {
    Stage stage;
    stage.current = default_index;
    stage.foreign_manager = foreign_manager;
    panel_show_name(image_table[stage.current]);
    start_countdown();
    for (;;) {
        int code = read_key();
        if (renews_timeout()) renew_deadline();
        if (deadline_passed()) {
            end_stage(stage, Ending::keep_preselected);
            return stage.current;
        }
        if (act_on_key(stage, code)) return stage.current;
        draw_progress();
        wait_for_next_pass();
    }
}

}  // namespace orbiel
