#include "selection.h"

#include <stdio.h>

#include <string>

#include "kernel.h"
#include "medium.h"
#include "obinit.h"
#include "selection_file.h"

namespace obinit {

static_assert(ob::boot_selection_limit < selection_size, "every word read fits the run state");

void read_selection() {
    std::string word;
    if (ob::read_boot_selection(ob::selection_file, word) == ob::BootSelection::invalid)
        ob::printf_to(2, "Orbiel: invalid image name in %s, booting Flash\n", ob::selection_file);
    snprintf(state().selection, selection_size, "%s", word.c_str());
}

}  // namespace obinit
