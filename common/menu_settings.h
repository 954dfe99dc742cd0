// What the menu makes of its settings files in the medium's top directory:
// the time-out, the accent grey, the resolution, the time-out bar and the
// PIN lock. The menu reads them from /media/ob, obctl from wherever the
// medium is mounted (`top`), so both apply the same clamps and defaults.
#pragma once

#include <string>

namespace ob {

// .obtimeout, cut at its line feed only (a leading blank is allowed).
constexpr int shortest_menu_timeout = 2;
constexpr int longest_menu_timeout = 30;
constexpr int default_menu_timeout = 10;
int menu_timeout_from(const char* text);
int read_menu_timeout(const std::string& top);

// .obcolor: the low byte of the number; the upper half of the range gives 0,
// so that the band stays dark enough for the white text on it.
constexpr int default_accent_level = 64;
constexpr int brightest_accent_level = 127;
int accent_level_from(const char* text);
int read_accent_level(const std::string& top);

// .obresolution: the number picks one of the modes; any other gives 720p.
struct Resolution {
    int setting;  // the number in the file
    int width, height;
};
constexpr Resolution resolutions[] = {{1366, 1366, 768}, {1080, 1920, 1080}};
constexpr Resolution default_resolution = {720, 1280, 720};
Resolution resolution_from(const char* text);
Resolution read_resolution(const std::string& top);

// .obprogress: present, the time-out is shown as a shrinking bar.
bool progress_bar_shown(const std::string& top);

// .oblocked: the lock holds whenever a regular file is there (also on a
// medium mounted read-only); anything else under the name would hold the
// menu and is no lock.
bool pin_lock_set(const std::string& top);

}  // namespace ob
