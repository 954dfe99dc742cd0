// Menu text with a real TrueType font: placement, cutting, skipping, sizes
// and kerning, checked on the in-memory screen.
#include "text.h"

#include <regex>

#include "draw.h"
#include "screen_fixture.h"

namespace {

using namespace orbiel;

// What FreeType itself says about one character of DejaVu Sans at a pixel
// size, loaded without the cache: the oracle for placement.
struct glyph_metrics {
    int left, top, width, rows, advance;
};
glyph_metrics dejavu_metrics(char ch, int pixels) {
    FT_Library lib;
    FT_Face f;
    glyph_metrics m = {};
    if (FT_Init_FreeType(&lib) != 0) return m;
    if (FT_New_Face(lib, ob_test::dejavu_sans, 0, &f) == 0) {
        FT_Set_Pixel_Sizes(f, 0, static_cast<FT_UInt>(pixels));
        if (FT_Load_Char(f, static_cast<FT_ULong>(ch), FT_LOAD_RENDER | FT_LOAD_MONOCHROME) == 0)
            m = {f->glyph->bitmap_left, f->glyph->bitmap_top,
                 static_cast<int>(f->glyph->bitmap.width), static_cast<int>(f->glyph->bitmap.rows),
                 static_cast<int>(f->glyph->advance.x >> 6)};
    }
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
    std::vector<std::string> area(int x0, int y0, int x1, int y1) const {
        return picture(x0, y0, x1, y1, [](uint32_t p) { return p != 0; });
    }
    void clear() { fill_box(0, 0, 639, 199, transparent); }
};

TEST_F(TextTest, GlyphSitsOnTheBaselineAtItsBearing) {
    const glyph_metrics h = dejavu_metrics('H', 32);
    ASSERT_GT(h.rows, 0);
    render_text("H", 100, 80, 400, 0, 0, white);
    const auto drawn = drawn_box(0, 0, 639, 199);
    EXPECT_EQ(drawn.bottom, 80 - h.top + h.rows - 1);
    EXPECT_EQ(drawn.bottom, 79);  // H stands on the baseline
    EXPECT_EQ(drawn.top, 80 - h.top);
    EXPECT_EQ(drawn.left, 100 + h.left);
    EXPECT_EQ(drawn.right, 100 + h.left + h.width - 1);
    EXPECT_EQ(pixel(drawn.left, drawn.bottom), 0xFFFFFFFFu);
}

TEST_F(TextTest, SizeCodesPickThePixelSizes) {
    const struct { int code, pixels; } sizes[] = {{0, 32}, {1, 24}, {2, 48}, {3, 64}};
    for (const auto& s : sizes) {
        clear();
        render_text("H", 10, 100, 400, 0, s.code, white);
        const auto drawn = drawn_box(0, 0, 639, 199);
        EXPECT_EQ(drawn.bottom - drawn.top + 1, dejavu_metrics('H', s.pixels).rows) << s.code;
        EXPECT_EQ(text_width("H", s.code), dejavu_metrics('H', s.pixels).advance) << s.code;
    }
}

TEST_F(TextTest, SizeCodeFiveKeepsThePreviousSize) {
    render_text("H", 10, 100, 400, 0, 2, white);
    const auto big = drawn_box(0, 0, 639, 199);
    clear();
    render_text("H", 10, 100, 400, 0, 5, white);
    const auto kept = drawn_box(0, 0, 639, 199);
    EXPECT_EQ(kept.top, big.top);
    EXPECT_EQ(kept.bottom, big.bottom);
    EXPECT_EQ(text_width("H", 5), dejavu_metrics('H', 48).advance);
}

TEST_F(TextTest, TextEndsAtALineFeed) {
    render_text("ABC\nDEF", 10, 100, 600, 0, 0, white);
    const auto with_line_feed = area(0, 40, 639, 120);
    clear();
    render_text("ABC", 10, 100, 600, 0, 0, white);
    EXPECT_EQ(area(0, 40, 639, 120), with_line_feed);
}

TEST_F(TextTest, BytesFromHexEightyOnAreSkippedWithoutAdvance) {
    render_text(
        "A\xC4\xFF"
        "B\x80",
        10, 100, 600, 0, 0, white);
    const auto skipped = area(0, 40, 639, 120);
    clear();
    render_text("AB", 10, 100, 600, 0, 0, white);
    EXPECT_EQ(area(0, 40, 639, 120), skipped);
    EXPECT_EQ(text_width("A\xC4"
                         "B",
                         0),
              text_width("AB", 0));
    EXPECT_EQ(kernel.stdout_text, "");
}

TEST_F(TextTest, TextIsCutBeforeTheGlyphThatReachesTheRightEnd) {
    const int a = text_width("H", 0);
    ASSERT_EQ(text_width("HHH", 0), 3 * a);  // no kerning between these
    // The third glyph would end exactly at x + width: only two are drawn.
    render_text("HHHH", 10, 100, 3 * a, 0, 0, white);
    const auto cut = area(0, 40, 639, 120);
    clear();
    render_text("HH", 10, 100, 600, 0, 0, white);
    EXPECT_EQ(area(0, 40, 639, 120), cut);
    // One pixel more and the third fits; nothing after a refused glyph.
    clear();
    render_text("HHH.H", 10, 100, 3 * a + 1, 0, 0, white);
    const auto three = drawn_box(0, 0, 639, 199);
    clear();
    render_text("HHH", 10, 100, 600, 0, 0, white);
    EXPECT_EQ(drawn_box(0, 0, 639, 199).right, three.right);
}

TEST_F(TextTest, EmptyTextAndZeroWidthDrawNothing) {
    render_text("", 10, 100, 600, 0, 0, white);
    render_text("ABC", 10, 100, 0, 0, 0, white);
    EXPECT_TRUE(drawn_box(0, 0, 639, 199).empty());
}

TEST_F(TextTest, AlignmentCentresOrRightAlignsInTheWidth) {
    const int tw = text_width("Menu", 0);
    render_text("Menu", 10, 100, 300, 0, 0, white);
    const auto left = drawn_box(0, 0, 639, 199);
    clear();
    render_text("Menu", 10, 100, 300, 1, 0, white);
    const auto centred = drawn_box(0, 0, 639, 199);
    clear();
    render_text("Menu", 10, 100, 300, 2, 0, white);
    const auto right = drawn_box(0, 0, 639, 199);
    EXPECT_EQ(centred.left - left.left, (300 - tw) / 2);
    EXPECT_EQ(right.left - left.left, 300 - tw);
    // Wider than the width: no shift, cut as left-aligned text.
    clear();
    render_text("Menu", 10, 100, tw - 1, 2, 0, white);
    EXPECT_EQ(drawn_box(0, 0, 639, 199).left, left.left);
}

TEST_F(TextTest, KerningDrawsAVCloserThanSeparateLetters) {
    ASSERT_TRUE(use_kerning);
    const int together = text_width("AV", 0);
    EXPECT_LT(together, text_width("A", 0) + text_width("V", 0));
    // The V of the pair starts further left than a V set after a lone A.
    render_text("AV", 10, 100, 600, 0, 0, white);
    const auto pair = drawn_box(0, 0, 639, 199);
    clear();
    render_text("A", 10, 100, 600, 0, 0, white);
    render_text("V", 10 + text_width("A", 0), 100, 600, 0, 0, white);
    const auto apart = drawn_box(0, 0, 639, 199);
    EXPECT_LT(pair.right, apart.right);
}

TEST_F(TextTest, KerningFollowsTheSizeOfEachString) {
    // Both sizes rendered once, so the glyphs come from the cache afterwards.
    const int small = text_width("AV", 1);
    const int large = text_width("AV", 2);
    EXPECT_EQ(text_width("AV", 1), small);
    EXPECT_EQ(text_width("AV", 2), large);
    EXPECT_EQ(text_width("AV", 1), small);
}

TEST_F(TextTest, TextOffTheScreenIsClipped) {
    render_text("Orbiel", -20, 10, 1000, 0, 2, white);
    render_text("Orbiel", 600, 220, 1000, 0, 2, white);
    const auto drawn = drawn_box(0, 0, 639, 199);
    EXPECT_EQ(drawn.left, 0);
    EXPECT_EQ(drawn.top, 0);
}

TEST_F(TextTest, TextIn16BitsWritesLuma) {
    menu_font_done();
    unmap_framebuffer();
    kernel.close(fb);
    open_yuv_screen(640, 200);
    install_font();
    render_text("H", 10, 100, 400, 0, 0, white);
    const glyph_metrics h = dejavu_metrics('H', 32);
    // The left stem of the H.
    EXPECT_EQ(screen->memory()[99 * screen->line_length() + 10 + h.left], 254);
}

TEST_F(TextTest, FailedLookupReportsTheCharacterAndGoesOn) {
    // The glyph index comes from a face of the test's own, while the cache
    // is asked for a font file that is gone.
    FT_Library own_library;
    FT_Face own_face;
    ASSERT_EQ(FT_Init_FreeType(&own_library), 0);
    ASSERT_EQ(FT_New_Face(own_library, ob_test::dejavu_sans, 0, &own_face), 0);
    face = own_face;
    desc.face_id = const_cast<char*>("/media/ob/fonts/missing.ttf");
    render_text("AB", 10, 100, 600, 0, 0, white);
    // Each lookup asks for the face again; the error code is FreeType's.
    const std::regex messages(
        "(Freetype <Schrift \"/media/ob/fonts/missing.ttf\" fehlgeschlagen>\n)+"
        "Freetype <FTC_SBitCache_Lookup> fuer Zeichen 41 \"A\" fehlgeschlagen. Fehler: "
        "0x[0-9A-F]{2}>\n"
        "(Freetype <Schrift \"/media/ob/fonts/missing.ttf\" fehlgeschlagen>\n)+"
        "Freetype <FTC_SBitCache_Lookup> fuer Zeichen 42 \"B\" fehlgeschlagen. Fehler: "
        "0x[0-9A-F]{2}>\n");
    EXPECT_TRUE(std::regex_match(kernel.stdout_text, messages)) << kernel.stdout_text;
    EXPECT_TRUE(drawn_box(0, 0, 639, 199).empty());
    FT_Done_FreeType(own_library);
}

TEST_F(TextTest, MenuLinesForReview) {
    fill_box(0, 0, 180, 199, {64, 64, 64, 0xFF});
    render_text(">", 90, 56, 1000, 0, 2, white);
    render_text("0", 130, 56, 50, 0, 2, white);
    render_text("Flash", 199, 55, 1000, 0, 2, black);
    render_text("Flash", 202, 58, 1000, 0, 2, black);
    render_text("Flash", 200, 56, 1000, 0, 2, yellow);
    render_text("1 (OpenAV)", 200, 102, 1000, 0, 2, white);
    draw_dot(130, 132, red);
    render_text("V12.45", 100, 180, 520, 0, 1, red);
    EXPECT_TRUE(screen->save_png(screen_file("text")));
}

}  // namespace
