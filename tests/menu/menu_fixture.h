// A whole box for the boot-menu tests: the display tests' 1280 x 720 screen
// and menu font, plus a start logo, a remote control, the front panel and a
// boot medium to fill with images and control files.
#pragma once

#include <linux/input.h>

#include <functional>
#include <string>

#include "front_panel.h"
#include "screen_fixture.h"
#include "test_pictures.h"

namespace menu_test {

using namespace orbiel;
using ob_test::rgba;

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

class MenuTest : public ob_test::ScreenTest {
protected:
    ob_test::FakeInputDevice* remote = nullptr;
    ob_test::FakeDevice* panel = nullptr;
    int64_t start_ms = 0;

    virtual bool with_remote() const { return true; }

    void SetUp() override {
        ScreenTest::SetUp();
        start_ms = kernel.now_ms;
        modelname = "dm900";
        box_model = 1;  // the 128 x 64 panel
        snprintf(credit_text, sizeof credit_text, "%s", "menu test credits");
        open_screen(1280, 720);
        install_font();
        put_picture(ob::default_logo);
        kernel.make_dir(ob::images_dir);
        if (with_remote())
            remote = &kernel.add_device("/dev/input/event0",
                                        std::make_unique<ob_test::FakeInputDevice>());
        panel = &kernel.add_device(panel_device, std::make_unique<ob_test::FakeDevice>());
    }

    // ---- The medium ----
    // A 1280 x 720 JPEG at a box path.
    void put_picture(const std::string& path) {
        kernel.write_file(path, "");
        ASSERT_TRUE(ob_test::write_jpeg(kernel.host_path(path.c_str()), 1280, 720, 3));
    }
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
        EXPECT_TRUE(screen->save_png(screen_file(name)));
    }
};

}  // namespace menu_test
