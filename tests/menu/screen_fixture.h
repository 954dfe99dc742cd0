// A screen for the display tests: the fake kernel with an in-memory
// framebuffer at /dev/fb0, set up through orbiel's own framebuffer calls.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "fake_kernel.h"
#include "framebuffer.h"
#include "medium.h"
#include "menu_state.h"
#include "text.h"

namespace ob_test {

// A real kerning font, read by its absolute host path (works under qemu-user).
constexpr const char* dejavu_sans = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";

inline std::string host_file_content(const char* path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline uint32_t rgba(orbiel::color c) {
    return c.r | c.g << 8 | c.b << 16 | static_cast<uint32_t>(c.a) << 24;
}

class ScreenTest : public ::testing::Test {
protected:
    FakeKernel kernel;
    FakeFramebuffer* screen = nullptr;

    void SetUp() override { orbiel::reset_menu_state(); }
    void TearDown() override {
        orbiel::menu_font_done();
        orbiel::unmap_framebuffer();
    }

    FakeFramebuffer& add_framebuffer(unsigned xres = 1280, unsigned yres = 720) {
        screen = &kernel.add_device("/dev/fb0", std::make_unique<FakeFramebuffer>(xres, yres, 32));
        return *screen;
    }

    // A width x height screen set up as the entry does it; the driver grants
    // grant_bpp bits per pixel when that is not 0. The box's 16-bit mode maps
    // the chroma plane below the luma plane, so that mode gets 2 x height rows.
    void open_screen(unsigned width, unsigned height, unsigned grant_bpp = 0) {
        add_framebuffer(width, height).grant_bpp = grant_bpp;
        orbiel::fb = kernel.open("/dev/fb0", O_RDWR);
        ASSERT_TRUE(orbiel::read_fixed_info() && orbiel::read_variable_info());
        ASSERT_TRUE(orbiel::put_mode(static_cast<int>(width), static_cast<int>(height)));
        if (grant_bpp == 16) {
            orbiel::var_screeninfo.yres_virtual = 2 * height;
            ASSERT_EQ(kernel.ioctl(orbiel::fb, FBIOPUT_VSCREENINFO, &orbiel::var_screeninfo), 0);
        }
        ASSERT_TRUE(orbiel::read_fixed_info() && orbiel::map_framebuffer());
    }

    // The menu font as the entry sets it up, with DejaVu Sans as orbiel.ttf.
    void install_font() {
        kernel.write_file(ob::default_font, host_file_content(dejavu_sans));
        snprintf(orbiel::font, sizeof orbiel::font, "%s", ob::default_font);
        ASSERT_TRUE(orbiel::menu_font_init());
    }

    uint32_t pixel(int x, int y) const { return screen->pixel(x, y); }

    // Rows y0..y1 of columns x0..x1 as text: '#' where the pixel is `value`.
    std::vector<std::string> picture(int x0, int y0, int x1, int y1, uint32_t value) const {
        std::vector<std::string> rows;
        for (int y = y0; y <= y1; ++y) {
            rows.emplace_back();
            for (int x = x0; x <= x1; ++x)
                rows.back() += pixel(x, y) == value ? '#' : '.';
        }
        return rows;
    }

    // Bounding box of the pixels that are not zero; left is -1 when none are.
    struct box {
        int left = -1, top = -1, right = -1, bottom = -1;
    };
    box drawn_box() const {
        box b;
        for (int y = 0; y < static_cast<int>(screen->yres()); ++y)
            for (int x = 0; x < static_cast<int>(screen->xres()); ++x)
                if (pixel(x, y) != 0) {
                    if (b.left < 0 || x < b.left) b.left = x;
                    if (b.top < 0) b.top = y;
                    if (x > b.right) b.right = x;
                    b.bottom = y;
                }
        return b;
    }

    // Screens for review go to the tests' working directory (the build tree).
    static std::string screen_file(const std::string& name) { return "screen_" + name + ".png"; }
};

}  // namespace ob_test
