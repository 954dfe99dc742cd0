// The choice of image as the selection file (obboot.ini) and the one-shot
// file hold it: a name and a line feed, "Flash" for the flash image. obinit
// and the menu read the word each their own way; obctl shows both.
#pragma once

#include <stddef.h>

#include <string>

namespace ob {

// obinit reads at most 128 bytes and ends the word at a blank, tab, line feed
// or carriage return.
constexpr size_t boot_selection_limit = 128;

// The word becomes a path below the image directory, so it must name one
// directory there and nothing else.
bool plain_image_name(const char* name);

enum class BootSelection {
    missing,  // no file, or no bytes in it: obinit boots Flash
    invalid,  // a word that is no plain name: obinit boots Flash
    named,    // the word names what obinit boots
};
// What obinit boots from the file at path: word is "Flash" unless named.
BootSelection read_boot_selection(const char* path, std::string& word);

// The word the menu preselects by: at most 64 bytes, ended at a blank, tab
// or line feed only (a carriage return stays part of it). "Flash" without
// a file or bytes.
constexpr size_t menu_selection_limit = 64;
std::string read_menu_selection(const char* path);

}  // namespace ob
