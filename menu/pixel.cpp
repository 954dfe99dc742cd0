#include "pixel.h"

#include <string.h>
#include <wchar.h>

namespace orbiel {

void color_to_yuv(color c, uint8_t yuv[3]) {
    if (c.a == 0) {
        yuv[0] = yuv[1] = yuv[2] = 0;
        return;
    }
    const int b0 = c.r, b1 = c.g, b2 = c.b;
    // The three luma weights add up to 65280, so white gives 254.
    yuv[0] = static_cast<uint8_t>((19519 * b2 + 38319 * b1 + 7442 * b0) >> 16);
    yuv[1] = static_cast<uint8_t>((32640 * b0 - 11005 * b2 - 21635 * b1 + 8323200) >> 16);
    const int t = (65280 * b2 - 54665 * b1 - 10615 * b0) / 2;
    yuv[2] = static_cast<uint8_t>((t + 8323200) >> 16);
}

namespace {

// Palette entries of the colours the menu uses; everything else is grey.
struct palette_match {
    uint32_t word;  // the colour bytes read as a little-endian word
    uint8_t index;
};
constexpr palette_match palette_matches[] = {
    {0x0FFF0FFF, 6}, {0x0FFFFFFF, 5}, {0xFFFFFFFF, 1}, {0x000000FF, 2}, {0x0000FFFF, 8},
};
constexpr uint8_t palette_other = 9;

}  // namespace

uint8_t color_to_index(color c) {
    if (c.a == 0) return 0;
    const uint32_t word = c.r | c.g << 8 | c.b << 16 | static_cast<uint32_t>(c.a) << 24;
    for (const palette_match& m : palette_matches)
        if (m.word == word) return m.index;
    return palette_other;
}

namespace {

void span16(const pixel_writer& pw, int x0, int x1, int y) {
    memset(pw.mem + y * pw.line + x0, pw.value[0], static_cast<size_t>(x1 - x0 + 1));
    // Two horizontally adjacent pixels share one Cb (even byte) and one Cr
    // (odd byte) of the chroma plane.
    const size_t row = pw.plane + y * pw.line;
    for (size_t at = row + x0; at <= row + x1; ++at) {
        pw.mem[at & ~size_t{1}] = pw.value[1];
        pw.mem[at | 1] = pw.value[2];
    }
}

// A run of 32-bit pixels is a run of one 4-byte word, which is what wmemset
// stores (wchar_t is 32 bits wide on Linux): the C library's own fill, as
// quick as memset of the same bytes, and like it a pure store, one whole
// word per pixel. Nothing is read, from the screen or from a row built
// elsewhere, and no pixel is split into partial-word stores (what a copy to
// an address of unknown alignment compiles to on MIPS): the boxes'
// framebuffer memory is uncached, and every access costs there.
static_assert(sizeof(wchar_t) == 4, "a framebuffer pixel is one wchar_t");

bool word_aligned(const uint8_t* p) {
    return reinterpret_cast<uintptr_t>(p) % alignof(wchar_t) == 0;
}

void span32(const pixel_writer& pw, int x0, int x1, int y) {
    uint8_t* p = pw.mem + y * pw.line + 4 * static_cast<size_t>(x0);
    wchar_t pixel;
    memcpy(&pixel, pw.value, 4);
    if (word_aligned(p)) {
        wmemset(reinterpret_cast<wchar_t*>(p), pixel, static_cast<size_t>(x1 - x0 + 1));
        return;
    }
    // Rows that are not whole words apart (no driver seen does that).
    for (int x = x0; x <= x1; ++x, p += 4)
        memcpy(p, &pixel, 4);
}

// A box as wide as the rows is a single run through all of them.
void rect32(const pixel_writer& pw, int x0, int x1, int y0, int y1) {
    const size_t pixels = static_cast<size_t>(x1 - x0 + 1);
    uint8_t* first = pw.mem + y0 * pw.line + 4 * static_cast<size_t>(x0);
    if (4 * pixels == pw.line && word_aligned(first)) {
        wchar_t pixel;
        memcpy(&pixel, pw.value, 4);
        wmemset(reinterpret_cast<wchar_t*>(first), pixel,
                pixels * static_cast<size_t>(y1 - y0 + 1));
        return;
    }
    for (int y = y0; y <= y1; ++y)
        span32(pw, x0, x1, y);
}

// The byte formats fill each row with memset already.
void rect_by_rows(const pixel_writer& pw, int x0, int x1, int y0, int y1) {
    for (int y = y0; y <= y1; ++y)
        pw.span(pw, x0, x1, y);
}

void span8(const pixel_writer& pw, int x0, int x1, int y) {
    memset(pw.mem + y * pw.line + x0, pw.value[0], static_cast<size_t>(x1 - x0 + 1));
}

int clamp_int(size_t v, int limit) {
    return v < static_cast<size_t>(limit) ? static_cast<int>(v) : limit;
}

}  // namespace

bool make_pixel_writer(color c, pixel_writer& pw) {
    const size_t line = fix_screeninfo.line_length;
    if (fbmem == nullptr || line == 0) return false;
    const size_t rows_mapped = fbmem_len / line;
    const int yres = static_cast<int>(var_screeninfo.yres);
    pw.mem = fbmem;
    pw.line = line;
    pw.plane = 0;
    switch (var_screeninfo.bits_per_pixel) {
        case 32:
            pw.width = clamp_int(line / 4, static_cast<int>(var_screeninfo.xres));
            pw.height = clamp_int(rows_mapped, yres);
            memcpy(pw.value, &c, 4);
            pw.span = span32;
            pw.rect = rect32;
            break;
        case 16: {
            // The chroma plane starts yres rows down; both planes must fit.
            // An odd line length lets the Cr byte of the last pixel step one
            // byte past its row, so one row is kept in reserve then.
            pw.plane = static_cast<size_t>(yres) * line;
            const size_t rows_after_plane = rows_mapped > static_cast<size_t>(yres) + (line & 1)
                                                ? rows_mapped - yres - (line & 1)
                                                : 0;
            pw.width = clamp_int(line, static_cast<int>(var_screeninfo.xres));
            pw.height = clamp_int(rows_after_plane, yres);
            color_to_yuv(c, pw.value);
            pw.span = span16;
            pw.rect = rect_by_rows;
            break;
        }
        case 8:
            pw.width = clamp_int(line, static_cast<int>(var_screeninfo.xres));
            pw.height = clamp_int(rows_mapped, yres);
            pw.value[0] = color_to_index(c);
            pw.span = span8;
            pw.rect = rect_by_rows;
            break;
        default:
            return false;
    }
    return pw.width > 0 && pw.height > 0;
}

}  // namespace orbiel
