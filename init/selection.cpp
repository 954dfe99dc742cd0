#include "selection.h"

#include <string.h>

#include "control_file.h"
#include "kernel.h"
#include "medium.h"
#include "obinit.h"

namespace obinit {

namespace {

constexpr size_t selection_limit = selection_size - 1;

// The selection becomes a path below the image directory, so it must name
// one directory there and nothing else.
bool plain_image_name(const char* name) {
    return name[0] != '\0' && strchr(name, '/') == nullptr && strcmp(name, ".") != 0 &&
           strcmp(name, "..") != 0;
}

}  // namespace

void read_selection() {
    char* selection = state().selection;
    char word[selection_size];
    if (ob::read_control_file(ob::selection_file, word, sizeof word, selection_limit) <= 0) {
        strcpy(selection, ob::flash_name);
        return;
    }
    ob::cut_at_any(word, ob::init_value_separators);
    if (!plain_image_name(word)) {
        ob::printf_to(2, "Orbiel: invalid image name in %s, booting Flash\n", ob::selection_file);
        strcpy(selection, ob::flash_name);
        return;
    }
    strcpy(selection, word);
}

}  // namespace obinit
