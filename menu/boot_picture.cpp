#include "boot_picture.h"

#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include "control_file.h"
#include "image_list.h"
#include "logo.h"
#include "medium.h"
#include "menu_state.h"
#include "video_still.h"

namespace orbiel {

namespace {

constexpr size_t picture_path_size = 256;

// Formats a picture path; false when it does not fit or names no regular
// file (the decoders open it blocking: a FIFO there would hold the menu).
bool existing_path(char* path, const char* format, ...) __attribute__((format(printf, 2, 3)));
bool existing_path(char* path, const char* format, ...) {
    va_list args;
    va_start(args, format);
    int n = vsnprintf(path, picture_path_size, format, args);
    va_end(args);
    if (n < 0 || static_cast<size_t>(n) >= picture_path_size) return false;
    return ob::is_regular_file(path);
}

// The framebuffer picture a root keeps, the model's own before the plain one.
// The root is "" for the flash root, an image's directory for an image.
void show_root_jpeg(const char* root) {
    char path[picture_path_size];
    if (existing_path(path, "%s/boot/bootlogo-%s.jpg", root, modelname) ||
        existing_path(path, "%s/boot/bootlogo.jpg", root))
        show_jpeg(path);
}

// Its video-decoder still, then its framebuffer picture.
void show_root_pictures(const char* root) {
    char path[picture_path_size];
    if (existing_path(path, "%s/usr/share/bootlogo.mvi", root)) showiframe(path);
    show_root_jpeg(root);
}

}  // namespace

void show_flash_jpeg() { show_root_jpeg(""); }

void show_boot_picture(const char* label) {
    if (strncmp(label, ob::flash_name, strlen(ob::flash_name)) == 0) {
        show_root_pictures("");
        return;
    }
    char name[label_size];
    snprintf(name, sizeof name, "%s", label);
    name[strcspn(name, " ")] = '\0';
    char root[picture_path_size];
    snprintf(root, sizeof root, "%s/%s", ob::images_dir, name);
    show_root_pictures(root);
}

}  // namespace orbiel
