// JPEG logos: the mode follows the picture, the picture lands pixel for
// pixel, and bad pictures leave the screen, the program and its files as
// they were.
#include "logo.h"

#include <filesystem>

#include "draw.h"
#include "screen_fixture.h"

namespace {

using namespace orbiel;
using ob_test::rgba;

long open_host_descriptors() {
    return std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {});
}

class LogoTest : public ob_test::ScreenTest {
protected:
    void SetUp() override {
        ScreenTest::SetUp();
        open_screen(1280, 720);
        fill_box(0, 0, 1279, 719, yellow);
    }
    std::string logo(const std::string& name) { return std::string(ob::logo_dir) + name; }

    // Every screen pixel is the library's own decoding of the file, opaque.
    void expect_screen_shows(const std::string& path) {
        int width = 0, height = 0, components = 0;
        std::vector<uint8_t> decoded;
        ob_test::decode_jpeg(kernel.host_path(path.c_str()), decoded, width, height, components);
        ASSERT_EQ(screen->xres() * 10000 + screen->yres(), width * 10000u + height);
        const int g = components == 1 ? 0 : 1, b = components == 1 ? 0 : 2;
        // Row by row, then pixel by pixel only in a row that differs: ultra-HD
        // pictures have eight million pixels.
        std::vector<uint8_t> row(static_cast<size_t>(width) * 4);
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x) {
                const uint8_t* d = &decoded[(static_cast<size_t>(y) * width + x) * components];
                const uint8_t pixel_bytes[4] = {d[0], d[g], d[b], 0xFF};
                memcpy(&row[static_cast<size_t>(x) * 4], pixel_bytes, 4);
            }
            const uint8_t* shown =
                screen->memory() + static_cast<size_t>(y) * screen->line_length();
            if (memcmp(shown, row.data(), row.size()) == 0) continue;
            for (int x = 0; x < width; ++x)
                ASSERT_EQ(memcmp(shown + 4 * x, &row[4 * x], 4), 0) << x << "," << y;
        }
    }
};

TEST_F(LogoTest, PicturesSwitchTheModeToTheirSizeAndLandPixelForPixel) {
    const struct {
        int width, height, components;
        ob_test::Scans scans;
    } pictures[] = {{1920, 1080, 3, ob_test::Scans::baseline},
                    {2000, 1000, 3, ob_test::Scans::baseline},
                    {1280, 720, 1, ob_test::Scans::baseline},
                    // The widest and the tallest screen, and progressive
                    // pictures with full colour planes up to the largest.
                    {3840, 720, 3, ob_test::Scans::baseline},
                    {1280, 2160, 1, ob_test::Scans::baseline},
                    {1920, 1080, 3, ob_test::Scans::progressive_444},
                    {3840, 2160, 3, ob_test::Scans::progressive_444}};
    for (const auto& p : pictures) {
        SCOPED_TRACE(std::to_string(p.width) + "x" + std::to_string(p.height));
        put_picture(logo("logo.jpg"), p.width, p.height, p.components, p.scans);
        EXPECT_EQ(show_jpeg(logo("logo.jpg").c_str()), 0);
        EXPECT_EQ(w * 10000 + h, p.width * 10000 + p.height);
        EXPECT_EQ(var_screeninfo.bits_per_pixel, 32u);
        expect_screen_shows(logo("logo.jpg"));
        EXPECT_EQ(fbmem_len, static_cast<size_t>(fix_screeninfo.smem_len));
        if (p.width == 1920) save_screen("logo_1920x1080");
    }
    EXPECT_EQ(kernel.stderr_text, "");
}

TEST_F(LogoTest, RefusedPicturesLeaveScreenAndFilesAsTheyWere) {
    put_picture(logo("small.jpg"), 1280, 719);
    put_picture(logo("print.jpg"), 1280, 720, 4);
    kernel.write_file(logo("text.jpg"), "this is not a picture\n");
    put_picture(logo("cut.jpg"));
    kernel.write_file(logo("cut.jpg"), kernel.read_file(logo("cut.jpg")).substr(0, 100));
    put_picture(logo("wide.jpg"), 3841, 720);
    put_picture(logo("tall.jpg"), 1280, 2161, 1);
    put_picture(logo("scans.jpg"), 1280, 720, 1, ob_test::Scans::many);
    kernel.make_fifo(logo("fifo.jpg"));
    kernel.make_dir(logo("dir.jpg"));
    const struct {
        const char* name;
        const char* message;  // "": the library's own
    } cases[] = {
        {"small.jpg", "jpeg size is 1280x719 - should be at least 1280x720\n"},
        {"none.jpg", "open /media/ob/logos/none.jpg failed\n"},
        {"text.jpg", "Not a JPEG file: starts with 0x74 0x68\n"},
        {"print.jpg",
         "jpeg /media/ob/logos/print.jpg is CMYK - only colour and greyscale pictures are shown\n"},
        {"cut.jpg", ""},
        // Larger than any screen: refused from the header, before decoding.
        {"wide.jpg", "jpeg size is 3841x720 - the screen shows at most 3840x2160\n"},
        {"tall.jpg", "jpeg size is 1280x2161 - the screen shows at most 3840x2160\n"},
        {"scans.jpg", "jpeg has more than 100 scans - not shown\n"},
        // Neither waited on nor read: only a regular file is a picture.
        {"fifo.jpg", "open /media/ob/logos/fifo.jpg failed\n"},
        {"dir.jpg", "open /media/ob/logos/dir.jpg failed\n"},
    };
    const long descriptors = open_host_descriptors();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        kernel.stderr_text.clear();
        EXPECT_EQ(show_jpeg(logo(c.name).c_str()), 1);
        EXPECT_NE(kernel.stderr_text, "");
        if (*c.message) {
            EXPECT_EQ(kernel.stderr_text, c.message);
        }
        EXPECT_EQ(screen->xres() * 10000 + screen->yres(), 1280u * 10000 + 720);
        EXPECT_EQ(pixel(1279, 719), rgba(yellow));
        EXPECT_EQ(w, 0);
        EXPECT_EQ(open_host_descriptors(), descriptors);
    }
}

TEST_F(LogoTest, PictureCutInItsDataShowsWhatThereIs) {
    put_picture(logo("half.jpg"));
    const std::string whole = kernel.read_file(logo("half.jpg"));
    kernel.write_file(logo("half.jpg"), whole.substr(0, whole.size() / 2));
    EXPECT_EQ(show_jpeg(logo("half.jpg").c_str()), 0);
    EXPECT_EQ(kernel.stderr_text, "Premature end of JPEG file\n");
    EXPECT_EQ(pixel(1279, 719) >> 24, 0xFFu);  // the rest in the decoder's grey
}

TEST_F(LogoTest, StartLogoMakesThePlaneOpaqueAndWaitsForTheRemote) {
    const std::string waiting =
        "waiting for input from remote ...\n--------------------------------------------\n";
    EXPECT_EQ(show_start_logo(), 0);  // neither alpha file nor logo
    EXPECT_FALSE(kernel.exists(ob::stb_video_alpha));
    EXPECT_EQ(kernel.stderr_text, "open /media/ob/logos/orbiel.jpg failed\n");
    kernel.write_file(ob::stb_video_alpha, "0");
    put_picture(logo("orbiel.jpg"));
    EXPECT_EQ(show_start_logo(), 0);
    EXPECT_EQ(kernel.read_file(ob::stb_video_alpha), "255");
    EXPECT_EQ(pixel(0, 0) >> 24, 0xFFu);
    EXPECT_EQ(kernel.stdout_text, waiting + waiting);
}

}  // namespace
