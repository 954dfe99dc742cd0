#include "box_setup.h"

#include <fcntl.h>
#include <string.h>

#include <string>

#include "box_model.h"
#include "control_file.h"
#include "kernel.h"
#include "medium.h"
#include "obinit.h"
#include "shell_commands.h"

namespace obinit {

namespace {

struct ModelModules {
    int box_model;
    const char* modules[2];  // unused slots are nullptr
};
constexpr const char* remote_control_module = "dreambox_rc2";
constexpr ModelModules model_modules[] = {
    {ob::model_dm7080, {"lcd", "bcm7435"}},
    {ob::model_dm820, {"lcd", "bcm7435"}},
    {ob::model_dm520, {"bcm73625", nullptr}},
    {ob::model_dm900, {"lcd", "bcm7439"}},
};

// The box driver's values are short words; more than this is never read.
constexpr size_t setting_limit = ob::box_setting_limit;

// A descriptor counts only when it is above 0: process 1 owns the console on
// descriptor 0, so a 0 means the console was missing and the open went wrong.
// Settings are read without waiting and only from regular files (the
// driver's files under /proc are regular too).
int open_setting(const char* path, int flags) {
    const int fd = flags == O_RDONLY ? ob::open_regular_file(path) : ob::kernel().open(path, flags);
    if (fd == 0) ob::kernel().close(fd);
    return fd > 0 ? fd : -1;
}

// Reads a setting from an open descriptor (and closes it): at most
// setting_limit bytes, cut at the first blank, tab, line feed or return.
void read_setting(int fd, char (&value)[setting_limit + 1]) {
    const ssize_t got = ob::kernel().read(fd, value, setting_limit);
    ob::kernel().close(fd);
    value[got > 0 ? got : 0] = '\0';
    ob::cut_at_any(value, ob::init_value_separators);
}

// Writes value and its terminator in one write, as the driver expects a
// whole value per write. False when the driver file does not open.
bool write_setting(const char* path, const char* value, char terminator) {
    const int fd = open_setting(path, O_RDWR);
    if (fd < 0) return false;
    std::string text(value);
    text += terminator;
    ob::kernel().write(fd, text.data(), text.size());
    ob::kernel().close(fd);
    return true;
}

void set_video_mode() {
    const int fd = open_setting(ob::flash_videomode_file, O_RDONLY);
    if (fd < 0) return;
    char mode[setting_limit + 1];
    read_setting(fd, mode);
    const int out = open_setting(ob::stb_videomode, O_RDWR);
    if (out < 0) return;
    ob::printf_to(2, "writing videomode: %s\n", mode);
    ob::kernel().write(out, mode, strlen(mode) + 1);
    ob::kernel().close(out);
}

// Without a setting on the medium the driver's current format is written
// back, which re-applies it.
void set_colour_format() {
    int fd = open_setting(ob::boot_color_file, O_RDONLY);
    if (fd < 0) fd = open_setting(ob::stb_colorformat, O_RDONLY);
    if (fd < 0) return;
    char format[setting_limit + 1];
    read_setting(fd, format);
    write_setting(ob::stb_colorformat, format, '\0');
}

void set_remote_control_mask() {
    const int fd = open_setting(ob::mask_file, O_RDONLY);
    if (fd < 0) return;
    char mask[setting_limit + 1];
    read_setting(fd, mask);
    write_setting(ob::stb_rc_mask, mask, '\n');
}

}  // namespace

void load_box_modules() {
    run_shell(ShellCommand::modprobe, remote_control_module);
    for (const ModelModules& row : model_modules) {
        if (row.box_model != state().box_model) continue;
        for (const char* module : row.modules)
            if (module != nullptr) run_shell(ShellCommand::modprobe, module);
    }
}

void apply_box_settings() {
    set_video_mode();
    set_colour_format();
    set_remote_control_mask();
}

// The menu's exit status means nothing: its one result is the selection file.
void run_menu() { run_shell(ShellCommand::menu); }

}  // namespace obinit
