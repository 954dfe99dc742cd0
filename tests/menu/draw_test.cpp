// Boxes and dots in the three framebuffer formats, pixel by pixel.
#include "draw.h"

#include <algorithm>

#include "screen_fixture.h"

namespace {

using namespace orbiel;
using ob_test::rgba;

const color accent = {64, 64, 64, 0xFF};

class DrawTest : public ob_test::ScreenTest {
protected:
    const uint8_t* mem() const { return screen->memory(); }
    size_t line() const { return screen->line_length(); }
    // 16 bits: luma of (x, y); Cb and Cr of its pair in the chroma plane.
    uint8_t luma(int x, int y) const { return mem()[y * line() + x]; }
    uint8_t cb(int x, int y) const { return mem()[(y + screen->yres()) * line() + (x & ~1)]; }
    uint8_t cr(int x, int y) const { return mem()[(y + screen->yres()) * line() + (x | 1)]; }
};

TEST_F(DrawTest, BoxCoversBothCornersAndNothingElse) {
    open_screen(64, 48);
    fill_box(2, 3, 5, 5, white);
    fill_box(9, 5, 8, 9, white);  // inverted corners draw nothing
    fill_box(7, 9, 7, 5, white);
    fill_box(7, 2, 7, 2, white);  // corners that meet draw one pixel
    EXPECT_EQ(picture(1, 1, 9, 6, 0xFFFFFFFF), (std::vector<std::string>{
                                                   ".........",
                                                   "......#..",
                                                   ".####....",
                                                   ".####....",
                                                   ".####....",
                                                   ".........",
                                               }));
}

TEST_F(DrawTest, ThirtyTwoBitsStoreTheColourBytesUnchanged) {
    open_screen(64, 48);
    for (color c : {white, black, accent, green, red, transparent}) {
        fill_box(0, 0, 63, 47, yellow);
        fill_box(10, 10, 12, 12, c);
        EXPECT_EQ(pixel(10, 10), rgba(c));
        EXPECT_EQ(pixel(12, 12), rgba(c));
        EXPECT_EQ(pixel(13, 12), rgba(yellow));
    }
    EXPECT_EQ(rgba(accent), 0xFF404040u);  // red in bits 0-7, alpha in 24-31
}

TEST_F(DrawTest, SixteenBitsWriteLumaAndChromaPlanes) {
    open_screen(64, 48, 16);
    ASSERT_EQ(var_screeninfo.bits_per_pixel, 16u);
    const struct {
        color c;
        uint8_t y, cb, cr;
    } cases[] = {
        {white, 254, 127, 127},  // the luma weights add up to 65280
        {black, 0, 127, 127},   {accent, 63, 127, 127}, {red, 28, 254, 106}, {transparent, 0, 0, 0},
    };
    for (const auto& k : cases) {
        fill_box(0, 0, 63, 47, yellow);  // luma 182, Cb 167, Cr 7
        fill_box(3, 2, 4, 2, k.c);
        EXPECT_EQ(luma(3, 2), k.y);
        EXPECT_EQ(luma(4, 2), k.y);
        EXPECT_EQ(luma(5, 2), 182);
        for (int x = 2; x <= 5; ++x) {  // pixels 3 and 4 write the pairs 2/3 and 4/5
            EXPECT_EQ(cb(x, 2), k.cb) << x;
            EXPECT_EQ(cr(x, 2), k.cr) << x;
        }
        EXPECT_EQ(cb(3, 3), 167);
    }
}

TEST_F(DrawTest, EightBitsWritePaletteIndices) {
    open_screen(64, 48, 8);
    ASSERT_EQ(var_screeninfo.bits_per_pixel, 8u);
    const struct {
        color c;
        uint8_t index;
    } cases[] = {
        {white, 1},
        {transparent, 0},
        {green, 9},
        {yellow, 9},
        {red, 9},
        {black, 9},
        {accent, 9},
        {{0xFF, 0x0F, 0xFF, 0x0F}, 6},  // the table's own words
        {{0xFF, 0xFF, 0xFF, 0x0F}, 5},
        {{0xFF, 0, 0, 0}, 0},  // alpha 0 wins
    };
    for (const auto& k : cases) {
        fill_box(1, 1, 2, 2, k.c);
        EXPECT_EQ(mem()[line() + 1], k.index);
        EXPECT_EQ(mem()[2 * line() + 2], k.index);
        EXPECT_EQ(mem()[3 * line() + 3], 0);
    }
}

TEST_F(DrawTest, EveryFormatStaysInsideTheScreenAndTheMapping) {
    for (unsigned bpp : {32u, 16u, 8u}) {
        open_screen(64, 48, bpp == 32 ? 0 : bpp);
        // The start logo's band ends one row below the screen; dots are
        // converted like boxes (4-byte pixels would reach past column 63).
        fill_box(-100, -100, 180, 48, white);
        draw_dot(55, 40, white);
        const size_t pixel_bytes = bpp == 32 ? 4 : 1;
        const size_t rows = bpp == 16 ? 96 : 48;
        for (size_t i = 0; i < screen->memory_size(); ++i) {
            const bool visible = i / line() < rows && i % line() < 64 * pixel_bytes;
            ASSERT_EQ(mem()[i] != 0, visible) << bpp << " bits, byte " << i;
        }
        // A driver that mapped less: nothing past the mapping (the 16-bit
        // mode then has no room for its chroma plane and draws nothing).
        fbmem_len = line() * 10 + 17;
        fill_box(0, 0, 63, 47, transparent);
        EXPECT_EQ(mem()[9 * line()] == 0, bpp != 16) << bpp;
        EXPECT_NE(mem()[10 * line()], 0) << bpp;
        unmap_framebuffer();
        kernel.close(fb);
    }
}

TEST_F(DrawTest, DotIsTheTwentyByTwentyDisc) {
    open_screen(64, 48);
    draw_dot(3, 2, green);
    EXPECT_EQ(picture(2, 1, 23, 22, rgba(green)),
              (std::vector<std::string>{
                  "......................", "........######........", "......##########......",
                  ".....############.....", "....##############....", "...################...",
                  "...################...", "..##################..", "..##################..",
                  ".####################.", ".####################.", ".####################.",
                  ".####################.", "..##################..", "..##################..",
                  "...################...", "...################...", "....##############....",
                  ".....############.....", "......##########......", "........######........",
                  "......................",
              }));
}

TEST_F(DrawTest, ManualBlitIsSwitchedOff) {
    open_screen(64, 48);
    set_manual_blit();
    EXPECT_EQ(screen->ioctls.back(), static_cast<unsigned long>(FBIO_SET_MANUAL_BLIT));
    EXPECT_EQ(kernel.stderr_text, "");
}

#if defined(__mips__)
TEST(ManualBlitRequest, HasTheBoxDriversNumberOnMips) {
    EXPECT_EQ(static_cast<unsigned long>(FBIO_SET_MANUAL_BLIT), 0x80014621ul);
}
#endif

}  // namespace
