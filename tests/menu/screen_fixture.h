// The test box: the fake kernel with an in-memory framebuffer at /dev/fb0,
// set up through orbiel's own calls; for the menu tests also a medium, a
// start logo, a scripted remote control and the front panel.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/input.h>

#include <algorithm>
#include <fstream>
#include <functional>

#include "fake_kernel.h"
#include "framebuffer.h"
#include "front_panel.h"
#include "medium.h"
#include "test_pictures.h"
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

    // A JPEG at a box path.
    void put_picture(const std::string& path, int width = 1280, int height = 720,
                     int components = 3, Scans scans = Scans::baseline) {
        kernel.write_file(path, "");
        ASSERT_TRUE(
            write_jpeg(kernel.host_path(path.c_str()), width, height, components, 95, 0, scans));
    }

    uint32_t pixel(int x, int y) const { return screen->pixel(x, y); }
    int count(int x0, int y0, int x1, int y1, orbiel::color c) const {
        int n = 0;
        for (int y = y0; y <= y1; ++y)
            for (int x = x0; x <= x1; ++x)
                n += pixel(x, y) == rgba(c);
        return n;
    }

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
                    b.right = std::max(b.right, x);
                    b.bottom = y;
                }
        return b;
    }

    // Screens for review go to the tests' working directory (the build tree).
    void save_screen(const std::string& name) const {
        EXPECT_TRUE(screen->save_png("screen_" + name + ".png"));
    }
};

// The whole box of the boot-menu tests on a 1280 x 720 screen, with a 128 x 64
// panel and a remote on /dev/input/event0.
class MenuTest : public ScreenTest {
protected:
    FakeInputDevice* remote = nullptr;
    FakeDevice* panel = nullptr;
    int64_t start_ms = 0;

    void SetUp() override {
        ScreenTest::SetUp();
        start_ms = kernel.now_ms;
        orbiel::modelname = "dm900";
        orbiel::box_model = 1;
        snprintf(orbiel::credit_text, sizeof orbiel::credit_text, "%s", "menu test credits");
        open_screen(1280, 720);
        install_font();
        put_picture(ob::default_logo);
        kernel.make_dir(ob::images_dir);
        remote = &kernel.add_device("/dev/input/event0", std::make_unique<FakeInputDevice>());
        panel = &kernel.add_device(orbiel::panel_device, std::make_unique<FakeDevice>());
    }

    void image(const std::string& name, const std::string& info = "") {
        kernel.write_file(std::string(ob::images_dir) + "/" + name + "/.obinfo", info);
    }
    void selection(const std::string& content) { kernel.write_file(ob::selection_file, content); }
    std::string selection() const { return kernel.read_file(ob::selection_file); }
    // A key stroke (press and release) ms after the start.
    void press(int64_t after_ms, uint16_t code) { remote->key(start_ms + after_ms, code); }
    int64_t elapsed_ms() const { return kernel.now_ms - start_ms; }

    // Pixels of colour c in the label of entry k (above its baseline, where
    // no neighbour's descenders reach), and where its cursor and boot mark stand.
    int label_pixels(int k, orbiel::color c) const {
        return count(200, 76 + 46 * k, 1200, 105 + 46 * k, c);
    }
    int mark_pixels(int k, orbiel::color c) const {
        return count(88, 76 + 46 * k, 128, 105 + 46 * k, c);
    }
};

// An input device that also calls on_read whenever the menu reads it, which
// is once per pass of a stage: a look at the screen as the user sees it.
class Probe : public FakeInputDevice {
public:
    std::function<void(int64_t now_ms)> on_read;
    ssize_t read(void* buf, size_t count) override {
        if (on_read && kernel != nullptr) on_read(kernel->now_ms);
        return FakeInputDevice::read(buf, count);
    }
};

}  // namespace ob_test
