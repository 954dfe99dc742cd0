// A medium as the boot programs would take it at the next start: the menu's
// entries, obinit's verdict on every image, and the choice. status, list and
// check all show this one view.
#pragma once

#include <string>
#include <vector>

#include "image_boot.h"
#include "image_entries.h"
#include "medium_dir.h"
#include "selection_file.h"

namespace obctl {

struct ImageState {
    ob::ImageEntry entry;  // name, label, and why it is not listed
    int index = -1;        // its number in the menu; -1 when not listed
    // Why obinit would not boot it, in obinit's words; empty when it would.
    std::string boot_problem;
};

struct Choice {
    ob::BootSelection stored_kind = ob::BootSelection::missing;
    std::string stored;     // what obinit boots from obboot.ini
    std::string menu_word;  // the word the menu preselects by
    int preselected = 0;    // the entry the menu preselects
    bool one_shot = false;  // .oboneshot is there
    ob::BootSelection one_shot_kind = ob::BootSelection::missing;
    std::string one_shot_name;  // what obinit boots once from it
};

struct MediumView {
    std::vector<ImageState> images;  // the menu's entries in its order, then the others
    int listed = 0;                  // how many of them the menu lists
    Choice choice;
};

MediumView look_at(const Medium& medium);

// The image of that name, or nullptr.
const ImageState* find_image(const MediumView& view, const std::string& name);

// Why obinit would not boot the name (an image or "Flash"), in its words;
// empty when it would.
std::string boot_problem(const Medium& medium, const std::string& name);

}  // namespace obctl
