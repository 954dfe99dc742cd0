#include "orbiel.h"

#include <fcntl.h>
#include <string.h>

#include <string>

#include "boot_menu.h"
#include "box_model.h"
#include "control_file.h"
#include "framebuffer.h"
#include "kernel.h"
#include "medium.h"
#include "menu_settings.h"
#include "menu_state.h"
#include "text.h"

namespace orbiel {

namespace {

// 17 characters, shown in the banner and on the menu screen, where it must
// fit the 200 pixels the header gives it at 24 pixels.
constexpr const char* credit = "Orbiel free build";

void print_banner() {
    snprintf(credit_text, sizeof credit_text, "%s", credit);
    ob::print_to(1, separator_line);
    ob::printf_to(1, "Orbiel V%d.%d %s\n", version_major, version_minor, credit_text);
    ob::printf_to(1, "Build %s %s\n", build_date, build_time);
    ob::print_to(1, separator_line);
}

void read_accent_color() {
    const uint8_t level = static_cast<uint8_t>(ob::read_accent_level(ob::medium_mount));
    barcolor = {level, level, level, 0xFF};
}

struct argument_kind {
    const char* dir;
    const char* suffix;
    const char* refusal;
    char* path;
    char* name;
};

// Takes a logo or font name from the command line. A name that is not of the
// kind, or that cannot be opened, ends the program; so does a name too long
// for the buffers: it is refused like a missing file rather than cut down to
// a shorter name that might exist.
bool take_argument(const argument_kind& kind, const char* arg) {
    const std::string full = std::string(kind.dir) + arg;
    if (full.find(kind.suffix) == std::string::npos) {
        ob::printf_to(1, "%s\n", kind.refusal);
        ob::print_to(1, separator_line);
        return false;
    }
    const bool fits = full.size() < path_size && strlen(arg) < name_size;
    // Only a regular file: the decoder and FreeType open it blocking.
    if (!fits || !ob::is_regular_file(full.c_str())) {
        ob::printf_to(1, "%s not found, sorry!\n", full.c_str());
        ob::print_to(1, separator_line);
        return false;
    }
    memcpy(kind.path, full.c_str(), full.size() + 1);
    memcpy(kind.name, arg, strlen(arg) + 1);
    return true;
}

bool take_arguments(int argc, char** argv) {
    snprintf(bootpicture, sizeof bootpicture, "%s", ob::default_logo);
    snprintf(picturearg, sizeof picturearg, "%s", ob::default_logo_name);
    snprintf(font, sizeof font, "%s", ob::default_font);
    snprintf(fontarg, sizeof fontarg, "%s", ob::default_font_name);
    if (argc > 1) {
        const argument_kind logo = {ob::logo_dir, ".jpg", "Only jpg supported as logo, sorry!",
                                    bootpicture, picturearg};
        if (!take_argument(logo, argv[1])) return false;
        logo_arg = 1;
    }
    if (argc > 2) {
        const argument_kind ttf = {ob::font_dir, ".ttf", "Only ttf supported as font, sorry!", font,
                                   fontarg};
        if (!take_argument(ttf, argv[2])) return false;
    }
    if (argc > 3) extra_arg = 1;
    return true;
}

void find_box_model() {
    if (ob::kernel().uname(&u) < 0) ob::print_to(1, "Couldnt get kernel name!\n");
    u.release[sizeof u.release - 1] = '\0';
    const char* model_text = ob::find_model_text(u.release);
    // Without a model text the header shows nothing and the boot-picture
    // paths name no model; the number keeps its default.
    modelname = model_text != nullptr ? model_text : "";
    box_model = ob::box_model_from_text(model_text);
    has_display = box_model == ob::model_dm520 ? 0 : 1;
}

}  // namespace

int orbiel_main(int argc, char** argv) {
    reset_menu_state();
    print_banner();
    read_accent_color();
    if (!take_arguments(argc, argv)) return 0;
    find_box_model();
    int width = 0, height = 0;
    if (!set_up_framebuffer(width, height)) {
        close_framebuffer();
        return 0;
    }
    if (!menu_font_init()) {
        unmap_framebuffer();
        close_framebuffer();
        return 0;
    }
    const int menu_result = boot_menu(width, height);
    menu_font_done();
    tear_down_framebuffer(menu_result);
    return 0;
}

}  // namespace orbiel
