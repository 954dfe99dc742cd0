// The front panel: the frame sent for a name, the fixed window and its
// bounds, and the FreeType objects made once for every update.
#include "front_panel.h"

#include "screen_fixture.h"

namespace {

using namespace orbiel;
using Frame = std::vector<uint8_t>;

class FrontPanelTest : public ob_test::MenuTest {
protected:
    Frame last_frame() const {
        const auto& sent = panel->written;
        if (sent.size() < static_cast<size_t>(panel_frame_size)) return {};
        return Frame(sent.end() - panel_frame_size, sent.end());
    }
    // What the panel should show for text at pixel size, drawn straight with
    // FreeType's monochrome renderer into the 128 x 64 buffer and packed two
    // pixels a byte from column 2 on. The buffer is one run of rows: the
    // window's last two columns are the first two of the next row, and the
    // last row reads past the end (dark).
    static Frame expected_frame(const std::string& text, int size) {
        FT_Library lib;
        FT_Face f;
        FT_Init_FreeType(&lib);
        EXPECT_EQ(FT_New_Face(lib, ob_test::dejavu_sans, 0, &f), 0);
        FT_Set_Pixel_Sizes(f, size, size);
        std::vector<uint8_t> buffer(128 * 64 + 2, 0);
        int pen = 0;
        FT_UInt previous = 0;
        for (unsigned char c : text) {
            const FT_UInt index = FT_Get_Char_Index(f, c);
            FT_Vector kerning;
            FT_Get_Kerning(f, previous, index, FT_KERNING_DEFAULT, &kerning);
            previous = index;
            const int kern = static_cast<int>(kerning.x >> 6);
            FT_Load_Glyph(f, index, FT_LOAD_RENDER | FT_LOAD_MONOCHROME);
            const FT_GlyphSlot g = f->glyph;
            const int advance = static_cast<int>((g->advance.x + 32) >> 6);
            if (pen + advance >= 130) break;
            for (unsigned r = 0; r < g->bitmap.rows; ++r)
                for (unsigned col = 0; col < g->bitmap.width; ++col) {
                    const long at = (32L - g->bitmap_top + r) * 128 + pen + g->bitmap_left + kern +
                                    static_cast<long>(col);
                    if ((g->bitmap.buffer[r * g->bitmap.pitch + col / 8] & (0x80 >> (col % 8))) &&
                        at >= 0 && at < 128 * 64)
                        buffer[at] = 0xFF;
                }
            pen += advance + kern;
        }
        FT_Done_FreeType(lib);
        Frame frame(panel_frame_size);
        for (int i = 0; i < 64 * 64; ++i)
            frame[i] = static_cast<uint8_t>((buffer[2 * i + 2] & 0xF0) | buffer[2 * i + 3] >> 4);
        return frame;
    }
};

TEST_F(FrontPanelTest, NameIsDrawnAtBaseline32FromColumnTwoInFourBitPixels) {
    const struct {
        int model;  // 4: a 400 x 240 panel gets the same top-left window
        const char *name, *shown;
        int size;  // smaller from nine characters on
    } cases[] = {{1, "img2", "img2", 32},
                 {4, "img2", "img2", 32},
                 {1, "Flash2", "Flash", 32},
                 {1, "ABCDEFGH", "ABCDEFGH", 32},
                 {1, "ABCDEFGHI", "ABCDEFGHI", 24}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        box_model = c.model;
        panel->written.clear();
        EXPECT_EQ(panel_show_name(c.name), c.name[0] == 'F' ? 0 : 1);
        EXPECT_EQ(panel->written.size(), static_cast<size_t>(panel_frame_size));
        EXPECT_EQ(last_frame(), expected_frame(c.shown, c.size));
    }
    EXPECT_EQ(panel->closes, panel->opens);
    has_display = 0;  // the dm520 family has no panel
    panel->written.clear();
    EXPECT_EQ(panel_show_name("img2"), 0);
    EXPECT_TRUE(panel->written.empty());
}

TEST_F(FrontPanelTest, FlushReadsOnlyInsideTheBufferAndCountsTheRestAsDark) {
    const struct {
        int width;
        size_t last_lit_byte;  // of the last row; bytes after it read past the buffer
    } panels[] = {{128, 62}, {96, 46}};
    for (const auto& p : panels) {
        SCOPED_TRACE(p.width);
        std::vector<uint8_t> buffer(static_cast<size_t>(p.width) * 64, 0xFF);
        buffer[2] = 0x0F;  // below 0x10: dark
        _buffer = buffer.data();
        _xres = _stride = p.width;
        _yres = 64;
        panel->written.clear();
        lcdfd = kernel.open(panel_device, O_RDWR);
        lcd_flush(p.width, 64);
        kernel.close(lcdfd);
        lcdfd = -1;
        _buffer = nullptr;
        const Frame frame = last_frame();
        ASSERT_EQ(frame.size(), static_cast<size_t>(panel_frame_size));
        EXPECT_EQ(frame[0], 0x0F);
        EXPECT_EQ(frame[63 * 64 + p.last_lit_byte], 0xFF);
        EXPECT_EQ(frame[63 * 64 + p.last_lit_byte + 1], 0x00);
        EXPECT_EQ(frame[4095], 0x00);
    }
}

TEST_F(FrontPanelTest, TheFontObjectsAreMadeOnceAndServeEveryUpdate) {
    panel_show_name("Flash");
    const FT_Library built = library;
    const FT_Face built_face = face;
    for (int i = 0; i < 20; ++i)
        panel_show_name(i % 2 ? "img2" : "Flash");
    EXPECT_EQ(library, built);
    EXPECT_EQ(face, built_face);
    // Menu text goes on in the panel's default font.
    EXPECT_EQ(static_cast<const char*>(desc.face_id), std::string(ob::default_font));
    render_text("Flash", 300, 300, 500, 0, 2, white);
    EXPECT_GT(count(300, 260, 800, 300, white), 0);

    // Menu text at another size between two updates leaves the panel's
    // kerning as it was (the second takes its glyphs from the cache).
    panel_show_name("AVWAVTo.AV");
    render_text("AVAVA", 300, 400, 500, 0, 3, white);
    panel_show_name("AVWAVTo.AV");
    EXPECT_EQ(last_frame(), expected_frame("AVWAVTo.AV", 24));

    // The font file gone meanwhile: the face made from it still draws.
    ASSERT_EQ(kernel.unlink(ob::default_font), 0);
    panel_show_name("img2");
    EXPECT_EQ(library, built);
    EXPECT_EQ(kernel.stdout_text.find("Freetype <"), std::string::npos);
    EXPECT_EQ(last_frame(), expected_frame("img2", 32));
}

TEST(FrontPanelDevice, MissingDeviceIsReportedAndNothingElseHappens) {
    ob_test::FakeKernel kernel;
    reset_menu_state();
    EXPECT_EQ(panel_show_name("img2"), 1);
    EXPECT_EQ(kernel.stderr_text, "couldn't open LCD - load lcd.o!: No such file or directory\n");
}

}  // namespace
