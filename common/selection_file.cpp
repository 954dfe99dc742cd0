#include "selection_file.h"

#include <string.h>

#include "control_file.h"
#include "medium.h"

namespace ob {

bool plain_image_name(const char* name) {
    return name[0] != '\0' && strchr(name, '/') == nullptr && strcmp(name, ".") != 0 &&
           strcmp(name, "..") != 0;
}

BootSelection read_boot_selection(const char* path, std::string& word) {
    word = flash_name;
    char text[boot_selection_limit + 1];
    if (read_control_file(path, text, sizeof text, boot_selection_limit) <= 0)
        return BootSelection::missing;
    cut_at_any(text, init_value_separators);
    if (!plain_image_name(text)) return BootSelection::invalid;
    word = text;
    return BootSelection::named;
}

std::string read_menu_selection(const char* path) {
    char text[menu_selection_limit + 1];
    if (read_control_file(path, text, sizeof text, menu_selection_limit) <= 0) return flash_name;
    cut_at_any(text, value_separators);
    return text;
}

}  // namespace ob
