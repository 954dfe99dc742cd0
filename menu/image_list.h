// The entries of the menu: "Flash" first, then the images found on the
// boot medium, and which of them the selection file names.
#pragma once

#include <stddef.h>

#include "image_entries.h"

namespace orbiel {

constexpr int max_images = ob::max_listed_images;
// A label holds at most 63 characters.
constexpr size_t label_size = ob::image_label_size;

// Slot 0 is always "Flash"; slots 1..image_count the images, sorted.
extern char image_table[max_images + 1][label_size];
extern int image_count;
// The first word of the selection file, "Flash" without one.
extern char stored_selection[label_size + 1];
// The entry whose name equals stored_selection; 0 when none does.
extern int default_index;

// Reads the selection file into stored_selection.
void read_stored_selection();
// Lists the image directories under /media/ob/ob that hold a .obinfo, at
// most 12, sorted by byte order of their labels.
void scan_images();
// The name of entry k: its label up to the first space (a numbered image's
// label carries its description after the digit).
void entry_name(int k, char* name, size_t size);
// Sets default_index and prints the list into the log.
void find_preselection();

// Replaces the content of the selection file (or of the file it links to,
// keeping its mode and owner) with text, through a temporary and a rename,
// so that a power cut leaves the old or the new content. On a medium too
// full for the temporary the file is rewritten in place instead. The file is
// never created (nor anything but a regular file replaced): without it the
// init program boots the flash image anyway. True when text is stored.
bool write_selection(const char* text);
// Removes a temporary that a power cut during an earlier write left behind.
void remove_stale_selection();

}  // namespace orbiel
