#include "image_boot.h"

#include <errno.h>
#include <string.h>

#include <iterator>
#include <vector>

#include "kernel.h"
#include "program_check.h"
#include "resolve_below.h"

namespace ob {

namespace {

// The init program obinit would execute: the first self-mounting one that
// the kernel would start, else /sbin/init.
ImageBootProblem init_problem(const std::string& image_root) {
    std::vector<const char*> programs(std::begin(self_mounting_inits),
                                      std::end(self_mounting_inits));
    programs.push_back(plain_init);
    std::string first_problem;
    for (const char* program : programs) {
        const ProgramCheck check = check_program(image_root, program);
        if (check.startable) return {};
        if (check.present && first_problem.empty())
            first_problem = std::string(program) + " " + check.problem;
    }
    if (first_problem.empty()) return {ImageBootProblem::no_init, ""};
    return {ImageBootProblem::init_refused, first_problem};
}

// An image root must lie in the image directory: an entry that is a link
// elsewhere (into the flash, say) would have the preparation edit files and
// make mount points there. Both sides are resolved alike: the medium's "ob"
// (or /media) may itself be a link.
bool inside_images_dir(const std::string& images_dir, const std::string& image_root) {
    std::string images;
    std::string resolved;
    if (!resolve_below("", images_dir, images) || !resolve_below("", image_root, resolved))
        return false;
    const std::string prefix = images + "/";
    return resolved.size() > prefix.size() && resolved.compare(0, prefix.size(), prefix) == 0;
}

}  // namespace

ImageBootProblem image_boot_problem(const std::string& images_dir, const std::string& image_root,
                                    const struct stat* running_root) {
    struct stat image_dir;
    if (kernel().stat(image_root.c_str(), &image_dir) != 0)
        return {ImageBootProblem::cannot_enter, strerror(errno)};
    if (!S_ISDIR(image_dir.st_mode)) return {ImageBootProblem::cannot_enter, strerror(ENOTDIR)};
    if (running_root != nullptr && running_root->st_dev == image_dir.st_dev &&
        running_root->st_ino == image_dir.st_ino)
        return {ImageBootProblem::cannot_enter, "it is the running root"};
    if (!inside_images_dir(images_dir, image_root)) return {ImageBootProblem::outside, ""};
    return init_problem(image_root);
}

std::string image_boot_message(const ImageBootProblem& problem, const std::string& image_root,
                               const std::string& images_dir) {
    const std::string directory = "Orbiel: image directory " + image_root;
    switch (problem.kind) {
        case ImageBootProblem::cannot_enter:
            return "Orbiel: cannot enter image directory " + image_root + ": " + problem.detail;
        case ImageBootProblem::outside:
            return directory + " lies outside " + images_dir;
        case ImageBootProblem::no_init:
            return directory + " holds no init program";
        case ImageBootProblem::init_refused:
            return directory + " cannot start its init: " + problem.detail;
        case ImageBootProblem::none:
            break;
    }
    return "";
}

}  // namespace ob
