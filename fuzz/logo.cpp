// A JPEG picture shown on the (fake) framebuffer: the header, the size
// checks, the decoding and the copy into the screen rows.
#include <fcntl.h>

#include "framebuffer.h"
#include "fuzz_box.h"
#include "logo.h"
#include "menu_state.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ob_test::FakeKernel kernel;
    orbiel::reset_menu_state();
    kernel.add_device("/dev/fb0", std::make_unique<ob_test::FakeFramebuffer>(1280, 720, 32));
    kernel.write_file("/media/ob/logos/fuzz.jpg", ob_fuzz::bytes(data, size));
    orbiel::fb = kernel.open("/dev/fb0", O_RDWR);
    if (orbiel::read_fixed_info() && orbiel::read_variable_info() && orbiel::put_mode(1280, 720) &&
        orbiel::read_fixed_info() && orbiel::map_framebuffer()) {
        ob_fuzz::run_to_end([] { orbiel::show_jpeg("/media/ob/logos/fuzz.jpg"); });
    }
    orbiel::unmap_framebuffer();
    return 0;
}
