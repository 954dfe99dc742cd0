// A screen for the display tests: the fake kernel with an in-memory
// framebuffer at /dev/fb0, set up through orbiel's own framebuffer calls.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <string.h>

#include <algorithm>
#include <fstream>
#include <functional>
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

// A real kerning font; the tests read it by its absolute host path, which
// works under qemu-user as well.
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
        if (orbiel::fb >= 0) kernel.close(orbiel::fb);
        orbiel::fb = -1;
    }

    // The framebuffer device, without opening it.
    FakeFramebuffer& add_framebuffer(unsigned xres = 1280, unsigned yres = 720, unsigned bpp = 32) {
        screen = &kernel.add_device("/dev/fb0", std::make_unique<FakeFramebuffer>(xres, yres, bpp));
        return *screen;
    }

    // A width x height screen in the mode the program asks for; the driver
    // grants grant_bpp bits per pixel when that is not 0.
    void open_screen(unsigned width, unsigned height, unsigned grant_bpp = 0) {
        add_framebuffer(width, height).grant_bpp = grant_bpp;
        orbiel::fb = kernel.open("/dev/fb0", O_RDWR);
        ASSERT_GE(orbiel::fb, 0);
        ASSERT_TRUE(orbiel::read_fixed_info());
        ASSERT_TRUE(orbiel::read_variable_info());
        ASSERT_TRUE(orbiel::put_mode(static_cast<int>(width), static_cast<int>(height)));
        ASSERT_TRUE(orbiel::read_fixed_info());
        ASSERT_TRUE(orbiel::map_framebuffer());
    }

    // The box's 16-bit mode: a luma plane of yres rows with the chroma plane
    // of another yres rows below it in the same mapping.
    void open_yuv_screen(unsigned width, unsigned height) {
        open_screen(width, height, 16);
        orbiel::var_screeninfo.yres_virtual = 2 * height;
        ASSERT_EQ(kernel.ioctl(orbiel::fb, FBIOPUT_VSCREENINFO, &orbiel::var_screeninfo), 0);
        ASSERT_TRUE(orbiel::read_fixed_info());
        ASSERT_TRUE(orbiel::map_framebuffer());
        ASSERT_GE(orbiel::fbmem_len, 2 * height * screen->line_length());
    }

    // The menu font as the entry sets it up, with DejaVu Sans as orbiel.ttf.
    void install_font() {
        kernel.write_file(ob::default_font, host_file_content(dejavu_sans));
        snprintf(orbiel::font, sizeof orbiel::font, "%s", ob::default_font);
        ASSERT_TRUE(orbiel::menu_font_init());
    }

    uint32_t pixel(int x, int y) const { return screen->pixel(x, y); }

    // Rows y0..y1 of columns x0..x1 as text: '#' where the pixel satisfies
    // `set`, '.' elsewhere.
    std::vector<std::string> picture(int x0, int y0, int x1, int y1,
                                     const std::function<bool(uint32_t)>& set) const {
        std::vector<std::string> rows;
        for (int y = y0; y <= y1; ++y) {
            std::string row;
            for (int x = x0; x <= x1; ++x)
                row += set(pixel(x, y)) ? '#' : '.';
            rows.push_back(row);
        }
        return rows;
    }
    std::vector<std::string> picture(int x0, int y0, int x1, int y1, orbiel::color c) const {
        const uint32_t want = rgba(c);
        return picture(x0, y0, x1, y1, [want](uint32_t p) { return p == want; });
    }

    // Bounding box of the pixels that are not zero: {left, top, right, bottom},
    // all -1 when there are none.
    struct box {
        int left = -1, top = -1, right = -1, bottom = -1;
        bool empty() const { return left < 0; }
    };
    box drawn_box(int x0, int y0, int x1, int y1) const {
        box b;
        for (int y = y0; y <= y1; ++y)
            for (int x = x0; x <= x1; ++x) {
                if (pixel(x, y) == 0) continue;
                if (b.empty()) b = {x, y, x, y};
                b.left = std::min(b.left, x);
                b.right = std::max(b.right, x);
                b.top = std::min(b.top, y);
                b.bottom = std::max(b.bottom, y);
            }
        return b;
    }

    // Where review screens go: the tests' working directory (the build tree).
    static std::string screen_file(const std::string& name) { return "screen_" + name + ".png"; }
};

}  // namespace ob_test
