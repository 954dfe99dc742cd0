// The .obinfo of an image (a numbered image's description comes from it) and
// the labels the menu lists.
#include <string.h>

#include "fuzz_box.h"
#include "image_list.h"
#include "menu_state.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ob_test::FakeKernel kernel;
    orbiel::reset_menu_state();
    const std::string info = ob_fuzz::bytes(data, size);
    for (const char* image : {"1", "8", "img", "OpenPLi-9.0"})
        kernel.write_file(std::string("/media/ob/ob/") + image + "/.obinfo", info);
    ob_fuzz::run_to_end([] {
        orbiel::scan_images();
        if (orbiel::image_count < 0 || orbiel::image_count > orbiel::max_images) __builtin_trap();
        for (int k = 0; k <= orbiel::image_count; ++k) {
            if (strnlen(orbiel::image_table[k], orbiel::label_size) >= orbiel::label_size)
                __builtin_trap();
            char name[orbiel::label_size];
            orbiel::entry_name(k, name, sizeof name);
        }
        orbiel::find_preselection();
    });
    return 0;
}
