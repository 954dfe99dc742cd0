#include "choice.h"

#include <string.h>

#include "control_file.h"
#include "medium.h"
#include "medium_view.h"
#include "medium_write.h"
#include "selection_file.h"
#include "verbs.h"

namespace obctl {

namespace {

// The name comes back whole from obinit's reading of "name\n".
bool read_back_whole(const std::string& name) {
    return ob::plain_image_name(name.c_str()) && name.size() <= ob::boot_selection_limit &&
           strcspn(name.c_str(), ob::init_value_separators) == name.size();
}

}  // namespace

bool choosable(const Medium& medium, const std::string& name, std::string& why) {
    if (name == ob::flash_name) return true;
    if (!read_back_whole(name) || name[0] == '.') {
        why = "\"" + name + "\" is no image name obinit can read back";
        return false;
    }
    if (!ob::path_exists((medium.image(name) + "/.obinfo").c_str())) {
        why = "no image " + name + " on the medium (" + shown_image(name) + "/.obinfo)";
        return false;
    }
    const std::string problem = boot_problem(medium, name);
    if (!problem.empty()) {
        why = name + " would not boot: " + problem;
        return false;
    }
    return true;
}

bool store_choice(const Medium& medium, const char* box_path, const std::string& name,
                  std::string& error) {
    return write_medium_file(medium, medium.path(box_path), name + "\n", error);
}

int verb_set_default(const Invocation& run, const Medium& medium) {
    std::string error;
    if (!choosable(medium, run.args[0], error) ||
        !store_choice(medium, ob::selection_file, run.args[0], error))
        return fail(run, error);
    return done;
}

int verb_set_oneshot(const Invocation& run, const Medium& medium) {
    std::string error;
    if (!choosable(medium, run.args[0], error) ||
        !store_choice(medium, ob::one_shot_file, run.args[0], error))
        return fail(run, error);
    return done;
}

}  // namespace obctl
