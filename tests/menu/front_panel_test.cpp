// The front panel: the frame sent for a name, the fixed window and its
// bounds, and the FreeType objects each update replaces.
#include "front_panel.h"

#include <gtest/gtest.h>

#include "menu_fixture.h"

namespace menu_test {
namespace {

using Frame = std::vector<uint8_t>;

class FrontPanelTest : public MenuTest {
protected:
    Frame last_frame() const {
        EXPECT_GE(panel->written.size(), static_cast<size_t>(panel_frame_size));
        if (panel->written.size() < static_cast<size_t>(panel_frame_size)) return {};
        auto end = panel->written.end();
        return Frame(end - panel_frame_size, end);
    }
    // What the panel should show for text at pixel size, drawn straight with
    // FreeType's monochrome renderer into the 128 x 64 buffer and packed. The
    // buffer is one run of rows: the window's last two columns (128, 129)
    // are the first two of the next row, and the last row reads past the end
    // (dark).
    Frame expected_frame(const std::string& text, int size) {
        FT_Library lib;
        FT_Face f;
        EXPECT_EQ(FT_Init_FreeType(&lib), 0);
        EXPECT_EQ(FT_New_Face(lib, ob_test::dejavu_sans, 0, &f), 0);
        FT_Set_Pixel_Sizes(f, size, size);
        std::vector<uint8_t> buffer(128 * 64, 0);
        int pen = 0;
        FT_UInt previous = 0;
        for (unsigned char c : text) {
            FT_UInt index = FT_Get_Char_Index(f, c);
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
                    if (!(g->bitmap.buffer[r * g->bitmap.pitch + col / 8] & (0x80 >> (col % 8))))
                        continue;
                    const int x = pen + g->bitmap_left + kern + static_cast<int>(col);
                    const int y = 32 - g->bitmap_top + static_cast<int>(r);
                    const long at = y * 128L + x;
                    if (at >= 0 && at < 128 * 64) buffer[at] = 0xFF;
                }
            pen += advance + kern;
        }
        FT_Done_Face(f);
        FT_Done_FreeType(lib);
        Frame frame(panel_frame_size);
        for (int i = 0; i < 64; ++i)
            for (int j = 0; j < 64; ++j) {
                const int at = i * 128 + 2 * j + 2;
                const uint8_t left = at < 128 * 64 ? buffer[at] : 0;
                const uint8_t right = at + 1 < 128 * 64 ? buffer[at + 1] : 0;
                frame[i * 64 + j] = static_cast<uint8_t>((left & 0xF0) | (right >> 4));
            }
        return frame;
    }
};

TEST_F(FrontPanelTest, NameIsDrawnAtBaseline32FromColumnTwoInFourBitPixels) {
    EXPECT_EQ(panel_show_name("img2"), 1);
    EXPECT_EQ(panel->written.size(), static_cast<size_t>(panel_frame_size));
    const Frame frame = last_frame();
    EXPECT_EQ(frame, expected_frame("img2", 32));
    for (uint8_t byte : frame) {
        ASSERT_TRUE((byte & 0x0F) == 0 || (byte & 0x0F) == 0x0F);
        ASSERT_TRUE((byte & 0xF0) == 0 || (byte & 0xF0) == 0xF0);
    }
    EXPECT_EQ(panel->opens, 1);
    EXPECT_EQ(panel->closes, 1);
}

TEST_F(FrontPanelTest, EveryNameBeginningWithFlashShowsFlash) {
    EXPECT_EQ(panel_show_name("Flash2"), 0);
    const Frame shown = last_frame();
    EXPECT_EQ(panel_show_name("Flash"), 0);
    EXPECT_EQ(last_frame(), shown);
    EXPECT_EQ(shown, expected_frame("Flash", 32));
}

TEST_F(FrontPanelTest, NamesOfNineCharactersOrMoreAreDrawnSmaller) {
    panel_show_name("ABCDEFGH");
    const Frame eight = last_frame();
    panel_show_name("ABCDEFGHI");
    const Frame nine = last_frame();
    EXPECT_EQ(eight, expected_frame("ABCDEFGH", 32));
    EXPECT_EQ(nine, expected_frame("ABCDEFGHI", 24));
}

TEST_F(FrontPanelTest, BoxWithoutPanelTouchesNothing) {
    has_display = 0;
    EXPECT_EQ(panel_show_name("img2"), 0);
    EXPECT_EQ(panel->opens, 0);
    EXPECT_TRUE(panel->written.empty());
}

TEST_F(FrontPanelTest, LargePanelsSendTheSameTopLeftWindow) {
    box_model = 4;  // 400 x 240
    panel_show_name("img2");
    EXPECT_EQ(last_frame(), expected_frame("img2", 32));
}

TEST_F(FrontPanelTest, FlushReadsOnlyInsideTheBufferAndCountsTheRestAsDark) {
    const struct {
        int width;
        size_t last_lit_byte;  // of the last row; bytes after it read past the buffer
    } panels[] = {{128, 62}, {96, 46}};
    for (const auto& p : panels) {
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
        EXPECT_EQ(frame[63 * 64 + p.last_lit_byte], 0xFF) << p.width;
        EXPECT_EQ(frame[63 * 64 + p.last_lit_byte + 1], 0x00) << p.width;
        EXPECT_EQ(frame[4095], 0x00);
    }
}

TEST_F(FrontPanelTest, UpdatesReplaceTheMenuFontObjectsWithoutLosingMenuText) {
    const FT_Library menu_library = library;
    for (int i = 0; i < 20; ++i)
        panel_show_name(i % 2 ? "img2" : "Flash");
    EXPECT_NE(library, menu_library);
    EXPECT_EQ(static_cast<const char*>(desc.face_id), std::string(ob::default_font));
    // Menu text goes on in the panel's (default) font; the replaced objects
    // were released, which the leak checker of the sanitizer build confirms.
    render_text("Flash", 300, 300, 500, 0, 2, white);
    EXPECT_GT(count(300, 260, 800, 300, white), 0);
}

TEST_F(FrontPanelTest, FailedFontSetUpKeepsTheCurrentObjects) {
    const FT_Library menu_library = library;
    ASSERT_EQ(kernel.unlink(ob::default_font), 0);
    panel_show_name("img2");
    EXPECT_EQ(library, menu_library);
    EXPECT_NE(kernel.stdout_text.find("Freetype <FTC_Manager_Lookup_Face failed. Error: 0x"),
              std::string::npos);
    EXPECT_EQ(last_frame(), expected_frame("img2", 32));
}

TEST(FrontPanelDevice, MissingDeviceIsReportedAndNothingElseHappens) {
    ob_test::FakeKernel kernel;
    reset_menu_state();
    EXPECT_EQ(panel_show_name("img2"), 1);
    EXPECT_EQ(kernel.stderr_text, "couldn't open LCD - load lcd.o!: No such file or directory\n");
}

}  // namespace
}  // namespace menu_test
