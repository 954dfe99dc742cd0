#include "selection.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>

#include <string>

#include "control_file.h"
#include "file_replace.h"
#include "kernel.h"
#include "medium.h"
#include "obinit.h"
#include "root_switch.h"
#include "selection_file.h"

namespace obinit {

static_assert(ob::boot_selection_limit < selection_size, "every word read fits the run state");

void read_selection() {
    std::string word;
    if (ob::read_boot_selection(ob::selection_file, word) == ob::BootSelection::invalid)
        ob::printf_to(2, "Orbiel: invalid image name in %s, booting Flash\n", ob::selection_file);
    snprintf(state().selection, selection_size, "%s", word.c_str());
}

bool take_one_shot() {
    if (!ob::path_exists(ob::one_shot_file)) return false;
    std::string word;
    const ob::BootSelection read = ob::read_boot_selection(ob::one_shot_file, word);
    if (ob::kernel().unlink(ob::one_shot_file) != 0) {
        ob::printf_to(2, "Orbiel: cannot remove %s: %s, not honoured\n", ob::one_shot_file,
                      strerror(errno));
        return false;
    }
    ob::flush_directory_of(ob::one_shot_file);
    if (read != ob::BootSelection::named) {
        ob::printf_to(2, "Orbiel: no image name in %s, not honoured\n", ob::one_shot_file);
        return false;
    }
    // A request for one boot that cannot be honoured leaves the boot as it
    // would have been without it.
    if (word != ob::flash_name) {
        const std::string root = std::string(ob::images_dir) + "/" + word;
        const ob::ImageBootProblem problem = boot_problem(root.c_str());
        if (problem.kind != ob::ImageBootProblem::none) {
            ob::printf_to(2, "%s (%s), not honoured\n",
                          ob::image_boot_message(problem, root, ob::images_dir).c_str(),
                          ob::one_shot_file);
            return false;
        }
    }
    ob::printf_to(2, "Orbiel boots %s once (%s) ...\n", word.c_str(), ob::one_shot_file);
    snprintf(state().selection, selection_size, "%s", word.c_str());
    return true;
}

}  // namespace obinit
