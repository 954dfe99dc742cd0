#include "image_entries.h"

#include <stdio.h>
#include <string.h>

#include <algorithm>

#include "control_file.h"
#include "kernel.h"
#include "medium.h"

namespace ob {

namespace {

// The menu forms the .obinfo path in a buffer of this size; a name that
// does not fit is passed over.
constexpr size_t info_path_size = 128;
constexpr size_t info_read_limit = 128;

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

// The first word of the image's .obinfo. When the file yields nothing the
// description is the path itself, which at least tells the user where to
// look.
std::string description_of(const std::string& top, const char* info_path) {
    char text[info_read_limit + 1];
    if (read_control_file(on_medium(top, info_path).c_str(), text, sizeof text, info_read_limit) <=
        0)
        snprintf(text, sizeof text, "%s", info_path);
    cut_at_any(text, value_separators);
    return text;
}

// "%s (%s)" of the digit and the description, the description shortened so
// that the label keeps its closing parenthesis within 63 characters.
std::string numbered_label(const std::string& name, const std::string& description) {
    const int room = static_cast<int>(image_label_size) - 1 - static_cast<int>(name.size()) - 3;
    char label[image_label_size];
    snprintf(label, sizeof label, "%s (%.*s)", name.c_str(), room, description.c_str());
    return label;
}

// The verdict on one entry, its label when listed (read only when
// `describe`), and the line the menu logs about it.
ImageEntry judge(const std::string& top, const std::string& name, bool describe) {
    ImageEntry entry;
    entry.name = name;
    entry.verdict = name_verdict(name);
    if (entry.verdict == ImageVerdict::hidden) return entry;
    char info_path[info_path_size];
    const int n = snprintf(info_path, sizeof info_path, image_info_format, name.c_str());
    if (n < 0 || static_cast<size_t>(n) >= sizeof info_path) {
        entry.verdict = ImageVerdict::long_name;
        return entry;
    }
    if (!path_exists(on_medium(top, info_path).c_str())) {
        entry.verdict = ImageVerdict::no_info;
        return entry;
    }
    if (entry.verdict == ImageVerdict::unwritable_name)
        entry.logged = std::string(images_dir) + "/" + printable_name(name) + ": " +
                       verdict_words(entry.verdict);
    else if (entry.verdict == ImageVerdict::long_name)
        entry.logged = std::string(info_path) + ": " + verdict_words(entry.verdict);
    else if (describe)
        entry.label =
            is_numbered_image(name) ? numbered_label(name, description_of(top, info_path)) : name;
    return entry;
}

}  // namespace

bool is_numbered_image(const std::string& name) {
    return name.size() == 1 && name[0] >= first_numbered_image && name[0] <= last_numbered_image;
}

ImageVerdict name_verdict(const std::string& name) {
    if (name.empty() || name[0] == '.') return ImageVerdict::hidden;
    if (name.find_first_of(unwritable_name_chars) != std::string::npos)
        return ImageVerdict::unwritable_name;
    if (name.size() >= image_label_size) return ImageVerdict::long_name;
    return ImageVerdict::listed;
}

const char* verdict_words(ImageVerdict verdict) {
    switch (verdict) {
        case ImageVerdict::hidden:
            return "image name begins with a dot, not listed";
        case ImageVerdict::no_info:
            return "no .obinfo, not listed";
        case ImageVerdict::unwritable_name:
            return "image name holds a blank, tab or line end, not listed";
        case ImageVerdict::long_name:
            return "image name longer than 63 characters, not listed";
        case ImageVerdict::over_limit:
            return "12 images listed before it, not listed";
        case ImageVerdict::listed:
            break;
    }
    return "listed";
}

ImageScan scan_images(const std::string& top) {
    ImageScan scan;
    std::vector<std::string> names;
    if (kernel().list_dir(on_medium(top, images_dir).c_str(), names) < 0) return scan;
    for (const std::string& name : names) {
        const bool room = scan.listed.size() < static_cast<size_t>(max_listed_images);
        ImageEntry entry = judge(top, name, room);
        if (!room) {
            // The menu no longer looks at entries once it has 12.
            entry.logged.clear();
            if (entry.verdict == ImageVerdict::listed) entry.verdict = ImageVerdict::over_limit;
        }
        if (entry.verdict == ImageVerdict::listed)
            scan.listed.push_back(entry);
        else if (entry.verdict != ImageVerdict::hidden)
            scan.left_out.push_back(entry);
    }
    std::sort(scan.listed.begin(), scan.listed.end(), [](const ImageEntry& a, const ImageEntry& b) {
        return strcmp(a.label.c_str(), b.label.c_str()) < 0;
    });
    return scan;
}

int preselected_entry(const std::vector<std::string>& names, const std::string& word) {
    int entry = 0;
    for (size_t k = 0; k < names.size(); ++k)
        if (names[k] == word) entry = static_cast<int>(k);
    return entry;
}

}  // namespace ob
