#include "medium_view.h"

#include <string.h>
#include <sys/stat.h>

#include "control_file.h"
#include "kernel.h"
#include "medium.h"

namespace obctl {

namespace {

// obinit runs from the flash root, which is never one of the medium's
// image directories. When obctl itself runs from one of them, its own root
// says nothing about the next boot and is left out of the check.
bool root_is_an_image(const Medium& medium, const struct stat& root) {
    std::vector<std::string> names;
    ob::kernel().list_dir(medium.path(ob::images_dir).c_str(), names);
    for (const std::string& name : names) {
        struct stat dir;
        if (ob::kernel().lstat(medium.image(name).c_str(), &dir) == 0 && S_ISDIR(dir.st_mode) &&
            dir.st_dev == root.st_dev && dir.st_ino == root.st_ino)
            return true;
    }
    return false;
}

// The words without obinit's "Orbiel: " in front: obctl speaks for itself.
std::string without_product(const std::string& line) {
    const std::string product = "Orbiel: ";
    return line.compare(0, product.size(), product) == 0 ? line.substr(product.size()) : line;
}

Choice read_choice(const Medium& medium, const MediumView& view) {
    Choice choice;
    choice.stored_kind =
        ob::read_boot_selection(medium.path(ob::selection_file).c_str(), choice.stored);
    choice.menu_word = ob::read_menu_selection(medium.path(ob::selection_file).c_str());
    std::vector<std::string> names = {ob::flash_name};
    for (int k = 0; k < view.listed; ++k)
        names.push_back(view.images[static_cast<size_t>(k)].entry.name);
    choice.preselected = ob::preselected_entry(names, choice.menu_word);
    choice.one_shot = ob::path_exists(medium.path(ob::one_shot_file).c_str());
    if (choice.one_shot)
        choice.one_shot_kind =
            ob::read_boot_selection(medium.path(ob::one_shot_file).c_str(), choice.one_shot_name);
    return choice;
}

}  // namespace

std::string boot_problem(const Medium& medium, const std::string& name) {
    if (name == ob::flash_name) return "";
    if (!ob::plain_image_name(name.c_str()))
        return "no plain image name: obinit boots Flash for it";
    struct stat root;
    const bool root_known = ob::kernel().stat("/", &root) == 0;
    const bool flash_root = root_known && !root_is_an_image(medium, root);
    const ob::ImageBootProblem problem = ob::image_boot_problem(
        medium.path(ob::images_dir), medium.image(name), flash_root ? &root : nullptr);
    if (problem.kind == ob::ImageBootProblem::none) return "";
    return without_product(ob::image_boot_message(problem, box_image(name), ob::images_dir));
}

MediumView look_at(const Medium& medium) {
    MediumView view;
    const ob::ImageScan scan = ob::scan_images(medium.top);
    for (const ob::ImageEntry& entry : scan.listed) {
        ImageState state;
        state.entry = entry;
        state.index = ++view.listed;
        view.images.push_back(state);
    }
    for (const ob::ImageEntry& entry : scan.left_out) {
        ImageState state;
        state.entry = entry;
        view.images.push_back(state);
    }
    for (ImageState& state : view.images) {
        // A directory of that name is never booted: the word means the flash.
        state.boot_problem = state.entry.name == ob::flash_name
                                 ? "obinit boots the flash image for the name Flash"
                                 : boot_problem(medium, state.entry.name);
    }
    view.choice = read_choice(medium, view);
    return view;
}

const ImageState* find_image(const MediumView& view, const std::string& name) {
    for (const ImageState& state : view.images)
        if (state.entry.name == name) return &state;
    return nullptr;
}

}  // namespace obctl
