#include "image_list.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "control_file.h"
#include "file_replace.h"
#include "kernel.h"
#include "medium.h"

namespace orbiel {

char image_table[max_images + 1][label_size];
int image_count = 0;
char stored_selection[label_size + 1];
int default_index = 0;

namespace {

constexpr size_t info_path_size = 128;
constexpr size_t info_read_limit = 128;

// Numbered images 1 to 8 carry their description in .obinfo.
bool is_numbered_image(const std::string& name) {
    return name.size() == 1 && name[0] >= ob::first_numbered_image &&
           name[0] <= ob::last_numbered_image;
}

// Ends text at its first space, tab or line feed (a carriage return stays).
void cut_at_blank(char* text) { ob::cut_at_any(text, ob::value_separators); }

// The first word of the image's .obinfo. When the file yields nothing the
// description is the path itself, which at least tells the user where to
// look.
void read_description(char* info_path, char* description, size_t size) {
    snprintf(description, size, "%s", info_path);
    char text[info_read_limit + 1];
    if (ob::read_control_file(info_path, text, sizeof text, info_read_limit) > 0)
        snprintf(description, size, "%s", text);
    cut_at_blank(description);
}

// "%s (%s)" of the digit and the description, the description shortened so
// that the label keeps its closing parenthesis within 63 characters.
void numbered_label(const std::string& name, const char* description, char* label) {
    int room = static_cast<int>(label_size) - 1 - static_cast<int>(name.size()) - 3;
    snprintf(label, label_size, "%s (%.*s)", name.c_str(), room, description);
}

// The selection file holds the name up to its first blank, and obinit reads
// it up to a blank or a line end: an image whose name holds one of these
// could be chosen but would never boot (another image or Flash would).
constexpr const char* unwritable_name_chars = " \t\r\n";

// The name as one log line: the characters that keep it from the list
// written as C escapes.
std::string printable_name(const std::string& name) {
    std::string text;
    for (char c : name) {
        switch (c) {
            case '\t':
                text += "\\t";
                break;
            case '\r':
                text += "\\r";
                break;
            case '\n':
                text += "\\n";
                break;
            default:
                text += c;
        }
    }
    return text;
}

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

bool take_image(const std::string& name, char* label) {
    char info_path[info_path_size];
    int n = snprintf(info_path, sizeof info_path, ob::image_info_format, name.c_str());
    if (n < 0 || static_cast<size_t>(n) >= sizeof info_path) return false;
    if (!ob::path_exists(info_path)) return false;
    if (name.find_first_of(unwritable_name_chars) != std::string::npos) {
        ob::printf_to(2, "%s/%s: image name holds a blank, tab or line end, not listed\n",
                      ob::images_dir, printable_name(name).c_str());
        return false;
    }
    if (is_numbered_image(name)) {
        char description[info_read_limit + 1];
        read_description(info_path, description, sizeof description);
        numbered_label(name, description, label);
        return true;
    }
    if (name.size() >= label_size) {
        // Cut, the name would boot a directory that does not exist.
        ob::printf_to(2, "%s: image name longer than %zu characters, not listed\n", info_path,
                      label_size - 1);
        return false;
    }
    snprintf(label, label_size, "%s", name.c_str());
    return true;
}

int compare_labels(const void* a, const void* b) {
    return strcmp(static_cast<const char*>(a), static_cast<const char*>(b));
}

}  // namespace

void read_stored_selection() {
    snprintf(stored_selection, sizeof stored_selection, "%s", ob::flash_name);
    char text[label_size + 1];
    if (ob::read_control_file(ob::selection_file, text, sizeof text, label_size) > 0)
        memcpy(stored_selection, text, sizeof text);
    cut_at_blank(stored_selection);
}

void scan_images() {
    snprintf(image_table[0], label_size, "%s", ob::flash_name);
    image_count = 0;
    std::vector<std::string> names;
    if (ob::kernel().list_dir(ob::images_dir, names) < 0) return;
    for (const std::string& name : names) {
        if (name.empty() || name[0] == '.') continue;
        if (image_count == max_images) continue;
        if (take_image(name, image_table[image_count + 1])) ++image_count;
    }
    qsort(image_table[1], static_cast<size_t>(image_count), label_size, compare_labels);
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
    default_index = 0;
    for (int j = 0; j <= image_count; ++j) {
        char name[label_size];
        entry_name(j, name, sizeof name);
        if (strcmp(name, stored_selection) == 0) default_index = j;
        ob::printf_to(1, "%i: %s\n", j, image_table[j]);
    }
}

}  // namespace orbiel
