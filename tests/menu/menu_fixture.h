// A whole box for the boot-menu tests: the fake kernel with a 1280 x 720
// framebuffer, the menu font, a start logo, a remote control, the front
// panel and a boot medium to fill with images and control files.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <jpeglib.h>
#include <stdio.h>

#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "fake_kernel.h"
#include "framebuffer.h"
#include "front_panel.h"
#include "medium.h"
#include "menu_state.h"
#include "text.h"

namespace menu_test {

using namespace orbiel;

constexpr const char* test_font = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";

inline std::string host_file(const char* path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A plain dark 1280 x 720 JPEG, made once per test program.
inline const std::string& start_logo_jpeg() {
    static const std::string jpeg = [] {
        unsigned char* out = nullptr;
        unsigned long size = 0;
        jpeg_compress_struct cinfo;
        jpeg_error_mgr errors;
        cinfo.err = jpeg_std_error(&errors);
        jpeg_create_compress(&cinfo);
        jpeg_mem_dest(&cinfo, &out, &size);
        cinfo.image_width = 1280;
        cinfo.image_height = 720;
        cinfo.input_components = 3;
        cinfo.in_color_space = JCS_RGB;
        jpeg_set_defaults(&cinfo);
        jpeg_start_compress(&cinfo, TRUE);
        std::vector<JSAMPLE> row(1280 * 3);
        for (size_t i = 0; i < row.size(); i += 3) {
            row[i] = 16;
            row[i + 1] = 40;
            row[i + 2] = 72;
        }
        while (cinfo.next_scanline < cinfo.image_height) {
            JSAMPROW rows[1] = {row.data()};
            jpeg_write_scanlines(&cinfo, rows, 1);
        }
        jpeg_finish_compress(&cinfo);
        jpeg_destroy_compress(&cinfo);
        std::string bytes(reinterpret_cast<char*>(out), size);
        free(out);
        return bytes;
    }();
    return jpeg;
}

inline uint32_t rgba(color c) {
    return c.r | c.g << 8 | c.b << 16 | static_cast<uint32_t>(c.a) << 24;
}

// An input device that also looks at the screen whenever the menu reads it,
// which is once per pass of a stage.
class Probe : public ob_test::FakeInputDevice {
public:
    std::function<void(int64_t now_ms)> on_read;
    ssize_t read(void* buf, size_t count) override {
        if (on_read && kernel != nullptr) on_read(kernel->now_ms);
        return FakeInputDevice::read(buf, count);
    }
};

class MenuTest : public ::testing::Test {
protected:
    ob_test::FakeKernel kernel;
    ob_test::FakeFramebuffer* screen = nullptr;
    ob_test::FakeInputDevice* remote = nullptr;
    ob_test::FakeDevice* panel = nullptr;
    int64_t start_ms = 0;

    virtual bool with_remote() const { return true; }

    void SetUp() override {
        reset_menu_state();
        start_ms = kernel.now_ms;
        modelname = "dm900";
        box_model = 1;  // the 128 x 64 panel
        snprintf(credit_text, sizeof credit_text, "%s", "menu test credits");
        screen = &kernel.add_device("/dev/fb0", std::make_unique<ob_test::FakeFramebuffer>());
        fb = kernel.open("/dev/fb0", O_RDWR);
        ASSERT_GE(fb, 0);
        ASSERT_TRUE(read_fixed_info());
        ASSERT_TRUE(read_variable_info());
        ASSERT_TRUE(put_mode(1280, 720));
        ASSERT_TRUE(read_fixed_info());
        ASSERT_TRUE(map_framebuffer());
        kernel.write_file(ob::default_font, host_file(test_font));
        snprintf(font, sizeof font, "%s", ob::default_font);
        ASSERT_TRUE(menu_font_init());
        kernel.write_file(ob::default_logo, start_logo_jpeg());
        kernel.make_dir(ob::images_dir);
        if (with_remote())
            remote = &kernel.add_device("/dev/input/event0",
                                        std::make_unique<ob_test::FakeInputDevice>());
        panel = &kernel.add_device(panel_device, std::make_unique<ob_test::FakeDevice>());
    }

    void TearDown() override {
        menu_font_done();
        unmap_framebuffer();
        if (fb >= 0) kernel.close(fb);
        fb = -1;
    }

    // ---- The medium ----
    void image(const std::string& name, const std::string& info = "") {
        kernel.write_file(std::string(ob::images_dir) + "/" + name + "/.obinfo", info);
    }
    void image_without_info(const std::string& name) {
        kernel.make_dir(std::string(ob::images_dir) + "/" + name);
    }
    void selection(const std::string& content) { kernel.write_file(ob::selection_file, content); }
    std::string selection() const { return kernel.read_file(ob::selection_file); }

    // ---- The remote: a key stroke (press and release) ms after the start ----
    void press(int64_t after_ms, uint16_t code) { remote->key(start_ms + after_ms, code); }

    // ---- The screen ----
    uint32_t pixel(int x, int y) const { return screen->pixel(x, y); }
    int count(int x0, int y0, int x1, int y1, color c) const {
        int n = 0;
        for (int y = y0; y <= y1; ++y)
            for (int x = x0; x <= x1; ++x)
                n += pixel(x, y) == rgba(c);
        return n;
    }
    static int baseline(int k) { return 106 + 46 * k; }
    // Pixels of colour c in the label of entry k (above the baseline, where
    // no neighbour's descenders reach).
    int label_pixels(int k, color c) const {
        return count(200, baseline(k) - 30, 1200, baseline(k) - 1, c);
    }
    // Pixels of colour c where the cursor and the boot mark stand.
    int mark_pixels(int k, color c) const {
        return count(88, baseline(k) - 30, 128, baseline(k) - 1, c);
    }
    void save_screen(const std::string& name) const {
        EXPECT_TRUE(screen->save_png("screen_" + name + ".png"));
    }
};

}  // namespace menu_test
