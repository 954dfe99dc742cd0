// Boxes and dots in the three framebuffer formats, pixel by pixel.
#include "draw.h"

#include <algorithm>

#include "pixel.h"
#include "screen_fixture.h"

namespace {

using namespace orbiel;
using ob_test::rgba;

class DrawTest : public ob_test::ScreenTest {
protected:
    // 16-bit mode: luma of (x, y) and the Cb/Cr pair of the chroma plane.
    uint8_t luma(int x, int y) const { return screen->memory()[y * line() + x]; }
    uint8_t cb(int x, int y) const { return chroma(y)[x & ~1]; }
    uint8_t cr(int x, int y) const { return chroma(y)[x | 1]; }
    const uint8_t* chroma(int y) const { return screen->memory() + (y + screen->yres()) * line(); }
    uint8_t index(int x, int y) const { return screen->memory()[y * line() + x]; }
    size_t line() const { return screen->line_length(); }
};

TEST_F(DrawTest, BoxIn32BitsCoversBothCornersAndNothingElse) {
    open_screen(64, 48);
    fill_box(2, 3, 5, 6, white);
    EXPECT_EQ(picture(1, 2, 6, 7, white), (std::vector<std::string>{
                                              "......",
                                              ".####.",
                                              ".####.",
                                              ".####.",
                                              ".####.",
                                              "......",
                                          }));
    EXPECT_EQ(pixel(2, 3), 0xFFFFFFFFu);
}

TEST_F(DrawTest, BoxIn32BitsStoresTheColourBytesUnchanged) {
    open_screen(64, 48);
    const color accent = {64, 64, 64, 0xFF};
    const struct {
        color c;
        uint32_t stored;
    } cases[] = {
        {white, 0xFFFFFFFF}, {black, 0xFF000000},       {accent, 0xFF404040},
        {green, 0xFF0FFF0F}, {transparent, 0x00000000},
    };
    fill_box(0, 0, 63, 47, yellow);
    for (const auto& k : cases) {
        fill_box(10, 10, 12, 12, k.c);
        EXPECT_EQ(pixel(10, 10), k.stored);
        EXPECT_EQ(pixel(12, 12), k.stored);
        EXPECT_EQ(pixel(13, 12), rgba(yellow));
    }
}

TEST_F(DrawTest, InvertedCornersDrawNothing) {
    open_screen(64, 48);
    fill_box(5, 5, 4, 9, white);
    fill_box(5, 5, 9, 4, white);
    EXPECT_TRUE(drawn_box(0, 0, 63, 47).empty());
    fill_box(7, 7, 7, 7, white);  // one pixel when the corners meet
    EXPECT_EQ(drawn_box(0, 0, 63, 47).left, 7);
    EXPECT_EQ(drawn_box(0, 0, 63, 47).bottom, 7);
}

TEST_F(DrawTest, BoxesAreClippedToTheScreen) {
    open_screen(64, 48);
    // The start logo's band runs one row below the screen.
    fill_box(0, 0, 180, 48, white);
    fill_box(-100, -100, 3, 3, red);
    EXPECT_EQ(pixel(63, 47), 0xFFFFFFFFu);
    EXPECT_EQ(pixel(0, 0), rgba(red));
    EXPECT_EQ(pixel(4, 4), 0xFFFFFFFFu);
    // Nothing beyond the visible rows, however much memory the driver maps.
    const size_t visible = line() * 48;
    for (size_t i = visible; i < screen->memory_size(); ++i)
        ASSERT_EQ(screen->memory()[i], 0) << "byte " << i;
}

TEST_F(DrawTest, BoxesStayInsideTheMapping) {
    open_screen(64, 48);
    fbmem_len = line() * 10 + 17;  // as if the driver had mapped less than the screen
    fill_box(0, 0, 63, 47, white);
    draw_dot(0, 5, white);
    EXPECT_EQ(pixel(63, 9), 0xFFFFFFFFu);
    EXPECT_EQ(pixel(0, 10), 0u);
}

TEST_F(DrawTest, BoxIn16BitsWritesLumaAndChromaPlanes) {
    open_yuv_screen(64, 48);
    ASSERT_EQ(var_screeninfo.bits_per_pixel, 16u);
    const color accent = {64, 64, 64, 0xFF};
    const struct {
        color c;
        uint8_t y, cb, cr;
    } cases[] = {
        {white, 254, 127, 127},  // the luma weights add up to 65280
        {black, 0, 127, 127},   {accent, 63, 127, 127}, {red, 28, 254, 106}, {transparent, 0, 0, 0},
    };
    for (const auto& k : cases) {
        fill_box(0, 0, 63, 47, yellow);
        fill_box(3, 2, 4, 2, k.c);
        EXPECT_EQ(luma(3, 2), k.y);
        EXPECT_EQ(luma(4, 2), k.y);
        EXPECT_NE(luma(5, 2), k.y);
        // Pixels 3 and 4 write the pairs of 2/3 and 4/5.
        for (int x = 2; x <= 5; ++x) {
            EXPECT_EQ(cb(x, 2), k.cb) << x;
            EXPECT_EQ(cr(x, 2), k.cr) << x;
        }
        EXPECT_NE(cb(3, 3), k.cb);
    }
}

TEST_F(DrawTest, BoxIn16BitsStaysInsideBothPlanes) {
    open_yuv_screen(64, 48);
    fill_box(-5, -5, 200, 200, white);
    EXPECT_EQ(luma(63, 47), 254);
    EXPECT_EQ(cr(63, 47), 127);
    for (size_t row = 0; row < 96; ++row)
        for (size_t x = 64; x < line(); ++x)
            ASSERT_EQ(screen->memory()[row * line() + x], 0) << "row " << row << " byte " << x;
}

TEST_F(DrawTest, SixteenBitModeWithoutRoomForChromaDrawsNothing) {
    open_screen(64, 48, 16);  // the mapping ends with the luma plane
    fill_box(0, 0, 63, 47, white);
    draw_dot(0, 0, white);
    const uint8_t* mem = screen->memory();
    EXPECT_TRUE(std::all_of(mem, mem + screen->memory_size(), [](uint8_t b) { return b == 0; }));
}

TEST_F(DrawTest, BoxIn8BitsWritesPaletteIndices) {
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
        {{64, 64, 64, 0xFF}, 9},
        {{0xFF, 0x0F, 0xFF, 0x0F}, 6},  // the palette's own words
        {{0xFF, 0xFF, 0xFF, 0x0F}, 5},
        {{0xFF, 0, 0, 0}, 0},  // alpha 0 wins over the match
    };
    for (const auto& k : cases) {
        fill_box(1, 1, 2, 2, k.c);
        EXPECT_EQ(index(1, 1), k.index);
        EXPECT_EQ(index(2, 2), k.index);
        EXPECT_EQ(index(3, 3), 0);
    }
}

TEST_F(DrawTest, DotIsTheTwentyByTwentyDisc) {
    open_screen(64, 48);
    draw_dot(3, 2, green);
    EXPECT_EQ(picture(2, 1, 23, 22, green),
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

TEST_F(DrawTest, DotIsClippedAndConvertedInOtherModes) {
    open_screen(64, 48, 8);
    draw_dot(-10, -10, white);  // only its lower right part is on the screen
    draw_dot(60, 44, white);
    EXPECT_EQ(index(0, 0), 1);
    EXPECT_EQ(index(9, 0), 1);  // row 10 of the disc ends at column 19 - 10
    EXPECT_EQ(index(10, 0), 0);
    EXPECT_EQ(index(63, 47), 1);
}

TEST_F(DrawTest, NothingIsDrawnWithoutAMapping) {
    fill_box(0, 0, 10, 10, white);
    draw_dot(0, 0, white);
    SUCCEED();
}

TEST_F(DrawTest, ManualBlitIsSwitchedOffOnTheFramebuffer) {
    open_screen(64, 48);
    set_manual_blit();
    ASSERT_FALSE(screen->ioctls.empty());
    EXPECT_EQ(screen->ioctls.back(), static_cast<unsigned long>(FBIO_SET_MANUAL_BLIT));
    EXPECT_EQ(kernel.stderr_text, "");
}

#if defined(__mips__)
TEST(ManualBlitRequest, HasTheBoxDriversNumberOnMips) {
    EXPECT_EQ(static_cast<unsigned long>(FBIO_SET_MANUAL_BLIT), 0x80014621ul);
}
#endif

}  // namespace
