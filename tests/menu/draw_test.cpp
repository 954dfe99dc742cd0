// Boxes and dots in the three framebuffer formats, pixel by pixel, and never
// outside the screen or the mapping.
#include "draw.h"

#include "screen_fixture.h"

namespace {

using namespace orbiel;
using ob_test::rgba;

const color accent = {64, 64, 64, 0xFF};

class DrawTest : public ob_test::ScreenTest {
protected:
    const uint8_t* mem() const { return screen->memory(); }
    size_t line() const { return screen->line_length(); }
};

TEST_F(DrawTest, BoxCoversBothCornersAndStoresTheColourBytes) {
    open_screen(64, 48);
    fill_box(2, 3, 5, 5, white);
    fill_box(9, 5, 8, 9, white);  // inverted corners draw nothing
    fill_box(7, 2, 7, 2, white);  // corners that meet draw one pixel
    EXPECT_EQ(picture(1, 1, 9, 6, 0xFFFFFFFF),
              (std::vector<std::string>{".........", "......#..", ".####....", ".####....",
                                        ".####....", "........."}));
    fill_box(10, 10, 12, 12, accent);
    EXPECT_EQ(pixel(12, 12), 0xFF404040u);  // red in bits 0-7, alpha in 24-31
    EXPECT_EQ(pixel(13, 12), 0u);
    // Rows that are not whole words apart: each pixel still gets its 4 bytes.
    fix_screeninfo.line_length = 64 * 4 + 2;
    fill_box(0, 1, 1, 1, accent);
    EXPECT_EQ(std::vector<uint8_t>(mem() + 257, mem() + 267),
              (std::vector<uint8_t>{0, 64, 64, 64, 0xFF, 64, 64, 64, 0xFF, 0}));
}

TEST_F(DrawTest, SixteenBitsWriteLumaAndChromaPlanes) {
    open_screen(64, 48, 16);
    ASSERT_EQ(var_screeninfo.bits_per_pixel, 16u);
    const uint8_t* chroma = mem() + 48 * line() + 2 * line();  // row 2 of the chroma plane
    const struct {
        color c;
        uint8_t y, cb, cr;
    } cases[] = {{white, 254, 127, 127},
                 {accent, 63, 127, 127},
                 {red, 28, 254, 106},
                 {transparent, 0, 0, 0}};
    for (const auto& k : cases) {
        SCOPED_TRACE(rgba(k.c));
        fill_box(0, 0, 63, 47, yellow);  // luma 182, Cb 167, Cr 7
        fill_box(3, 2, 4, 2, k.c);
        EXPECT_EQ(mem()[2 * line() + 3], k.y);
        EXPECT_EQ(mem()[2 * line() + 4], k.y);
        EXPECT_EQ(mem()[2 * line() + 5], 182);
        // Pixels 3 and 4 write the Cb/Cr pairs of columns 2/3 and 4/5.
        EXPECT_EQ(std::vector<uint8_t>(chroma + 1, chroma + 7),
                  (std::vector<uint8_t>{7, k.cb, k.cr, k.cb, k.cr, 167}));
    }
}

TEST_F(DrawTest, EightBitsWritePaletteIndices) {
    open_screen(64, 48, 8);
    ASSERT_EQ(var_screeninfo.bits_per_pixel, 8u);
    const struct {
        color c;
        uint8_t index;
    } cases[] = {{white, 1},
                 {transparent, 0},
                 {accent, 9},
                 {{0xFF, 0x0F, 0xFF, 0x0F}, 6},
                 {{0xFF, 0, 0, 0}, 0}};  // alpha 0 wins
    for (const auto& k : cases) {
        fill_box(1, 1, 2, 2, k.c);
        EXPECT_EQ(mem()[2 * line() + 2], k.index) << rgba(k.c);
        EXPECT_EQ(mem()[3 * line() + 3], 0);
    }
}

TEST_F(DrawTest, EveryFormatStaysInsideTheScreenAndTheMapping) {
    for (unsigned bpp : {32u, 16u, 8u}) {
        SCOPED_TRACE(bpp);
        open_screen(64, 48, bpp == 32 ? 0 : bpp);
        // The start logo's band ends one row below the screen; a dot at the
        // edge would reach past column 63.
        fill_box(-100, -100, 180, 48, white);
        draw_dot(55, 40, white);
        const size_t pixel_bytes = bpp == 32 ? 4 : 1;
        const size_t rows = bpp == 16 ? 96 : 48;
        for (size_t i = 0; i < screen->memory_size(); ++i) {
            const bool visible = i / line() < rows && i % line() < 64 * pixel_bytes;
            ASSERT_EQ(mem()[i] != 0, visible) << "byte " << i;
        }
        // A driver that mapped less: nothing past the mapping (the 16-bit
        // mode then has no room for its chroma plane and draws nothing).
        fbmem_len = line() * 10 + 17;
        fill_box(0, 0, 63, 47, transparent);
        EXPECT_EQ(mem()[9 * line()] == 0, bpp != 16);
        EXPECT_NE(mem()[10 * line()], 0);
        unmap_framebuffer();
        kernel.close(fb);
    }
}

}  // namespace
