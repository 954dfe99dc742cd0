#include "settings_table.h"

#include <string.h>

#include "control_file.h"
#include "medium.h"
#include "menu_settings.h"

namespace obctl {

namespace {

// The number's own decimal text: no sign, no leading zero, no blank.
bool canonical_number(const std::string& text) {
    return !text.empty() && std::to_string(ob::control_number(text.c_str())) == text;
}

bool takes_timeout(const std::string& text) {
    return canonical_number(text) &&
           ob::menu_timeout_from(text.c_str()) == ob::control_number(text.c_str());
}

bool takes_color(const std::string& text) {
    return canonical_number(text) &&
           ob::accent_level_from(text.c_str()) == ob::control_number(text.c_str());
}

// Only the numbers that pick a mode: any other gives the default.
bool takes_resolution(const std::string& text) {
    if (!canonical_number(text)) return false;
    for (const ob::Resolution& r : ob::resolutions)
        if (r.setting == ob::control_number(text.c_str())) return true;
    return false;
}

// The driver's words pass through as obinit reads them: one word that the
// reading neither cuts nor shortens.
bool takes_box_word(const std::string& text) {
    return !text.empty() && text.size() <= ob::box_setting_limit &&
           strcspn(text.c_str(), ob::init_value_separators) == text.size() &&
           text.find('\0') == std::string::npos;
}

std::string effective_timeout(const Medium& medium) {
    return std::to_string(ob::read_menu_timeout(medium.top)) + " seconds";
}

std::string effective_color(const Medium& medium) {
    return "grey " + std::to_string(ob::read_accent_level(medium.top));
}

std::string effective_resolution(const Medium& medium) {
    const ob::Resolution r = ob::read_resolution(medium.top);
    return std::to_string(r.width) + "x" + std::to_string(r.height);
}

std::string on_or_off(bool on) { return on ? "on" : "off"; }

std::string effective_progress(const Medium& medium) {
    return on_or_off(ob::progress_bar_shown(medium.top));
}

std::string effective_menu(const Medium& medium) {
    return on_or_off(!ob::path_exists(medium.path(ob::no_boot_manager_file).c_str()));
}

std::string effective_boot_color(const Medium& medium) {
    const std::string word = box_setting(medium, ob::boot_color_file);
    return word.empty() ? "the box's own" : word;
}

std::string effective_mask(const Medium& medium) {
    const std::string word = box_setting(medium, ob::mask_file);
    return word.empty() ? "not set" : word;
}

}  // namespace

const SettingFile setting_files[] = {
    {"timeout", ob::timeout_file, SettingFile::value, false,
     "a whole number of seconds from 2 to 30", takes_timeout, effective_timeout},
    {"progress", ob::progress_file, SettingFile::on_off, true,
     "on (the time-out shown as a shrinking bar) or off", nullptr, effective_progress},
    {"color", ob::color_file, SettingFile::value, false,
     "a grey level from 0 to 127 for the menu's accent colour", takes_color, effective_color},
    {"resolution", ob::resolution_file, SettingFile::value, false,
     "1366 (1366x768) or 1080 (1920x1080); without the setting the menu uses 1280x720",
     takes_resolution, effective_resolution},
    {"bootcolor", ob::boot_color_file, SettingFile::value, false,
     "one word of at most 255 characters that the box's colour-format setting takes "
     "(e.g. rgb, yuv, cvbs)",
     takes_box_word, effective_boot_color},
    {"mask", ob::mask_file, SettingFile::value, false,
     "one word of at most 255 characters that the box's remote-control mask takes", takes_box_word,
     effective_mask},
    {"menu", ob::no_boot_manager_file, SettingFile::on_off, false,
     "on, or off (no menu: obinit boots the stored choice)", nullptr, effective_menu},
};
const size_t setting_file_count = sizeof setting_files / sizeof setting_files[0];

const SettingFile* find_setting(const std::string& key) {
    for (const SettingFile& setting : setting_files)
        if (key == setting.key) return &setting;
    return nullptr;
}

bool setting_text(const Medium& medium, const SettingFile& setting, std::string& text) {
    char bytes[ob::box_setting_limit + 2];
    const long got = ob::read_control_file(medium.path(setting.box_path).c_str(), bytes,
                                           sizeof bytes, sizeof bytes - 1);
    if (got < 0) return false;
    text.assign(bytes, static_cast<size_t>(got));
    text = text.substr(0, text.find('\n'));
    return true;
}

std::string box_setting(const Medium& medium, const char* box_path) {
    char word[ob::box_setting_limit + 1];
    if (ob::read_control_file(medium.path(box_path).c_str(), word, sizeof word,
                              ob::box_setting_limit) < 0)
        return "";
    ob::cut_at_any(word, ob::init_value_separators);
    return word;
}

}  // namespace obctl
