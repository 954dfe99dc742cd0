// JPEG logos: the mode follows the picture, the picture lands pixel for
// pixel, and bad pictures leave the screen, the program and its files as
// they were.
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
        fill_box(0, 0, 1279, 719, yellow);
    }
    // A picture in the medium's logo folder; returns its box path.
    std::string make_picture(const std::string& name, int width, int height, int components = 3) {
        const std::string path = std::string(ob::logo_dir) + name;
        kernel.write_file(path, "");
        EXPECT_TRUE(ob_test::write_jpeg(host(path), width, height, components));
        return path;
    }
    std::string host(const std::string& path) { return kernel.host_path(path.c_str()); }

    // Every screen pixel is the library's own decoding of the file, opaque.
    void expect_screen_shows(const std::string& path) {
        int width = 0, height = 0, components = 0;
        std::vector<uint8_t> decoded;
        ob_test::decode_jpeg(host(path), decoded, width, height, components);
        ASSERT_EQ(screen->xres(), static_cast<unsigned>(width));
        ASSERT_EQ(screen->yres(), static_cast<unsigned>(height));
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) {
                const uint8_t* d = &decoded[(static_cast<size_t>(y) * width + x) * components];
                const int g = components == 1 ? 0 : 1, b = components == 1 ? 0 : 2;
                ASSERT_EQ(pixel(x, y), rgba({d[0], d[g], d[b], 0xFF})) << x << "," << y;
            }
    }
};

TEST_F(LogoTest, PicturesSwitchTheModeToTheirSizeAndLandPixelForPixel) {
    const struct {
        int width, height, components;
    } pictures[] = {{1280, 720, 3}, {1920, 1080, 3}, {2000, 1000, 3}, {1280, 720, 1}};
    for (const auto& p : pictures) {
        const std::string path = make_picture("logo.jpg", p.width, p.height, p.components);
        EXPECT_EQ(show_jpeg(path.c_str()), 0);
        EXPECT_EQ(w, p.width);
        EXPECT_EQ(h, p.height);
        EXPECT_EQ(var_screeninfo.bits_per_pixel, 32u);
        expect_screen_shows(path);
        EXPECT_EQ(fbmem_len, static_cast<size_t>(fix_screeninfo.smem_len));
        if (p.width == 1920) {
            EXPECT_TRUE(screen->save_png(screen_file("logo_1920x1080")));
        }
    }
    EXPECT_EQ(kernel.stderr_text, "");
}

TEST_F(LogoTest, RefusedPicturesLeaveScreenAndFilesAsTheyWere) {
    make_picture("small.jpg", 1280, 719);
    make_picture("print.jpg", 1280, 720, 4);
    kernel.write_file("/media/ob/logos/text.jpg", "this is not a picture\n");
    const std::string whole = kernel.read_file(make_picture("cut.jpg", 1280, 720));
    kernel.write_file("/media/ob/logos/cut.jpg", whole.substr(0, 100));
    const struct {
        const char* name;
        const char* message;  // nullptr: the library's own
    } cases[] = {
        {"small.jpg", "jpeg size is 1280x719 - should be at least 1280x720\n"},
        {"none.jpg", "open /media/ob/logos/none.jpg failed\n"},
        {"text.jpg", "Not a JPEG file: starts with 0x74 0x68\n"},
        {"print.jpg",
         "jpeg /media/ob/logos/print.jpg is CMYK - only colour and greyscale pictures are shown\n"},
        {"cut.jpg", nullptr},
    };
    const int descriptors = open_host_descriptors();
    for (const auto& c : cases) {
        kernel.stderr_text.clear();
        EXPECT_EQ(show_jpeg((std::string(ob::logo_dir) + c.name).c_str()), 1) << c.name;
        if (c.message) {
            EXPECT_EQ(kernel.stderr_text, c.message);
        }
        EXPECT_NE(kernel.stderr_text, "") << c.name;
        EXPECT_EQ(screen->xres(), 1280u);
        EXPECT_EQ(screen->yres(), 720u);
        EXPECT_EQ(pixel(1279, 719), rgba(yellow)) << c.name;
        EXPECT_EQ(w, 0);
        EXPECT_EQ(open_host_descriptors(), descriptors) << c.name;
    }
    // The decoder works as before after all that.
    EXPECT_EQ(show_jpeg(make_picture("good.jpg", 1280, 720).c_str()), 0);
}

TEST_F(LogoTest, PictureCutInItsDataShowsWhatThereIs) {
    const std::string path = make_picture("half.jpg", 1280, 720);
    const std::string whole = kernel.read_file(path);
    kernel.write_file(path, whole.substr(0, whole.size() / 2));
    EXPECT_EQ(show_jpeg(path.c_str()), 0);
    EXPECT_EQ(kernel.stderr_text, "Premature end of JPEG file\n");
    EXPECT_EQ(pixel(1279, 719) >> 24, 0xFFu);  // the rest in the decoder's grey
}

TEST_F(LogoTest, RefusedModeIsReportedAfterTheSizeIsTaken) {
    screen->fail_put = true;
    EXPECT_EQ(show_jpeg(make_picture("hd.jpg", 1280, 720).c_str()), 1);
    EXPECT_EQ(kernel.stderr_text, "Framebuffer: <FBIOPUT_VSCREENINFO fehlgeschlagen>\n");
    EXPECT_EQ(w, 1280);
}

TEST_F(LogoTest, StartLogoMakesThePlaneOpaqueAndWaitsForTheRemote) {
    const std::string waiting =
        "waiting for input from remote ...\n--------------------------------------------\n";
    EXPECT_EQ(show_start_logo(), 0);  // neither alpha file nor logo
    EXPECT_FALSE(kernel.exists(ob::stb_video_alpha));
    EXPECT_EQ(kernel.stderr_text, "open /media/ob/logos/orbiel.jpg failed\n");
    EXPECT_EQ(kernel.stdout_text, waiting);

    kernel.write_file(ob::stb_video_alpha, "0");
    const std::string path = make_picture("orbiel.jpg", 1280, 720);
    kernel.stdout_text.clear();
    EXPECT_EQ(show_start_logo(), 0);
    EXPECT_EQ(kernel.read_file(ob::stb_video_alpha), "255");
    expect_screen_shows(path);
    EXPECT_EQ(kernel.stdout_text, waiting);
}

}  // namespace
