#include "front_panel.h"

#include <fcntl.h>
#include <stdlib.h>
#include <string.h>

#include "box_model.h"
#include "kernel.h"
#include "medium.h"
#include "menu_state.h"
#include "text.h"

namespace orbiel {

int lcdfd = -1;
int _xres = 0, _yres = 0, _bpp = 8, _stride = 0;
uint8_t* _buffer = nullptr;

namespace {

struct PanelGeometry {
    int model;
    int width;
    int height;
};

// Panels by box model; every other model has the 128 x 64 panel.
const PanelGeometry panel_geometries[] = {
    {ob::model_dm820, 96, 64},
    {ob::model_dm900, 400, 240},
};

PanelGeometry geometry_of(int model) {
    for (const PanelGeometry& g : panel_geometries) {
        if (g.model == model) return g;
    }
    return {model, 128, 64};
}

constexpr int panel_right_limit = 130;
constexpr int measuring = -1;

size_t buffer_size() { return static_cast<size_t>(_stride) * static_cast<size_t>(_yres); }

// The buffer as the pixel rows it is laid out in; anything outside it is dark.
uint8_t buffer_byte(long index) {
    if (_buffer == nullptr || index < 0 || static_cast<size_t>(index) >= buffer_size()) return 0;
    return _buffer[index];
}

void put_buffer_byte(long index, uint8_t value) {
    if (_buffer == nullptr || index < 0 || static_cast<size_t>(index) >= buffer_size()) return;
    _buffer[index] = value;
}

void set_pixel_size(int size) {
    desc.width = static_cast<FT_UInt>(size);
    desc.height = static_cast<FT_UInt>(size);
}

}  // namespace

uint8_t rgb332(int r, int g, int b) {
    return static_cast<uint8_t>((r & 0xE0) | ((g >> 3) & 0x1C) | ((b >> 6) & 0x03));
}

int panel_show_name(const char* name) {
    if (has_display <= 0) return 0;
    PanelGeometry g = geometry_of(box_model);
    if (strncmp(name, ob::flash_name, strlen(ob::flash_name)) == 0) {
        lcd_text(0, 32, ob::flash_name, g.width, g.height);
        return 0;
    }
    lcd_text(0, 32, name, g.width, g.height);
    return 1;
}

void lcd_text(int x, int y, const char* text, int width, int height) {
    if (text[0] == '\0') return;
    lcdfd = ob::kernel().open(panel_device, O_RDWR);
    if (lcdfd < 0) {
        ob::print_error("couldn't open LCD - load lcd.o!");
        return;
    }
    _xres = width;
    _yres = height;
    _bpp = 8;
    _stride = width * _bpp / 8;
    _buffer = static_cast<uint8_t*>(calloc(buffer_size() > 0 ? buffer_size() : 1, 1));
    if (_buffer != nullptr) {
        lcd_font_init();
        memset(_buffer, 0, buffer_size());
        int size = strlen(text) < 9 ? 32 : 24;
        lcd_render_text(text, x, y, panel_right_limit, 0, size, 255, 255, 255);
        lcd_flush(width, height);
    } else {
        ob::print_error("malloc");
    }
    free(_buffer);
    _buffer = nullptr;
    ob::kernel().close(lcdfd);
    lcdfd = -1;
}

void lcd_font_init() {
    // FreeType's library, cache and face for the panel's font are made once:
    // the menu's own serve when they are for that font, and those made here
    // serve every later name.
    if (face != nullptr && desc.face_id != nullptr &&
        strcmp(static_cast<const char*>(desc.face_id), ob::default_font) == 0)
        return;
    static const FontMessages panel_messages = {
        "Freetype <FT_Init_FreeType failed. Error: 0x%.2X>\n",
        "Freetype <FTC_Manager_New failed. Error: 0x%.2X>\n",
        "Freetype <FTC_SBitCache_New failed. Error: 0x%.2X>\n",
        "Freetype <FTC_Manager_Lookup_Face failed. Error: 0x%.2X>\n",
    };
    set_up_font(ob::default_font, panel_messages);
}

int lcd_render_glyph(unsigned char ch, int sx, int sy, int ex, int red, int green, int blue) {
    FT_UInt index = FT_Get_Char_Index(face, ch);
    if (index == 0) {
        ob::printf_to(
            1, "<FT_Get_Char_Index for Char \"%c\" failed: \"undefined character code\">\n", ch);
        return 0;
    }
    FT_Error lookup = FTC_SBitCache_Lookup(cache, &desc, index, &sbit, nullptr);
    if (lookup) {
        ob::printf_to(1, "<FTC_SBitCache_Lookup for Char \"%c\" failed with Errorcode 0x%.2X>\n",
                      ch, lookup);
        return 0;
    }
    // With the font objects kept from call to call, the face's active size
    // may be another text's: kerning_before makes the panel's size active.
    const int kern = kerning_before(index);
    if (red == measuring) return sbit->xadvance + kern;
    if (sx + sbit->xadvance >= ex) return -1;
    uint8_t value = rgb332(red, green, blue);
    for (int row = 0; row < sbit->height; ++row) {
        const uint8_t* bits = sbit->buffer + row * sbit->pitch;
        for (int column = 0; column < sbit->width; ++column) {
            if (!(bits[column >> 3] & (0x80 >> (column & 7)))) continue;
            long x = sx + sbit->left + kern + column;
            long y = sy - sbit->top + row;
            put_buffer_byte(x + y * _stride, value);
        }
    }
    return sbit->xadvance + kern;
}

int lcd_text_width(const char* text) {
    prev_glyphindex = 0;
    int width = 0;
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p; ++p)
        width += lcd_render_glyph(*p, 0, 0, 0, measuring, 0, 0);
    return width;
}

void lcd_render_text(const char* text, int x, int y, int width, int align, int size, int red,
                     int green, int blue) {
    set_pixel_size(size);
    if (align == 1 || align == 2) {
        int tw = lcd_text_width(text);
        if (tw < width) x += align == 1 ? (width - tw) / 2 : width - tw;
    }
    int ex = x + width;
    prev_glyphindex = 0;
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(text); *p; ++p) {
        int advance = lcd_render_glyph(*p, x, y, ex, red, green, blue);
        if (advance == -1) break;
        x += advance;
    }
}

void lcd_flush(int width, int height) {
    (void)height;  // the window is fixed; rows past the buffer read as dark
    if (lcdfd < 0) return;
    uint8_t frame[panel_frame_size];
    for (int i = 0; i < 64; ++i) {
        for (int j = 0; j < 64; ++j) {
            long at = static_cast<long>(i) * width + 2 * j + 2;
            frame[i * 64 + j] =
                static_cast<uint8_t>((buffer_byte(at) & 0xF0) | (buffer_byte(at + 1) >> 4));
        }
    }
    ob::kernel().write(lcdfd, frame, sizeof frame);
}

}  // namespace orbiel
