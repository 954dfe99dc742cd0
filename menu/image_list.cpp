#include "image_list.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "file_replace.h"
#include "image_entries.h"
#include "kernel.h"
#include "medium.h"
#include "selection_file.h"

namespace orbiel {

char image_table[max_images + 1][label_size];
int image_count = 0;
char stored_selection[label_size + 1];
int default_index = 0;

namespace {

// Overwrites the file's first bytes with text and cuts it there, flushed.
bool rewrite_in_place(const char* path, const char* text) {
    ob::printf_to(2, "%s: no room for a temporary, rewritten in place\n", ob::selection_file);
    const int fd = ob::kernel().open(path, O_WRONLY | O_NOFOLLOW | O_NONBLOCK);
    const size_t size = strlen(text);
    const bool written = fd >= 0 && ob::write_all(fd, text, size) &&
                         ob::kernel().ftruncate(fd, static_cast<off_t>(size)) == 0 &&
                         ob::kernel().fsync(fd) == 0;
    if (fd >= 0) ob::kernel().close(fd);
    if (!written) ob::print_error(ob::selection_file);
    return written;
}

}  // namespace

void read_stored_selection() {
    snprintf(stored_selection, sizeof stored_selection, "%s",
             ob::read_menu_selection(ob::selection_file).c_str());
}

void scan_images() {
    snprintf(image_table[0], label_size, "%s", ob::flash_name);
    const ob::ImageScan scan = ob::scan_images(ob::medium_mount);
    for (const ob::ImageEntry& entry : scan.left_out)
        if (!entry.logged.empty()) ob::printf_to(2, "%s\n", entry.logged.c_str());
    image_count = static_cast<int>(scan.listed.size());
    for (int k = 1; k <= image_count; ++k)
        snprintf(image_table[k], label_size, "%s", scan.listed[k - 1].label.c_str());
}

void remove_stale_selection() { ob::remove_stale_replace(ob::selection_file); }

bool write_selection(const char* text) {
    std::string target;
    struct stat old;
    if (!ob::resolve_link_chain(ob::selection_file, target) ||
        ob::kernel().stat(target.c_str(), &old) != 0 || !S_ISREG(old.st_mode))
        return false;
    remove_stale_selection();
    const ob::FilePart whole = {text, strlen(text)};
    if (ob::replace_file(target.c_str(), old, &whole, 1)) {
        ob::kernel().sync();
        return true;
    }
    ob::print_error(ob::selection_file);
    // A full medium has no block for the temporary, but the file has one of
    // its own, which a name fits into: losing the user's choice would be
    // worse than the short moment in which a cut could mix two names.
    return (errno == ENOSPC || errno == EDQUOT) && rewrite_in_place(target.c_str(), text);
}

void entry_name(int k, char* name, size_t size) {
    if (size == 0) return;
    size_t length = strnlen(image_table[k], label_size - 1);
    length = strcspn(image_table[k], " ") < length ? strcspn(image_table[k], " ") : length;
    if (length >= size) length = size - 1;
    memcpy(name, image_table[k], length);
    name[length] = '\0';
}

void find_preselection() {
    std::vector<std::string> names;
    for (int j = 0; j <= image_count; ++j) {
        char name[label_size];
        entry_name(j, name, sizeof name);
        names.push_back(name);
        ob::printf_to(1, "%i: %s\n", j, image_table[j]);
    }
    default_index = ob::preselected_entry(names, stored_selection);
}

}  // namespace orbiel
