// The images the menu lists: the directories of the medium's image
// directory that carry a .obinfo, under names the menu can show and write
// back into the selection file, at most 12, sorted by their labels. The
// menu fills its table from this scan and obctl lists the very same.
#pragma once

#include <stddef.h>

#include <string>
#include <vector>

namespace ob {

constexpr int max_listed_images = 12;
// A label holds at most 63 characters.
constexpr size_t image_label_size = 64;

// Image directories named by one digit carry a description in their .obinfo.
bool is_numbered_image(const std::string& name);

enum class ImageVerdict {
    listed,
    hidden,           // begins with a dot (or is empty): never an image
    no_info,          // no .obinfo
    unwritable_name,  // a blank, tab or line end: the choice could not be stored
    long_name,        // 64 characters or more: a cut name would boot another directory
    over_limit,       // would be listed, but 12 images are taken already
};

// What the name alone makes of an entry: hidden, unwritable_name,
// long_name, or listed (the name may be listed).
ImageVerdict name_verdict(const std::string& name);

// Why an entry is not listed, as the rest of a sentence about it ("image
// name holds a blank, tab or line end, not listed").
const char* verdict_words(ImageVerdict verdict);

struct ImageEntry {
    std::string name;   // the directory's name, what the selection file holds
    std::string label;  // what the menu shows: the name, or "N (description)"
    ImageVerdict verdict = ImageVerdict::listed;
    // The line the menu logs for it, without its line feed; empty when it
    // passes the entry silently.
    std::string logged;
};

struct ImageScan {
    std::vector<ImageEntry> listed;    // sorted by the byte order of their labels
    std::vector<ImageEntry> left_out;  // in the order of the directory
};

// Scans the image directory of the medium whose top directory is `top`.
// Labels, and the lines the menu logs, name the box's paths.
ImageScan scan_images(const std::string& top);

// The entry the menu preselects among the entries' names (Flash first, then
// the listed images): the last that equals the stored word, else 0.
int preselected_entry(const std::vector<std::string>& names, const std::string& word);

}  // namespace ob
