// Removing, renaming and labelling images, each through the image
// directory's handle. The image the box runs from is never removed or
// renamed; the choice follows the image.
#include <errno.h>
#include <fcntl.h>
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

// The entry `name` of the image directory, which exists (as anything) and
// is not the running root; an error otherwise.
Outcome image_entry(const Medium& medium, const std::string& name, DirHandle& images,
                    struct stat& st) {
    if (!ob::plain_image_name(name.c_str()) || name[0] == '.' || name == ob::flash_name)
        return outcome(Outcome::refused, "\"" + name + "\" names no image");
    std::string error;
    if (!medium.images(images, error)) return outcome(Outcome::not_found, error);
    if (!images.stat(name, st))
        return outcome(Outcome::not_found,
                       "no image " + name + " on the medium (" + shown_image(name) + ")");
    if (is_running_root(st))
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
                               ? remove_medium_file(medium, shown(box_path), error)
                               : store_choice(medium, box_path, to, error);
        if (!moved) return false;
    }
    return true;
}

// Renamed to a hidden name first, so that a cut leaves no half image listed.
Outcome remove_directory(const Medium& medium, const DirHandle& images, const std::string& name) {
    clean_leftovers(medium);
    const std::string hidden = unused_hidden_name(images, removal_prefix);
    if (ob::kernel().renameat(images.fd(), name.c_str(), images.fd(), hidden.c_str()) != 0)
        return outcome(Outcome::failed, handle_failure(shown_image(name), errno) + "; not removed");
    flush_directory(images);
    std::string error;
    const bool removed = remove_tree(images, hidden, error);
    flush_directory(images);
    if (!removed)
        return outcome(Outcome::failed, "no longer listed, but not all deleted: " + error +
                                            " (the next obctl remove or check finishes it)");
    return succeeded();
}

// The image's .obinfo, never through a link (an image's own link could lead
// anywhere); empty when there is none, false when it is too large.
bool read_info(const DirHandle& image, std::string& content) {
    content.clear();
    const int fd =
        ob::kernel().openat(image.fd(), ".obinfo", O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return true;
    struct stat st;
    bool fits = ob::kernel().fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    std::vector<char> block(largest_info + 1);
    ssize_t got = 0;
    while (fits && (got = ob::kernel().read(fd, block.data(), block.size())) > 0) {
        content.append(block.data(), static_cast<size_t>(got));
        fits = content.size() < largest_info;
    }
    ob::kernel().close(fd);
    if (!S_ISREG(st.st_mode)) content.clear();
    return fits || !S_ISREG(st.st_mode);
}

// The .obinfo with its first word replaced by text.
std::string relabelled(const std::string& before, const std::string& text) {
    const size_t word_end = before.find_first_of(ob::value_separators);
    return text + (word_end == std::string::npos ? "\n" : before.substr(word_end));
}

}  // namespace

Outcome removable_image(const Medium& medium, const std::string& name) {
    DirHandle images;
    struct stat st;
    return image_entry(medium, name, images, st);
}

Outcome remove_image(const Medium& medium, const std::string& name) {
    DirHandle images;
    struct stat st;
    const Outcome entry = image_entry(medium, name, images, st);
    if (!entry.ok()) return entry;
    std::string error;
    // The choice first: a cut after it leaves the image and Flash chosen.
    if (!move_choices(medium, name, ob::flash_name, error)) return outcome(Outcome::failed, error);
    if (S_ISDIR(st.st_mode)) return remove_directory(medium, images, name);
    if (ob::kernel().unlinkat(images.fd(), name.c_str(), 0) != 0)
        return outcome(Outcome::failed, handle_failure(shown_image(name), errno));
    flush_directory(images);
    return succeeded();
}

Outcome rename_image(const Medium& medium, const std::string& from, const std::string& to) {
    DirHandle images;
    struct stat st;
    const Outcome entry = image_entry(medium, from, images, st);
    if (!entry.ok()) return entry;
    const std::string refused = refused_image_name(to);
    if (!refused.empty()) return outcome(Outcome::refused, refused);
    if (images.stat(to, st) || errno != ENOENT)
        return outcome(Outcome::in_use, shown_image(to) + " is there already");
    if (ob::kernel().renameat(images.fd(), from.c_str(), images.fd(), to.c_str()) != 0)
        return outcome(Outcome::failed, handle_failure(shown_image(from), errno) + "; not renamed");
    flush_directory(images);
    std::string error;
    if (!move_choices(medium, from, to, error)) return outcome(Outcome::failed, error);
    return succeeded();
}

Outcome label_image(const Medium& medium, const std::string& name, const std::string& text) {
    if (!ob::is_numbered_image(name))
        return outcome(Outcome::refused,
                       "the menu shows a label only for the numbered images 1 to 8; " + name +
                           " is shown by its name (obctl rename changes it)");
    DirHandle images;
    DirHandle image;
    std::string error;
    if (!medium.images(images, error) || !images.open_below(name, image))
        return outcome(Outcome::not_found,
                       "no image " + name + " on the medium (" + shown_image(name) + ")");
    const std::string refused = refused_label(text);
    if (!refused.empty()) return outcome(Outcome::refused, refused);
    std::string before;
    if (!read_info(image, before))
        return outcome(Outcome::refused, image.shown(".obinfo") + " is too large to rewrite");
    if (!write_file_in(image, ".obinfo", relabelled(before, text), error))
        return outcome(Outcome::failed, error);
    return succeeded();
}

}  // namespace obctl
