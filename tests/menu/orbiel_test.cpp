// orbiel's entry: banner, settings, argument refusals, box model, framebuffer
// and font set-up with their failure messages, tear-down.
#include "orbiel.h"

#include <algorithm>

#include "screen_fixture.h"
#include "test_pictures.h"

namespace {

using namespace orbiel;
using ob_test::rgba;

const std::string dashes = "--------------------------------------------\n";
const std::string banner = dashes +
                           "Orbiel V12.45 Orbiel free build\n"
                           "Build Dec 24 2016 13:48:48\n" +
                           dashes;

class EntryTest : public ob_test::ScreenTest {
protected:
    int run(std::vector<std::string> args = {}) {
        args.insert(args.begin(), "/media/ob/bin/orbiel");
        std::vector<char*> argv;
        for (std::string& a : args)
            argv.push_back(&a[0]);
        argv.push_back(nullptr);
        return orbiel_main(static_cast<int>(args.size()), argv.data());
    }
    void add_font(const std::string& name = "orbiel.ttf") {
        kernel.write_file(std::string(ob::font_dir) + name,
                          ob_test::host_file_content(ob_test::dejavu_sans));
    }
    void add_logo(const std::string& name, int width = 1280, int height = 720) {
        const std::string path = std::string(ob::logo_dir) + name;
        kernel.write_file(path, "");
        ASSERT_TRUE(ob_test::write_jpeg(kernel.host_path(path.c_str()), width, height, 3,
                                        [](int x, int y, uint8_t* p) {
                                            p[0] = static_cast<uint8_t>(x);
                                            p[1] = static_cast<uint8_t>(y);
                                            p[2] = 128;
                                        }));
    }
    size_t requests(unsigned long request) const {
        return static_cast<size_t>(
            std::count(screen->ioctls.begin(), screen->ioctls.end(), request));
    }
};

TEST_F(EntryTest, RefusesALogoThatIsNoJpegBeforeTouchingTheFramebuffer) {
    add_framebuffer();
    EXPECT_EQ(run({"logo.png"}), 0);
    EXPECT_EQ(kernel.stdout_text, banner + "Only jpg supported as logo, sorry!\n" + dashes);
    EXPECT_EQ(screen->opens, 0);
}

TEST_F(EntryTest, RefusesMissingLogosAndFonts) {
    add_logo("mine.jpg");
    const struct {
        std::vector<std::string> args;
        std::string message;
    } cases[] = {
        {{"x.jpg"}, "/media/ob/logos/x.jpg not found, sorry!\n"},
        {{"mine.jpg", "font.otf"}, "Only ttf supported as font, sorry!\n"},
        {{"mine.jpg", "none.ttf"}, "/media/ob/fonts/none.ttf not found, sorry!\n"},
    };
    for (const auto& c : cases) {
        kernel.stdout_text.clear();
        EXPECT_EQ(run(c.args), 0);
        EXPECT_EQ(kernel.stdout_text, banner + c.message + dashes);
    }
}

TEST_F(EntryTest, OverLongNamesAreRefusedNotCutToAnotherFile) {
    // Cut to the 59 characters the name buffer holds, the argument would
    // name this existing logo.
    const std::string existing = std::string(55, 'x') + ".jpg";
    add_logo(existing);
    const std::string longer = existing + "-old.jpg";
    EXPECT_EQ(run({longer}), 0);
    EXPECT_EQ(kernel.stdout_text,
              banner + "/media/ob/logos/" + longer + " not found, sorry!\n" + dashes);
    EXPECT_EQ(logo_arg, 0);

    add_font(std::string(55, 'f') + ".ttf");
    kernel.stdout_text.clear();
    const std::string long_font = std::string(55, 'f') + ".ttf.ttf";
    EXPECT_EQ(run({existing, long_font}), 0);
    EXPECT_EQ(kernel.stdout_text,
              banner + "/media/ob/fonts/" + long_font + " not found, sorry!\n" + dashes);
}

TEST_F(EntryTest, ArgumentsSetPreviewModeAndNames) {
    add_logo("mine.jpg");
    add_font("mine.ttf");
    EXPECT_EQ(run({"mine.jpg", "mine.ttf", "bar"}), 0);  // no framebuffer: ends there
    EXPECT_EQ(kernel.stdout_text, banner + "\nFramebuffer failed\n");
    EXPECT_STREQ(bootpicture, "/media/ob/logos/mine.jpg");
    EXPECT_STREQ(picturearg, "mine.jpg");
    EXPECT_STREQ(font, "/media/ob/fonts/mine.ttf");
    EXPECT_STREQ(fontarg, "mine.ttf");
    EXPECT_EQ(logo_arg, 1);
    EXPECT_EQ(extra_arg, 1);

    run();
    EXPECT_STREQ(bootpicture, "/media/ob/logos/orbiel.jpg");
    EXPECT_STREQ(picturearg, "orbiel.jpg");
    EXPECT_STREQ(font, "/media/ob/fonts/orbiel.ttf");
    EXPECT_STREQ(fontarg, "orbiel.ttf");
    EXPECT_EQ(logo_arg, 0);
    EXPECT_EQ(extra_arg, 0);
}

TEST_F(EntryTest, AccentColourComesFromTheLowByteOfTheColourFile) {
    const struct {
        const char* content;  // nullptr: no file
        uint8_t level;
    } cases[] = {
        {nullptr, 64}, {"127", 127}, {"128", 0},   {"200", 0}, {"300", 44},
        {"-1", 0},     {"", 0},      {"96\n", 96}, {" 50", 0}, {"50 7", 50},
    };
    for (const auto& c : cases) {
        if (c.content)
            kernel.write_file(ob::color_file, c.content);
        else
            kernel.unlink(ob::color_file);
        run();
        EXPECT_EQ(rgba(barcolor), rgba({c.level, c.level, c.level, 0xFF}))
            << (c.content ? c.content : "(none)");
    }
}

TEST_F(EntryTest, BoxModelComesFromTheKernelRelease) {
    const struct {
        const char* release;
        int model, display;
        const char* model_text;
    } cases[] = {
        {"3.14.28-1.8-dm7080", 1, 1, "dm7080"},
        {"3.4-4.0-dm820", 2, 1, "dm820"},
        {"3.4-4.0-dm520", 3, 0, "dm520"},
        {"3.4-4.0-dm525", 3, 0, "dm525"},
        {"3.14.28-1.12-dm900", 4, 1, "dm900"},
        {"3.14-dm800se", 1, 1, "dm800se"},
        {"4.9.0-generic", 1, 1, ""},
    };
    for (const auto& c : cases) {
        kernel.release = c.release;
        run();
        EXPECT_EQ(box_model, c.model) << c.release;
        EXPECT_EQ(has_display, c.display) << c.release;
        EXPECT_STREQ(modelname, c.model_text) << c.release;
    }
    kernel.uname_fails = true;
    kernel.stdout_text.clear();
    run();
    EXPECT_EQ(kernel.stdout_text, banner + "Couldnt get kernel name!\n\nFramebuffer failed\n");
    EXPECT_EQ(box_model, 1);
}

TEST_F(EntryTest, ResolutionFileChoosesTheMode) {
    add_framebuffer(720, 576);
    const struct {
        const char* content;
        unsigned width, height;
    } cases[] = {
        {nullptr, 1280, 720}, {"1080p", 1920, 1080}, {" 1080", 1280, 720},
        {"1366", 1366, 768},  {"720", 1280, 720},    {"1080\n", 1920, 1080},
    };
    for (const auto& c : cases) {
        if (c.content)
            kernel.write_file(ob::resolution_file, c.content);
        else
            kernel.unlink(ob::resolution_file);
        run();  // no font: ends after the mapping
        EXPECT_EQ(screen->xres(), c.width) << (c.content ? c.content : "(none)");
        EXPECT_EQ(screen->yres(), c.height);
        EXPECT_EQ(screen->bpp(), 32u);
    }
}

TEST_F(EntryTest, FramebufferFailuresAreReported) {
    const struct {
        const char* failing;  // the recorded call that fails
        int times;
        std::string message;
    } cases[] = {
        {"ioctl(\"/dev/fb0\", 0x4602)", 1, "Framebuffer: <FBIOGET_FSCREENINFO fehlgeschlagen>\n"},
        {"ioctl(\"/dev/fb0\", 0x4600)", 1, "Framebuffer: <FBIOGET_VSCREENINFO fehlgeschlagen>\n"},
        {"ioctl(\"/dev/fb0\", 0x4601)", 1, "Framebuffer: <FBIOPUT_VSCREENINFO fehlgeschlagen>\n"},
    };
    add_framebuffer();
    for (const auto& c : cases) {
        kernel.fail(c.failing, EINVAL, c.times);
        kernel.stdout_text.clear();
        EXPECT_EQ(run(), 0);
        EXPECT_EQ(kernel.stdout_text, banner + c.message) << c.failing;
        EXPECT_EQ(fbmem, nullptr);
    }
}

TEST_F(EntryTest, MissingFramebufferAndFontAreReported) {
    EXPECT_EQ(run(), 0);
    EXPECT_EQ(kernel.stdout_text, banner + "\nFramebuffer failed\n");

    add_framebuffer();
    kernel.stdout_text.clear();
    EXPECT_EQ(run(), 0);
    EXPECT_EQ(kernel.stdout_text,
              banner +
                  "Freetype <Schrift \"/media/ob/fonts/orbiel.ttf\" fehlgeschlagen>\n"
                  "Freetype <FTC_Manager_LookupFace fehlgeschlagen. Fehler: 0x01>\n");
    EXPECT_EQ(fbmem, nullptr);  // the mapping is released
    EXPECT_EQ(library, nullptr);
    EXPECT_EQ(error, 1);
}

TEST_F(EntryTest, EightBitModeGetsThePalette) {
    add_framebuffer().grant_bpp = 8;
    run();
    EXPECT_EQ(screen->bpp(), 8u);
    EXPECT_EQ(screen->cmap_start, 1u);
    const std::vector<uint16_t> red = {0xFF00, 0,      0, 0,      0xFF00, 0,      0xE800,
                                       0xFF00, 0xB000, 0, 0x5000, 0,      0x5000, 0};
    const std::vector<uint16_t> green = {0xFF00, 0,      0,      0x8000, 0xC000, 0xD000, 0xE800,
                                         0,      0xB000, 0xFF00, 0x5000, 0,      0x5000, 0x4000};
    const std::vector<uint16_t> blue = {0xFF00, 0,      0x8000, 0xFF00, 0,      0,      0,
                                        0,      0xB000, 0,      0x5000, 0x8000, 0x5000, 0xFF00};
    const std::vector<uint16_t> transp = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x80FF, 0x80FF, 0};
    EXPECT_EQ(screen->cmap_red, red);
    EXPECT_EQ(screen->cmap_green, green);
    EXPECT_EQ(screen->cmap_blue, blue);
    EXPECT_EQ(screen->cmap_transp, transp);

    for (unsigned bpp : {16u, 32u}) {
        add_framebuffer().grant_bpp = bpp;
        run();
        EXPECT_EQ(requests(FBIOPUTCMAP), 0u) << bpp;
    }
}

TEST_F(EntryTest, NormalRunClearsTheScreenAndRestoresTheMode) {
    add_framebuffer(720, 576);
    add_font();
    add_logo("orbiel.jpg", 1920, 1080);
    EXPECT_EQ(run(), 0);
    EXPECT_EQ(kernel.stdout_text.compare(0, banner.size(), banner), 0);
    // The start logo changed the mode; the tear-down applies it once more.
    EXPECT_EQ(screen->xres(), 1920u);
    EXPECT_EQ(requests(FBIOPUT_VSCREENINFO), 3u);
    EXPECT_EQ(requests(FBIO_SET_MANUAL_BLIT), 1u);
    const uint8_t* mem = screen->memory();
    EXPECT_TRUE(
        std::all_of(mem, mem + screen->line_length() * 1080, [](uint8_t b) { return b == 0; }));
    EXPECT_EQ(screen->closes, screen->opens);
    EXPECT_EQ(library, nullptr);
}

TEST_F(EntryTest, PreviewLeavesThePictureStanding) {
    add_framebuffer();
    add_font("mine.ttf");
    add_logo("mine.jpg");
    EXPECT_EQ(run({"mine.jpg", "mine.ttf"}), 0);
    EXPECT_EQ(requests(FBIOPUT_VSCREENINFO), 2u);  // set-up and picture, no restore
    EXPECT_EQ(screen->pixel(0, 0), rgba(barcolor));
    EXPECT_EQ(screen->pixel(1279, 719) >> 24, 0xFFu);
    EXPECT_TRUE(screen->save_png(screen_file("preview_run")));
}

}  // namespace
