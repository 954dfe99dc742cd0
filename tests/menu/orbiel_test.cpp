// orbiel's entry: banner, settings, argument refusals, box model, framebuffer
// and font set-up with their failure messages, tear-down.
#include "orbiel.h"

#include <algorithm>

#include "screen_fixture.h"

namespace {

using namespace orbiel;
using ob_test::rgba;

const std::string dashes = "--------------------------------------------\n";
const std::string banner =
    dashes + "Orbiel V12.45 Orbiel free build\nBuild Dec 24 2016 13:48:48\n" + dashes;

class EntryTest : public ob_test::ScreenTest {
protected:
    // Runs the program with args; returns what it printed after the banner.
    std::string run(std::vector<std::string> args = {}) {
        args.insert(args.begin(), "/media/ob/bin/orbiel");
        std::vector<char*> argv;
        for (std::string& a : args)
            argv.push_back(&a[0]);
        argv.push_back(nullptr);
        kernel.stdout_text.clear();
        EXPECT_EQ(orbiel_main(static_cast<int>(args.size()), argv.data()), 0);
        EXPECT_EQ(kernel.stdout_text.compare(0, banner.size(), banner), 0);
        return kernel.stdout_text.substr(std::min(banner.size(), kernel.stdout_text.size()));
    }
    void add_logo(const std::string& name) { put_picture(std::string(ob::logo_dir) + name); }
    void add_font(const std::string& name) {
        kernel.write_file(ob::font_dir + name, ob_test::host_file_content(ob_test::dejavu_sans));
    }
    // Runs once for each content of a settings file (nullptr: no file).
    template <typename T, typename Check>
    void for_each_file(const char* path, const std::vector<std::pair<const char*, T>>& cases,
                       Check check) {
        for (const auto& c : cases) {
            SCOPED_TRACE(c.first ? c.first : "(none)");
            c.first ? kernel.write_file(path, c.first) : (void)kernel.unlink(path);
            run();
            check(c.second);
        }
    }
    size_t requests(unsigned long request) const {
        return static_cast<size_t>(
            std::count(screen->ioctls.begin(), screen->ioctls.end(), request));
    }
};

TEST_F(EntryTest, RefusedArgumentsEndTheProgramBeforeTheFramebuffer) {
    add_framebuffer();
    add_logo("mine.jpg");
    add_font("mine.ttf");
    // Cut to the 59 characters the name buffer holds, this would be mine.jpg.
    const std::string long_name = std::string(51, '/') + "mine.jpg" + "-old.jpg";
    add_logo(long_name.substr(0, 59));
    const std::string long_font = std::string(51, '/') + "mine.ttf" + "-old.ttf";
    const struct {
        std::vector<std::string> args;
        std::string message;
    } cases[] = {
        {{"logo.png"}, "Only jpg supported as logo, sorry!\n"},
        {{"x.jpg"}, "/media/ob/logos/x.jpg not found, sorry!\n"},
        {{long_name}, "/media/ob/logos/" + long_name + " not found, sorry!\n"},
        {{"mine.jpg", "font.otf"}, "Only ttf supported as font, sorry!\n"},
        {{"mine.jpg", "none.ttf"}, "/media/ob/fonts/none.ttf not found, sorry!\n"},
        {{"mine.jpg", long_font}, "/media/ob/fonts/" + long_font + " not found, sorry!\n"},
        // Only regular files: the decoder and FreeType would wait on a FIFO.
        {{"fifo.jpg"}, "/media/ob/logos/fifo.jpg not found, sorry!\n"},
        {{"mine.jpg", "fifo.ttf"}, "/media/ob/fonts/fifo.ttf not found, sorry!\n"},
    };
    kernel.make_fifo(std::string(ob::logo_dir) + "fifo.jpg");
    kernel.make_fifo(std::string(ob::font_dir) + "fifo.ttf");
    for (const auto& c : cases)
        EXPECT_EQ(run(c.args), c.message + dashes);
    EXPECT_EQ(screen->opens, 0);
}

TEST_F(EntryTest, SettingsComeFromTheMediumAndTheKernelRelease) {
    add_framebuffer(720, 576);
    for_each_file<int>(
        ob::color_file,
        {{nullptr, 64}, {"127", 127}, {"128", 0}, {"300", 44}, {"96\n", 96}, {" 50", 0}},
        [&](int v) { EXPECT_EQ(rgba(barcolor), 0xFF000000u | v << 16 | v << 8 | v); });
    for_each_file<unsigned>(  // width * 10000 + height
        ob::resolution_file,
        {{nullptr, 12800720}, {"1080p", 19201080}, {" 1080", 12800720}, {"1366", 13660768}},
        [&](unsigned mode) {
            EXPECT_EQ(screen->xres() * 10000 + screen->yres(), mode);
            EXPECT_EQ(screen->bpp(), 32u);
        });
    kernel.release = "3.4-4.0-dm525";  // the dm520 family has no front panel
    run();
    EXPECT_EQ(has_display, 0);
    EXPECT_STREQ(modelname, "dm525");
    kernel.release = "4.9.0-generic";  // no model: the default, nothing in the header
    run();
    EXPECT_EQ(box_model * 10 + has_display, 11);
    EXPECT_STREQ(modelname, "");
    kernel.uname_fails = true;
    EXPECT_EQ(run().rfind("Couldnt get kernel name!\n", 0), 0u);
}

TEST_F(EntryTest, SetUpFailuresAreReported) {
    EXPECT_EQ(run(), "\nFramebuffer failed\n");
    add_framebuffer();
    const struct {
        const char* failing;  // the recorded call that fails once
        std::string message;
    } cases[] = {
        {R"(ioctl("/dev/fb0", 0x4602))", "Framebuffer: <FBIOGET_FSCREENINFO fehlgeschlagen>\n"},
        {R"(ioctl("/dev/fb0", 0x4600))", "Framebuffer: <FBIOGET_VSCREENINFO fehlgeschlagen>\n"},
        {R"(ioctl("/dev/fb0", 0x4601))", "Framebuffer: <FBIOPUT_VSCREENINFO fehlgeschlagen>\n"},
    };
    for (const auto& c : cases) {
        kernel.fail(c.failing, EINVAL, 1);
        EXPECT_EQ(run(), c.message);
    }
    EXPECT_EQ(run(),  // no font
              "Freetype <Schrift \"/media/ob/fonts/orbiel.ttf\" fehlgeschlagen>\n"
              "Freetype <FTC_Manager_LookupFace fehlgeschlagen. Fehler: 0x01>\n");
    EXPECT_EQ(fbmem, nullptr);  // the mapping is released
    EXPECT_EQ(error, 1);
    kernel.make_fifo(ob::default_font);  // never handed to FreeType, which would wait on it
    EXPECT_EQ(run(),
              "Freetype <Schrift \"/media/ob/fonts/orbiel.ttf\" fehlgeschlagen>\n"
              "Freetype <FTC_Manager_LookupFace fehlgeschlagen. Fehler: 0x01>\n");
    EXPECT_EQ(screen->closes, screen->opens);
}

TEST_F(EntryTest, NormalRunClearsTheScreenAndRestoresTheModeAndPreviewLeavesThePicture) {
    add_framebuffer(720, 576);
    add_font("orbiel.ttf");
    add_logo("orbiel.jpg");
    run();
    EXPECT_EQ(screen->xres(), 1280u);
    EXPECT_EQ(requests(FBIOPUT_VSCREENINFO), 3u);  // set-up, start logo, tear-down
    EXPECT_EQ(requests(FBIO_SET_MANUAL_BLIT), 1u);
    const uint8_t* mem = screen->memory();
    EXPECT_TRUE(std::all_of(mem, mem + screen->memory_size(), [](uint8_t b) { return b == 0; }));
    EXPECT_EQ(screen->closes, screen->opens);
    EXPECT_EQ(library, nullptr);
    add_framebuffer();
    run({"orbiel.jpg", "orbiel.ttf"});
    EXPECT_EQ(requests(FBIOPUT_VSCREENINFO), 2u);    // set-up and picture, no restore
    EXPECT_EQ(screen->pixel(0, 0), rgba(barcolor));  // the band covers columns 0 to 180
    EXPECT_EQ(screen->pixel(180, 719), rgba(barcolor));
    EXPECT_NE(screen->pixel(181, 719), rgba(barcolor));
    save_screen("preview_run");
}

TEST_F(EntryTest, OnlyADriverGrantingEightBitsGetsThePalette) {
    add_font("orbiel.ttf");
    const std::vector<uint16_t> red = {0xFF00, 0,      0, 0,      0xFF00, 0,      0xE800,
                                       0xFF00, 0xB000, 0, 0x5000, 0,      0x5000, 0};
    const std::vector<uint16_t> green = {0xFF00, 0,      0,      0x8000, 0xC000, 0xD000, 0xE800,
                                         0,      0xB000, 0xFF00, 0x5000, 0,      0x5000, 0x4000};
    const std::vector<uint16_t> blue = {0xFF00, 0,      0x8000, 0xFF00, 0,      0,      0,
                                        0,      0xB000, 0,      0x5000, 0x8000, 0x5000, 0xFF00};
    std::vector<uint16_t> transp(14, 0);
    transp[11] = transp[12] = 0x80FF;  // entries 12 and 13 are half transparent
    for (unsigned bpp : {8u, 16u, 32u}) {
        SCOPED_TRACE(bpp);
        add_framebuffer().grant_bpp = bpp;
        run();
        EXPECT_EQ(requests(FBIOPUTCMAP), bpp == 8 ? 1u : 0u);
        if (bpp != 8) continue;
        EXPECT_EQ(screen->cmap_start, 1u);
        EXPECT_EQ(screen->cmap_red, red);
        EXPECT_EQ(screen->cmap_green, green);
        EXPECT_EQ(screen->cmap_blue, blue);
        EXPECT_EQ(screen->cmap_transp, transp);
    }
}

// A picture mode the driver refuses leaves the mode it reports: the drawing
// and the tear-down go by that, not by the size and depth asked for.
TEST_F(EntryTest, ARefusedPictureModeLeavesTheModeTheDriverReports) {
    struct NarrowDriver : ob_test::FakeFramebuffer {
        NarrowDriver() : FakeFramebuffer(1280, 720, 32) {}
        int ioctl(unsigned long request, void* arg) override {
            if (request == FBIOPUT_VSCREENINFO &&
                static_cast<fb_var_screeninfo*>(arg)->xres > 1280) {
                errno = EINVAL;
                return -1;
            }
            return FakeFramebuffer::ioctl(request, arg);
        }
    };
    screen = &kernel.add_device("/dev/fb0", std::make_unique<NarrowDriver>());
    add_font("orbiel.ttf");
    put_picture(ob::default_logo, 1920, 1080);
    const std::string out = run();
    EXPECT_EQ(out.find("fehlgeschlagen"), std::string::npos);  // the tear-down's mode is granted
    EXPECT_NE(kernel.stderr_text.find("Framebuffer: <FBIOPUT_VSCREENINFO fehlgeschlagen>\n"),
              std::string::npos);
    EXPECT_EQ(var_screeninfo.xres * 10000 + var_screeninfo.yres, 12800720u);
    EXPECT_EQ(var_screeninfo.bits_per_pixel, 32u);
    EXPECT_EQ(requests(FBIOPUT_VSCREENINFO), 3u);  // set-up, refused picture, tear-down
    const uint8_t* mem = screen->memory();
    EXPECT_TRUE(std::all_of(mem, mem + screen->memory_size(), [](uint8_t b) { return b == 0; }));
}

}  // namespace
