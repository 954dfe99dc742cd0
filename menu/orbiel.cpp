#include "orbiel.h"

#include <fcntl.h>
#include <string.h>

#include <string>

#include "boot_menu.h"
#include "box_model.h"
#include "control_file.h"
#include "draw.h"
#include "framebuffer.h"
#include "kernel.h"
#include "medium.h"
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

// The accent level is the low byte of the number in .obcolor; the upper half
// of the range is refused (black) so that the band stays dark enough for the
// white text on it.
void read_accent_color() {
    char text[256];
    if (ob::read_control_file(ob::color_file, text, sizeof text, 255) < 0) return;
    ob::cut_at_any(text, ob::value_separators);
    uint8_t level = static_cast<uint8_t>(ob::control_number(text) & 0xFF);
    if (level >= 128) level = 0;
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
    if (!fits || !ob::path_exists(full.c_str())) {
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

struct resolution {
    int setting;  // the number in .obresolution
    int width, height;
};
constexpr resolution resolutions[] = {{1366, 1366, 768}, {1080, 1920, 1080}};
constexpr resolution default_resolution = {720, 1280, 720};

resolution configured_resolution() {
    char text[21];
    if (ob::read_control_file(ob::resolution_file, text, sizeof text, 20) < 0)
        return default_resolution;
    ob::cut_at_any(text, ob::value_separators);
    const int setting = ob::control_number(text);
    for (const resolution& r : resolutions)
        if (r.setting == setting) return r;
    return default_resolution;
}

// The 8-bit palette: entries 1..14, 16-bit components; the two entries with
// transparency 0x80FF are half transparent.
struct palette_entry {
    uint16_t red, green, blue, transp;
};
constexpr palette_entry palette[] = {
    {0xFF00, 0xFF00, 0xFF00, 0},
    {0, 0, 0, 0},
    {0, 0, 0x8000, 0},
    {0, 0x8000, 0xFF00, 0},
    {0xFF00, 0xC000, 0, 0},
    {0, 0xD000, 0, 0},
    {0xE800, 0xE800, 0, 0},
    {0xFF00, 0, 0, 0},
    {0xB000, 0xB000, 0xB000, 0},
    {0, 0xFF00, 0, 0},
    {0x5000, 0x5000, 0x5000, 0},
    {0, 0, 0x8000, 0x80FF},
    {0x5000, 0x5000, 0x5000, 0x80FF},
    {0, 0x4000, 0xFF00, 0},
};
constexpr unsigned palette_start = 1;
constexpr size_t palette_size = sizeof palette / sizeof palette[0];

bool load_palette() {
    uint16_t red[palette_size], green[palette_size], blue[palette_size], transp[palette_size];
    for (size_t i = 0; i < palette_size; ++i) {
        red[i] = palette[i].red;
        green[i] = palette[i].green;
        blue[i] = palette[i].blue;
        transp[i] = palette[i].transp;
    }
    struct fb_cmap cmap = {palette_start, palette_size, red, green, blue, transp};
    return ob::kernel().ioctl(fb, FBIOPUTCMAP, &cmap) >= 0;
}

bool setup_failed(const char* message) {
    ob::printf_to(1, "%s\n", message);
    return false;
}

bool set_up_framebuffer(resolution& mode) {
    fb = ob::kernel().open("/dev/fb0", O_RDWR);
    if (fb < 0) {
        ob::print_to(1, "\nFramebuffer failed\n");
        return false;
    }
    if (!read_fixed_info())
        return setup_failed("Framebuffer: <FBIOGET_FSCREENINFO fehlgeschlagen>");
    if (!read_variable_info())
        return setup_failed("Framebuffer: <FBIOGET_VSCREENINFO fehlgeschlagen>");
    mode = configured_resolution();
    if (!put_mode(mode.width, mode.height))
        return setup_failed("Framebuffer: <FBIOPUT_VSCREENINFO fehlgeschlagen>");
    if (!read_fixed_info())
        return setup_failed("Framebuffer: <FBIOGET_FSCREENINFO fehlgeschlagen>");
    if (var_screeninfo.bits_per_pixel == 8 && !load_palette())
        return setup_failed("Framebuffer: <FBIOPUTCMAP failed>");
    if (!map_framebuffer()) return setup_failed("Framebuffer: <Speichermapping fehlgeschlagen>");
    set_manual_blit();
    return true;
}

// After a normal menu run the screen is cleared to transparent and the mode
// (which a picture may have changed) applied once more; in preview mode, or
// when the menu asks for it, the last picture stays standing.
void tear_down(int menu_result) {
    if (menu_result == 0 && !logo_arg) {
        clear_framebuffer(static_cast<size_t>(fix_screeninfo.line_length) * var_screeninfo.yres);
        unmap_framebuffer();
        if (ob::kernel().ioctl(fb, FBIOPUT_VSCREENINFO, &var_screeninfo) < 0)
            setup_failed("Framebuffer: <FBIOPUT_VSCREENINFO fehlgeschlagen>");
    }
    ob::kernel().close(fb);
    fb = -1;
}

void close_framebuffer() {
    if (fb >= 0) ob::kernel().close(fb);
    fb = -1;
}

}  // namespace

int orbiel_main(int argc, char** argv) {
    reset_menu_state();
    print_banner();
    read_accent_color();
    if (!take_arguments(argc, argv)) return 0;
    find_box_model();
    resolution mode = default_resolution;
    if (!set_up_framebuffer(mode)) {
        close_framebuffer();
        return 0;
    }
    if (!menu_font_init()) {
        unmap_framebuffer();
        close_framebuffer();
        return 0;
    }
    const int menu_result = boot_menu(mode.width, mode.height);
    menu_font_done();
    tear_down(menu_result);
    return 0;
}

}  // namespace orbiel
