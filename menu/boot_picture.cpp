#include "boot_picture.h"

#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include "control_file.h"
#include "image_list.h"
#include "logo.h"
#include "menu_state.h"
#include "video_still.h"

namespace orbiel {

namespace {

constexpr size_t picture_path_size = 256;

// Formats a picture path; false when it does not fit or names nothing.
bool existing_path(char* path, const char* format, ...) __attribute__((format(printf, 2, 3)));
bool existing_path(char* path, const char* format, ...) {
    va_list args;
    va_start(args, format);
    int n = vsnprintf(path, picture_path_size, format, args);
    va_end(args);
    if (n < 0 || static_cast<size_t>(n) >= picture_path_size) return false;
    return ob::path_exists(path);
}

void show_image_picture(const char* name) {
    char path[picture_path_size];
    if (existing_path(path, "/media/ob/ob/%s/usr/share/bootlogo.mvi", name)) showiframe(path);
    if (existing_path(path, "/media/ob/ob/%s/boot/bootlogo-%s.jpg", name, modelname) ||
        existing_path(path, "/media/ob/ob/%s/boot/bootlogo.jpg", name))
        show_jpeg(path);
}

}  // namespace

void show_flash_jpeg() {
    char path[picture_path_size];
    if (existing_path(path, "/boot/bootlogo-%s.jpg", modelname) ||
        existing_path(path, "%s", "/boot/bootlogo.jpg"))
        show_jpeg(path);
}

void show_boot_picture(const char* label) {
    if (strncmp(label, "Flash", 5) == 0) {
        char path[picture_path_size];
        if (existing_path(path, "%s", "/usr/share/bootlogo.mvi")) showiframe(path);
        show_flash_jpeg();
        return;
    }
    char name[label_size];
    snprintf(name, sizeof name, "%s", label);
    name[strcspn(name, " ")] = '\0';
    show_image_picture(name);
}

}  // namespace orbiel
