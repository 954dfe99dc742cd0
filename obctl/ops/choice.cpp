#include "choice.h"

#include <string.h>

#include "control_file.h"
#include "medium.h"
#include "medium_view.h"
#include "medium_write.h"
#include "operations.h"
#include "selection_file.h"

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
    return write_medium_file(medium, shown(box_path), name + "\n", error);
}

namespace {

Outcome store_if_choosable(const Medium& medium, const char* box_path, const std::string& name) {
    std::string error;
    if (!choosable(medium, name, error)) return outcome(Outcome::refused, error);
    if (!store_choice(medium, box_path, name, error)) return outcome(Outcome::failed, error);
    return succeeded();
}

}  // namespace

Outcome set_default(const Medium& medium, const std::string& name) {
    return store_if_choosable(medium, ob::selection_file, name);
}

Outcome set_oneshot(const Medium& medium, const std::string& name) {
    return store_if_choosable(medium, ob::one_shot_file, name);
}

}  // namespace obctl
