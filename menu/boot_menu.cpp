// The boot menu: its settings, then the stages in the order they run.
#include "boot_menu.h"

#include "control_file.h"
#include "countdown.h"
#include "image_list.h"
#include "input.h"
#include "kernel.h"
#include "medium.h"
#include "menu_settings.h"
#include "menu_state.h"
// the stages, which boot_menu() runs in turn
#include "boot_picture.h"
#include "logo.h"
#include "menu_screen.h"
#include "pin_lock.h"
#include "selection_stage.h"

namespace orbiel {

namespace {

// True when another boot manager is installed as well.
bool read_settings() {
    menu_timeout = ob::read_menu_timeout(ob::medium_mount);
    show_progress = ob::progress_bar_shown(ob::medium_mount) ? 1 : 0;
    const bool foreign_manager = ob::path_exists(ob::foreign_manager_file);
    // Written by tools outside Orbiel; the menu clears it at every start.
    if (ob::path_exists(ob::stale_boot_file)) ob::kernel().unlink(ob::stale_boot_file);
    remove_stale_selection();
    return foreign_manager;
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

void finish_preview() {
    draw_preview_marks();
    ob::print_to(1, "finished viewing only\n");
    ob::print_to(1, separator_line);
    ob::kernel().sleep_us(1000000);
}

}  // namespace

int boot_menu(int width, int height) {
    shown_remaining = 0;
    const bool foreign_manager = read_settings();
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
    const int chosen = selection_stage(foreign_manager);
    close_input_devices();
    show_boot_picture(image_table[chosen]);
    return 0;
}

}  // namespace orbiel
