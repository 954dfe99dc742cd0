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
    void add_file(const std::string& path, const std::string& content) {
        kernel.write_file(path, content);
    }
    void add_logo(const std::string& name) {
        const std::string path = std::string(ob::logo_dir) + name;
        kernel.write_file(path, "");
        ASSERT_TRUE(ob_test::write_jpeg(kernel.host_path(path.c_str()), 1280, 720, 3));
    }
    void add_font(const std::string& name) {
        add_file(ob::font_dir + name, ob_test::host_file_content(ob_test::dejavu_sans));
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
    };
    for (const auto& c : cases)
        EXPECT_EQ(run(c.args), c.message + dashes);
    EXPECT_EQ(screen->opens, 0);
}

TEST_F(EntryTest, ArgumentsNameTheLogoAndFontToPreview) {
    add_logo("mine.jpg");
    add_font("mine.ttf");
    EXPECT_EQ(run({"mine.jpg", "mine.ttf", "bar"}), "\nFramebuffer failed\n");
    EXPECT_STREQ(bootpicture, "/media/ob/logos/mine.jpg");
    EXPECT_STREQ(picturearg, "mine.jpg");
    EXPECT_STREQ(font, "/media/ob/fonts/mine.ttf");
    EXPECT_STREQ(fontarg, "mine.ttf");
    EXPECT_EQ(logo_arg + extra_arg, 2);
    run();
    EXPECT_STREQ(bootpicture, "/media/ob/logos/orbiel.jpg");
    EXPECT_STREQ(fontarg, "orbiel.ttf");
    EXPECT_EQ(logo_arg + extra_arg, 0);
}

TEST_F(EntryTest, AccentColourIsTheLowByteOfTheColourFile) {
    const struct {
        const char* content;  // nullptr: no file
        uint8_t level;
    } cases[] = {{nullptr, 64}, {"127", 127}, {"128", 0},   {"200", 0}, {"300", 44},
                 {"-1", 0},     {"", 0},      {"96\n", 96}, {" 50", 0}, {"50 7", 50}};
    for (const auto& c : cases) {
        c.content ? add_file(ob::color_file, c.content) : (void)kernel.unlink(ob::color_file);
        run();
        EXPECT_EQ(rgba(barcolor), rgba({c.level, c.level, c.level, 0xFF})) << c.content;
    }
}

TEST_F(EntryTest, BoxModelAndPanelComeFromTheKernelRelease) {
    const struct {
        const char* release;
        int model, display;
        const char* model_text;
    } cases[] = {{"3.4-4.0-dm525", 3, 0, "dm525"},  // the dm520 family has no front panel
                 {"3.14.28-1.12-dm900", 4, 1, "dm900"},
                 {"4.9.0-generic", 1, 1, ""}};
    for (const auto& c : cases) {
        kernel.release = c.release;
        run();
        EXPECT_EQ(box_model * 10 + has_display, c.model * 10 + c.display) << c.release;
        EXPECT_STREQ(modelname, c.model_text);
    }
    kernel.uname_fails = true;
    EXPECT_EQ(run(), "Couldnt get kernel name!\n\nFramebuffer failed\n");
}

TEST_F(EntryTest, ResolutionFileChoosesTheMode) {
    add_framebuffer(720, 576);
    const struct {
        const char* content;
        unsigned width, height;
    } cases[] = {{nullptr, 1280, 720}, {"1080p", 1920, 1080}, {" 1080", 1280, 720},
                 {"1366", 1366, 768},  {"720", 1280, 720},    {"1080\n", 1920, 1080}};
    for (const auto& c : cases) {
        c.content ? add_file(ob::resolution_file, c.content)
                  : (void)kernel.unlink(ob::resolution_file);
        run();  // without a font it ends after the mapping
        EXPECT_EQ(screen->xres() * 10000 + screen->yres(), c.width * 10000 + c.height);
        EXPECT_EQ(screen->bpp(), 32u);
    }
}

TEST_F(EntryTest, SetUpFailuresAreReported) {
    EXPECT_EQ(run(), "\nFramebuffer failed\n");
    add_framebuffer();
    const struct {
        const char* failing;  // the recorded call that fails once
        std::string message;
    } cases[] = {
        {"ioctl(\"/dev/fb0\", 0x4602)", "Framebuffer: <FBIOGET_FSCREENINFO fehlgeschlagen>\n"},
        {"ioctl(\"/dev/fb0\", 0x4600)", "Framebuffer: <FBIOGET_VSCREENINFO fehlgeschlagen>\n"},
        {"ioctl(\"/dev/fb0\", 0x4601)", "Framebuffer: <FBIOPUT_VSCREENINFO fehlgeschlagen>\n"},
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
    EXPECT_EQ(screen->closes, screen->opens);
}

TEST_F(EntryTest, OnlyAnEightBitModeGetsThePalette) {
    add_framebuffer().grant_bpp = 8;
    run();
    EXPECT_EQ(screen->cmap_start, 1u);
    EXPECT_EQ(screen->cmap_red, (std::vector<uint16_t>{0xFF00, 0, 0, 0, 0xFF00, 0, 0xE800, 0xFF00,
                                                       0xB000, 0, 0x5000, 0, 0x5000, 0}));
    EXPECT_EQ(screen->cmap_green,
              (std::vector<uint16_t>{0xFF00, 0, 0, 0x8000, 0xC000, 0xD000, 0xE800, 0, 0xB000,
                                     0xFF00, 0x5000, 0, 0x5000, 0x4000}));
    EXPECT_EQ(screen->cmap_blue,
              (std::vector<uint16_t>{0xFF00, 0, 0x8000, 0xFF00, 0, 0, 0, 0, 0xB000, 0, 0x5000,
                                     0x8000, 0x5000, 0xFF00}));
    EXPECT_EQ(screen->cmap_transp,
              (std::vector<uint16_t>{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x80FF, 0x80FF, 0}));
    for (unsigned bpp : {16u, 32u}) {
        add_framebuffer().grant_bpp = bpp;
        run();
        EXPECT_EQ(requests(FBIOPUTCMAP), 0u) << bpp;
    }
}

TEST_F(EntryTest, NormalRunClearsTheScreenAndRestoresTheMode) {
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
}

TEST_F(EntryTest, PreviewLeavesThePictureStanding) {
    add_framebuffer();
    add_font("mine.ttf");
    add_logo("mine.jpg");
    run({"mine.jpg", "mine.ttf"});
    EXPECT_EQ(requests(FBIOPUT_VSCREENINFO), 2u);    // set-up and picture, no restore
    EXPECT_EQ(screen->pixel(0, 0), rgba(barcolor));  // the band covers columns 0 to 180
    EXPECT_EQ(screen->pixel(180, 719), rgba(barcolor));
    EXPECT_NE(screen->pixel(181, 719), rgba(barcolor));
    EXPECT_TRUE(screen->save_png(screen_file("preview_run")));
}

}  // namespace
