// JPEG logos: the mode follows the picture, the picture lands pixel for pixel,
// and bad pictures leave the screen and the program as they were.
#include "logo.h"

#include <dirent.h>

#include "draw.h"
#include "screen_fixture.h"
#include "test_pictures.h"

namespace {

using namespace orbiel;
using ob_test::rgba;

int open_host_descriptors() {
    int count = 0;
    if (DIR* dir = opendir("/proc/self/fd")) {
        while (readdir(dir) != nullptr)
            ++count;
        closedir(dir);
    }
    return count;
}

class LogoTest : public ob_test::ScreenTest {
protected:
    void SetUp() override {
        ScreenTest::SetUp();
        open_screen(1280, 720);
    }
    // A picture on the box's medium; returns its box path.
    std::string make_picture(const std::string& name, int width, int height, int components = 3) {
        const std::string path = std::string(ob::logo_dir) + name;
        kernel.write_file(path, "");
        const int wd = width, ht = height;
        EXPECT_TRUE(ob_test::write_jpeg(host(path), width, height, components,
                                        [wd, ht, components](int x, int y, uint8_t* p) {
                                            uint8_t rgb[3];
                                            ob_test::quarters(wd, ht, x, y, rgb);
                                            for (int i = 0; i < components; ++i)
                                                p[i] = rgb[i % 3];
                                        }));
        return path;
    }
    std::string host(const std::string& path) { return kernel.host_path(path.c_str()); }

    // Every screen pixel equals the library's own decoding of the file.
    void expect_screen_shows(const std::string& path) {
        int width = 0, height = 0, components = 0;
        const std::vector<uint8_t> decoded =
            ob_test::decode_jpeg(host(path), &width, &height, &components);
        ASSERT_FALSE(decoded.empty());
        ASSERT_EQ(screen->xres(), static_cast<unsigned>(width));
        ASSERT_EQ(screen->yres(), static_cast<unsigned>(height));
        int wrong = 0;
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) {
                const uint8_t* d = &decoded[(static_cast<size_t>(y) * width + x) * components];
                const color want =
                    components == 1 ? color{d[0], d[0], d[0], 0xFF} : color{d[0], d[1], d[2], 0xFF};
                if (pixel(x, y) != rgba(want) && wrong++ < 3)
                    ADD_FAILURE() << "pixel " << x << "," << y << " is " << std::hex << pixel(x, y)
                                  << " instead of " << rgba(want);
            }
        EXPECT_EQ(wrong, 0);
    }
    void fill_screen_marker() { fill_box(0, 0, 1279, 719, yellow); }
    void expect_screen_untouched() {
        EXPECT_EQ(screen->xres(), 1280u);
        EXPECT_EQ(screen->yres(), 720u);
        EXPECT_EQ(pixel(0, 0), rgba(yellow));
        EXPECT_EQ(pixel(1279, 719), rgba(yellow));
        EXPECT_EQ(w, 0);
        EXPECT_EQ(h, 0);
    }
};

TEST_F(LogoTest, PictureOfTheScreenSizeIsCopiedPixelForPixel) {
    const std::string path = make_picture("hd.jpg", 1280, 720);
    EXPECT_EQ(show_jpeg(path.c_str()), 0);
    EXPECT_EQ(w, 1280);
    EXPECT_EQ(h, 720);
    expect_screen_shows(path);
    EXPECT_EQ(kernel.stderr_text, "");
}

TEST_F(LogoTest, LargerPictureSwitchesTheModeToItsSize) {
    const std::string path = make_picture("fullhd.jpg", 1920, 1080);
    EXPECT_EQ(show_jpeg(path.c_str()), 0);
    EXPECT_EQ(w, 1920);
    EXPECT_EQ(h, 1080);
    EXPECT_EQ(var_screeninfo.xres, 1920u);
    EXPECT_EQ(var_screeninfo.yres_virtual, 1080u);
    EXPECT_EQ(var_screeninfo.bits_per_pixel, 32u);
    expect_screen_shows(path);
    EXPECT_TRUE(screen->save_png(screen_file("logo_1920x1080")));
}

TEST_F(LogoTest, OddSizeIsRequestedAsItIs) {
    const std::string path = make_picture("wide.jpg", 2000, 1000);
    EXPECT_EQ(show_jpeg(path.c_str()), 0);
    EXPECT_EQ(screen->xres(), 2000u);
    EXPECT_EQ(screen->yres(), 1000u);
    EXPECT_EQ(pixel(1999, 999) >> 24, 0xFFu);
}

TEST_F(LogoTest, GreyscalePictureShowsInGrey) {
    const std::string path = make_picture("grey.jpg", 1280, 720, 1);
    EXPECT_EQ(show_jpeg(path.c_str()), 0);
    expect_screen_shows(path);
    const uint32_t p = pixel(640, 100);
    EXPECT_EQ(p & 0xFF, (p >> 8) & 0xFF);
    EXPECT_EQ(p & 0xFF, (p >> 16) & 0xFF);
}

TEST_F(LogoTest, TooSmallPictureIsRefusedAndTheScreenKept) {
    fill_screen_marker();
    const std::string path = make_picture("small.jpg", 1280, 719);
    const int descriptors = open_host_descriptors();
    EXPECT_EQ(show_jpeg(path.c_str()), 1);
    EXPECT_EQ(kernel.stderr_text, "jpeg size is 1280x719 - should be at least 1280x720\n");
    expect_screen_untouched();
    EXPECT_EQ(open_host_descriptors(), descriptors);
}

TEST_F(LogoTest, MissingPictureIsReported) {
    fill_screen_marker();
    EXPECT_EQ(show_jpeg("/media/ob/logos/none.jpg"), 1);
    EXPECT_EQ(kernel.stderr_text, "open /media/ob/logos/none.jpg failed\n");
    expect_screen_untouched();
}

TEST_F(LogoTest, FileThatIsNoJpegIsReportedAndTheMenuGoesOn) {
    fill_screen_marker();
    kernel.write_file("/media/ob/logos/text.jpg", "this is not a picture\n");
    const int descriptors = open_host_descriptors();
    EXPECT_EQ(show_jpeg("/media/ob/logos/text.jpg"), 1);
    EXPECT_EQ(kernel.stderr_text, "Not a JPEG file: starts with 0x74 0x68\n");
    expect_screen_untouched();
    EXPECT_EQ(open_host_descriptors(), descriptors);
    // The decoder is usable again afterwards.
    EXPECT_EQ(show_jpeg(make_picture("good.jpg", 1280, 720).c_str()), 0);
}

TEST_F(LogoTest, PictureCutInItsHeaderIsRefused) {
    fill_screen_marker();
    const std::string path = make_picture("cut.jpg", 1280, 720);
    kernel.write_file(path, kernel.read_file(path).substr(0, 100));
    EXPECT_EQ(show_jpeg(path.c_str()), 1);
    EXPECT_NE(kernel.stderr_text, "");
    expect_screen_untouched();
}

TEST_F(LogoTest, PictureCutInItsDataShowsWhatThereIs) {
    const std::string path = make_picture("half.jpg", 1280, 720);
    const std::string whole = kernel.read_file(path);
    kernel.write_file(path, whole.substr(0, whole.size() / 2));
    EXPECT_EQ(show_jpeg(path.c_str()), 0);
    EXPECT_EQ(kernel.stderr_text, "Premature end of JPEG file\n");
    EXPECT_EQ(w, 1280);
    EXPECT_EQ(pixel(0, 0) >> 24, 0xFFu);
    EXPECT_EQ(pixel(1279, 719) >> 24, 0xFFu);  // the rest in the decoder's grey
}

TEST_F(LogoTest, CmykPictureIsRefusedClearly) {
    fill_screen_marker();
    const std::string path = make_picture("print.jpg", 1280, 720, 4);
    EXPECT_EQ(show_jpeg(path.c_str()), 1);
    EXPECT_EQ(kernel.stderr_text,
              "jpeg /media/ob/logos/print.jpg is CMYK - only colour and greyscale pictures are "
              "shown\n");
    expect_screen_untouched();
}

TEST_F(LogoTest, RefusedModeIsReportedAfterTheSizeIsTaken) {
    screen->fail_put = true;
    const std::string path = make_picture("hd.jpg", 1280, 720);
    EXPECT_EQ(show_jpeg(path.c_str()), 1);
    EXPECT_EQ(kernel.stderr_text, "Framebuffer: <FBIOPUT_VSCREENINFO fehlgeschlagen>\n");
    EXPECT_EQ(w, 1280);
    EXPECT_EQ(h, 720);
}

TEST_F(LogoTest, EveryPictureReplacesTheMapping) {
    const std::string path = make_picture("hd.jpg", 1280, 720);
    for (int i = 0; i < 3; ++i)
        ASSERT_EQ(show_jpeg(path.c_str()), 0);
    EXPECT_EQ(fbmem_len, static_cast<size_t>(fix_screeninfo.smem_len));
    expect_screen_shows(path);
}

TEST_F(LogoTest, StartLogoMakesThePlaneOpaqueAndWaitsForTheRemote) {
    kernel.write_file(ob::stb_video_alpha, "0");
    const std::string path = make_picture("orbiel.jpg", 1280, 720);
    EXPECT_EQ(show_start_logo(), 0);
    EXPECT_EQ(kernel.read_file(ob::stb_video_alpha), "255");
    expect_screen_shows(path);
    EXPECT_EQ(kernel.stdout_text,
              "waiting for input from remote ...\n"
              "--------------------------------------------\n");
}

TEST_F(LogoTest, StartLogoWithoutAlphaFileOrLogo) {
    EXPECT_EQ(show_start_logo(), 0);
    EXPECT_FALSE(kernel.exists(ob::stb_video_alpha));
    EXPECT_EQ(kernel.stderr_text, "open /media/ob/logos/orbiel.jpg failed\n");
    EXPECT_EQ(kernel.stdout_text,
              "waiting for input from remote ...\n"
              "--------------------------------------------\n");
    make_picture("orbiel.jpg", 1280, 720);
    EXPECT_EQ(show_start_logo(), 0);
    EXPECT_EQ(w, 1280);
}

TEST_F(LogoTest, PreviewShowsTheGivenLogoWithTheAccentBand) {
    const std::string path = make_picture("mine.jpg", 1920, 1080);
    logo_arg = 1;
    snprintf(bootpicture, sizeof bootpicture, "%s", path.c_str());
    barcolor = {100, 100, 100, 0xFF};
    EXPECT_EQ(show_start_logo(), 0);
    EXPECT_EQ(kernel.stdout_text, "");
    EXPECT_EQ(pixel(0, 0), rgba(barcolor));
    EXPECT_EQ(pixel(180, 1079), rgba(barcolor));
    EXPECT_NE(pixel(181, 0), rgba(barcolor));
    EXPECT_EQ(pixel(181, 0) >> 24, 0xFFu);
    EXPECT_TRUE(screen->save_png(screen_file("preview_logo")));
}

}  // namespace
