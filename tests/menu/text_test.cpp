// Menu text with a real TrueType font: placement against the baseline,
// cutting, skipping, sizes and kerning, on the in-memory screen.
#include "text.h"

#include "draw.h"
#include "screen_fixture.h"

namespace {

using namespace orbiel;

// FreeType's own view of one DejaVu Sans glyph, loaded without the cache.
struct glyph_metrics {
    int left, top, width, advance;
};
glyph_metrics dejavu_metrics(char ch, int pixels) {
    FT_Library lib;
    FT_Face f;
    glyph_metrics m = {};
    FT_Init_FreeType(&lib);
    if (FT_New_Face(lib, ob_test::dejavu_sans, 0, &f) == 0 &&
        FT_Set_Pixel_Sizes(f, 0, static_cast<FT_UInt>(pixels)) == 0 &&
        FT_Load_Char(f, static_cast<FT_ULong>(ch), FT_LOAD_RENDER | FT_LOAD_MONOCHROME) == 0)
        m = {f->glyph->bitmap_left, f->glyph->bitmap_top, static_cast<int>(f->glyph->bitmap.width),
             static_cast<int>(f->glyph->advance.x >> 6)};
    FT_Done_FreeType(lib);
    return m;
}

class TextTest : public ob_test::ScreenTest {
protected:
    void SetUp() override {
        ScreenTest::SetUp();
        open_screen(640, 200);
        install_font();
    }
    // The screen after drawing text alone (x 10, baseline 100).
    std::vector<std::string> screen_of(const char* text, int width = 600, int size = 0) {
        fill_box(0, 0, 639, 199, transparent);
        render_text(text, 10, 100, width, 0, size, white);
        return picture(0, 0, 639, 199, 0xFFFFFFFF);
    }
};

TEST_F(TextTest, GlyphsStandOnTheBaselineAtTheirBearingInEachSize) {
    const struct {
        int code, pixels;
    } sizes[] = {{0, 32}, {1, 24}, {2, 48}, {3, 64}, {5, 64}};  // 5 keeps the last size
    for (const auto& s : sizes) {
        SCOPED_TRACE(s.code);
        const glyph_metrics m = dejavu_metrics('H', s.pixels);
        screen_of("H", 600, s.code);
        const auto drawn = drawn_box();
        EXPECT_EQ(drawn.bottom, 99);  // H ends on the row above the baseline
        EXPECT_EQ(drawn.top, 100 - m.top);
        EXPECT_EQ(drawn.left, 10 + m.left);
        EXPECT_EQ(drawn.right, 10 + m.left + m.width - 1);
        EXPECT_EQ(text_width("H", s.code), m.advance);
    }
    // A glyph drawn before comes from the cache, not rendered again: the
    // face's glyph slot still holds the one rendered last.
    screen_of("HV", 600, 2);
    screen_of("H", 600, 2);
    EXPECT_EQ(face->glyph->glyph_index, FT_Get_Char_Index(face, 'V'));
}

TEST_F(TextTest, LineFeedsEndHighBytesAreSkippedAndTextIsCutAtTheRightEnd) {
    EXPECT_EQ(screen_of("ABC\nDEF"), screen_of("ABC"));
    EXPECT_EQ(screen_of("A\xC4\xFF"
                        "B\x80"),
              screen_of("AB"));
    EXPECT_EQ(screen_of(""), screen_of("ABC", 0));  // no room: nothing at all
    EXPECT_EQ(drawn_box().left, -1);
    const int a = text_width("H", 0);
    ASSERT_EQ(text_width("HHH", 0), 3 * a);
    EXPECT_EQ(screen_of("HHHH", 3 * a), screen_of("HH"));        // the third would end at the limit
    EXPECT_EQ(screen_of("HHH.H", 3 * a + 1), screen_of("HHH"));  // nothing after a refusal
}

TEST_F(TextTest, KerningDrawsAVCloserThanSeparateLettersInEverySize) {
    ASSERT_TRUE(use_kerning);
    const int small = text_width("AV", 1);
    EXPECT_LT(text_width("AV", 0), text_width("A", 0) + text_width("V", 0));
    screen_of("AV");
    const int pair_right = drawn_box().right;
    screen_of("A");
    render_text("V", 10 + text_width("A", 0), 100, 600, 0, 0, white);
    EXPECT_LT(pair_right, drawn_box().right);
    text_width("AV", 2);
    EXPECT_EQ(text_width("AV", 1), small);  // switching sizes keeps each size's kerning
}

TEST_F(TextTest, TextOffTheScreenIsClipped) {
    render_text("Orbiel", -20, 10, 1000, 0, 2, white);
    EXPECT_EQ(drawn_box().left, 0);
    EXPECT_EQ(drawn_box().top, 0);
    render_text("Flash", 200, 100, 1000, 0, 2, yellow);
    render_text("1 (OpenAV)", 200, 150, 1000, 0, 2, white);
    render_text("V12.45", 100, 190, 520, 0, 1, red);
    save_screen("text");
}

}  // namespace
