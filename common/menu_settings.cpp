#include "menu_settings.h"

#include "control_file.h"
#include "medium.h"

namespace ob {

namespace {

// Bytes read of each file, as the menu has always read them.
constexpr size_t timeout_limit = 64;
constexpr size_t color_limit = 255;
constexpr size_t resolution_limit = 20;

}  // namespace

int menu_timeout_from(const char* text) {
    const int seconds = control_number(text);
    if (seconds < shortest_menu_timeout) return shortest_menu_timeout;
    if (seconds > longest_menu_timeout) return longest_menu_timeout;
    return seconds;
}

int read_menu_timeout(const std::string& top) {
    char text[timeout_limit + 1];
    if (read_control_file(on_medium(top, timeout_file).c_str(), text, sizeof text, timeout_limit) <
        0)
        return default_menu_timeout;
    cut_at_any(text, line_separator);
    return menu_timeout_from(text);
}

int accent_level_from(const char* text) {
    const int level = control_number(text) & 0xFF;
    return level > brightest_accent_level ? 0 : level;
}

int read_accent_level(const std::string& top) {
    char text[color_limit + 1];
    if (read_control_file(on_medium(top, color_file).c_str(), text, sizeof text, color_limit) < 0)
        return default_accent_level;
    cut_at_any(text, value_separators);
    return accent_level_from(text);
}

Resolution resolution_from(const char* text) {
    const int setting = control_number(text);
    for (const Resolution& r : resolutions)
        if (r.setting == setting) return r;
    return default_resolution;
}

Resolution read_resolution(const std::string& top) {
    char text[resolution_limit + 1];
    if (read_control_file(on_medium(top, resolution_file).c_str(), text, sizeof text,
                          resolution_limit) < 0)
        return default_resolution;
    cut_at_any(text, value_separators);
    return resolution_from(text);
}

bool progress_bar_shown(const std::string& top) {
    return path_exists(on_medium(top, progress_file).c_str());
}

bool pin_lock_set(const std::string& top) {
    return is_regular_file(on_medium(top, lock_file).c_str());
}

}  // namespace ob
