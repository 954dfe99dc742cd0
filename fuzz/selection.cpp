// obboot.ini as process 1 reads it (the image to boot) and as the menu reads
// it (the preselected entry).
#include <string.h>

#include "fuzz_box.h"
#include "image_list.h"
#include "medium.h"
#include "menu_state.h"
#include "obinit.h"
#include "selection.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ob_test::FakeKernel kernel;
    obinit::state() = obinit::RunState{};
    orbiel::reset_menu_state();
    kernel.write_file(ob::selection_file, ob_fuzz::bytes(data, size));
    kernel.write_file("/media/ob/ob/img/.obinfo", "img\n");
    ob_fuzz::run_to_end([] {
        obinit::read_selection();
        const char* chosen = obinit::state().selection;
        if (strnlen(chosen, obinit::selection_size) >= obinit::selection_size) __builtin_trap();
        // Whatever the file says, the choice is a plain name: no way out of
        // the image directory.
        if (strchr(chosen, '/') != nullptr || strcmp(chosen, "..") == 0 || strcmp(chosen, ".") == 0)
            __builtin_trap();
        orbiel::read_stored_selection();
        if (strnlen(orbiel::stored_selection, sizeof orbiel::stored_selection) >=
            sizeof orbiel::stored_selection)
            __builtin_trap();
        orbiel::scan_images();
        orbiel::find_preselection();
        if (orbiel::default_index < 0 || orbiel::default_index > orbiel::image_count)
            __builtin_trap();
    });
    return 0;
}
