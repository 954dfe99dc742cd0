// Where things lie on the boot medium, and the files around it that the
// programs use. On the box the medium is mounted on /media/ob; obctl also
// works on one mounted anywhere else (on_medium).
#pragma once

#include <string.h>

#include <string>

namespace ob {

constexpr const char* medium_mount = "/media/ob";
constexpr const char* hdd_mount = "/media/hdd";
constexpr const char* medium_marker = "/media/ob/ob.sh";
constexpr const char* menu_program = "/media/ob/bin/orbiel";
constexpr const char* medium_tune2fs = "/media/ob/bin/tune2fs";
constexpr const char* logo_dir = "/media/ob/logos/";
constexpr const char* default_logo = "/media/ob/logos/orbiel.jpg";
constexpr const char* default_logo_name = "orbiel.jpg";
constexpr const char* font_dir = "/media/ob/fonts/";
constexpr const char* default_font = "/media/ob/fonts/orbiel.ttf";
constexpr const char* default_font_name = "orbiel.ttf";
constexpr const char* images_dir = "/media/ob/ob";
// obinit takes the first partition whose volume label begins with this.
constexpr const char* medium_label_prefix = "ob";
constexpr const char* image_info_format = "/media/ob/ob/%s/.obinfo";
// Image directories named by one digit carry a description in their .obinfo.
constexpr char first_numbered_image = '1';
constexpr char last_numbered_image = '8';
constexpr const char* medium_boot_dir = "/media/ob/boot";
constexpr const char* swap_file = "/media/ob/swapfile";

// Control files in the medium's top directory.
constexpr const char* selection_file = "/media/ob/obboot.ini";
constexpr const char* timeout_file = "/media/ob/.obtimeout";
constexpr const char* progress_file = "/media/ob/.obprogress";
constexpr const char* lock_file = "/media/ob/.oblocked";
constexpr const char* color_file = "/media/ob/.obcolor";
constexpr const char* resolution_file = "/media/ob/.obresolution";
constexpr const char* boot_color_file = "/media/ob/.obbootcolor";
constexpr const char* mask_file = "/media/ob/.obmask";
constexpr const char* no_boot_manager_file = "/media/ob/.obnobootmanager";
// Names the image of the next boot only: obinit removes it before it boots
// that image, so the boot after it is the stored choice again.
constexpr const char* one_shot_file = "/media/ob/.oboneshot";
constexpr const char* foreign_manager_file = "/media/ob/.kxbootmanager";
constexpr const char* stale_boot_file = "/media/ob/.obboot";
constexpr const char* menu_log = "/media/ob/.oblog";

// A path above as it lies on a medium whose top directory is `top`
// ("/media/ob" gives the path itself).
inline std::string on_medium(const std::string& top, const char* box_path) {
    return top + (box_path + strlen(medium_mount));
}

// The selection that means the box's own flash image.
constexpr const char* flash_name = "Flash";

// Inside an image root (or the flash root).
constexpr const char* image_marker = "/.obinfo";

// Outside the medium.
constexpr const char* flash_videomode_file = "/etc/videomode";
constexpr const char* stb_videomode = "/proc/stb/video/videomode";
constexpr const char* stb_colorformat = "/proc/stb/avs/0/colorformat";
constexpr const char* stb_rc_mask = "/proc/stb/ir/rc/mask2";
constexpr const char* stb_video_alpha = "/proc/stb/video/alpha";
constexpr const char* kernel_cmdline = "/proc/cmdline";

}  // namespace ob
