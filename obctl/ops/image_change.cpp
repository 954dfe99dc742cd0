// Removing, renaming and labelling images. The image the box runs from is
// never removed or renamed; the choice follows the image.
#include <errno.h>
#include <string.h>
#include <sys/stat.h>

#include <vector>

#include "choice.h"
#include "control_file.h"
#include "image_entries.h"
#include "image_names.h"
#include "kernel.h"
#include "leftovers.h"
#include "medium.h"
#include "medium_write.h"
#include "operations.h"
#include "selection_file.h"
#include "tree_removal.h"

namespace obctl {

namespace {

// More than any .obinfo holds; a bigger one is not rewritten.
constexpr size_t largest_info = 64 * 1024;

// The entry NAME of the image directory exists (as anything); an error
// otherwise.
Outcome image_entry(const Medium& medium, const std::string& name, struct stat& st) {
    if (!ob::plain_image_name(name.c_str()) || name[0] == '.' || name == ob::flash_name)
        return outcome(Outcome::refused, "\"" + name + "\" names no image");
    if (ob::kernel().lstat(medium.image(name).c_str(), &st) != 0)
        return outcome(Outcome::not_found,
                       "no image " + name + " on the medium (" + shown_image(name) + ")");
    if (is_running_root(medium.image(name)))
        return outcome(Outcome::refused,
                       name + " is the image the box runs from; it is left as it is");
    return succeeded();
}

// The choice files that name `from` name `to` afterwards.
bool move_choices(const Medium& medium, const std::string& from, const std::string& to,
                  std::string& error) {
    for (const char* box_path : {ob::selection_file, ob::one_shot_file}) {
        std::string word;
        if (ob::read_boot_selection(medium.path(box_path).c_str(), word) !=
                ob::BootSelection::named ||
            word != from)
            continue;
        const bool moved = box_path == ob::one_shot_file && to == ob::flash_name
                               ? remove_medium_file(medium, medium.path(box_path), error)
                               : store_choice(medium, box_path, to, error);
        if (!moved) return false;
    }
    return true;
}

Outcome remove_directory(const Medium& medium, const std::string& name) {
    clean_leftovers(medium);
    const std::string hidden = medium.image(unused_hidden_name(medium, removal_prefix));
    if (ob::kernel().rename(medium.image(name).c_str(), hidden.c_str()) != 0)
        return outcome(Outcome::failed,
                       shown_image(name) + ": " + strerror(errno) + "; not removed");
    flush_directory(hidden);
    std::string error;
    const bool removed = remove_tree(hidden, error);
    flush_directory(hidden);
    if (!removed)
        return outcome(Outcome::failed,
                       "no longer listed, but not all deleted: " + shown_path(medium, error));
    return succeeded();
}

// The .obinfo with its first word replaced by text.
bool relabelled(const std::string& path, const std::string& text, std::string& content) {
    std::vector<char> old(largest_info + 1);
    const long got = ob::read_control_file(path.c_str(), old.data(), old.size(), largest_info);
    if (got >= static_cast<long>(largest_info)) return false;
    const std::string before(old.data(), got > 0 ? static_cast<size_t>(got) : 0);
    const size_t word_end = before.find_first_of(ob::value_separators);
    content = text + (word_end == std::string::npos ? "\n" : before.substr(word_end));
    return true;
}

}  // namespace

Outcome removable_image(const Medium& medium, const std::string& name) {
    struct stat st;
    return image_entry(medium, name, st);
}

Outcome remove_image(const Medium& medium, const std::string& name) {
    struct stat st;
    const Outcome entry = image_entry(medium, name, st);
    if (!entry.ok()) return entry;
    std::string error;
    // The choice first: a cut after it leaves the image and Flash chosen.
    if (!move_choices(medium, name, ob::flash_name, error)) return outcome(Outcome::failed, error);
    if (S_ISDIR(st.st_mode)) return remove_directory(medium, name);
    if (!remove_medium_file(medium, medium.image(name), error))
        return outcome(Outcome::failed, error);
    return succeeded();
}

Outcome rename_image(const Medium& medium, const std::string& from, const std::string& to) {
    struct stat st;
    const Outcome entry = image_entry(medium, from, st);
    if (!entry.ok()) return entry;
    const std::string refused = refused_image_name(to);
    if (!refused.empty()) return outcome(Outcome::refused, refused);
    if (ob::kernel().lstat(medium.image(to).c_str(), &st) == 0 || errno != ENOENT)
        return outcome(Outcome::in_use, shown_image(to) + " is there already");
    if (ob::kernel().rename(medium.image(from).c_str(), medium.image(to).c_str()) != 0)
        return outcome(Outcome::failed,
                       shown_image(from) + ": " + strerror(errno) + "; not renamed");
    flush_directory(medium.image(to));
    std::string error;
    if (!move_choices(medium, from, to, error)) return outcome(Outcome::failed, error);
    return succeeded();
}

Outcome label_image(const Medium& medium, const std::string& name, const std::string& text) {
    if (!ob::is_numbered_image(name))
        return outcome(Outcome::refused,
                       "the menu shows a label only for the numbered images 1 to 8; " + name +
                           " is shown by its name (obctl rename changes it)");
    struct stat st;
    if (ob::kernel().stat(medium.image(name).c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
        return outcome(Outcome::not_found,
                       "no image " + name + " on the medium (" + shown_image(name) + ")");
    const std::string refused = refused_label(text);
    if (!refused.empty()) return outcome(Outcome::refused, refused);
    const std::string info = medium.image(name) + "/.obinfo";
    std::string content;
    if (!relabelled(info, text, content))
        return outcome(Outcome::refused, shown_path(medium, info) + " is too large to rewrite");
    std::string error;
    if (!write_medium_file(medium, info, content, error)) return outcome(Outcome::failed, error);
    return succeeded();
}

}  // namespace obctl
