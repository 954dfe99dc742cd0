/* Draws a line of text the way a box's panel shows a name, on the host, with
 * FreeType: monochrome glyphs at a pixel size, pen positions in whole pixels
 * (the rounded advance plus the font's kerning), the text ending before the
 * first glyph whose advance would reach the right limit. The harness compares
 * the panel's frames with this.
 *
 * Usage: panel_text FONT SIZE X BASELINE LIMIT WIDTH HEIGHT TEXT
 * Writes WIDTH x HEIGHT bytes, rows top first, 1 for a set pixel, else 0.
 */
#include <ft2build.h>
#include FT_FREETYPE_H
#include <stdio.h>
#include <stdlib.h>

int main(int argc, char** argv) {
    if (argc != 9) {
        fprintf(stderr, "usage: panel_text FONT SIZE X BASELINE LIMIT WIDTH HEIGHT TEXT\n");
        return 2;
    }
    int size = atoi(argv[2]), pen = atoi(argv[3]), baseline = atoi(argv[4]), limit = atoi(argv[5]);
    int width = atoi(argv[6]), height = atoi(argv[7]);
    if (size <= 0 || width <= 0 || height <= 0 || width > 4096 || height > 4096) {
        fprintf(stderr, "panel_text: bad size or geometry\n");
        return 2;
    }
    FT_Library library;
    FT_Face face;
    if (FT_Init_FreeType(&library) || FT_New_Face(library, argv[1], 0, &face) ||
        FT_Set_Pixel_Sizes(face, (FT_UInt)size, (FT_UInt)size)) {
        fprintf(stderr, "panel_text: cannot load %s at %d pixels\n", argv[1], size);
        return 1;
    }
    unsigned char* canvas = calloc((size_t)width * height, 1);
    if (!canvas) return 1;
    FT_UInt previous = 0;
    for (const unsigned char* p = (const unsigned char*)argv[8]; *p; ++p) {
        FT_UInt glyph = FT_Get_Char_Index(face, *p);
        if (glyph == 0 || FT_Load_Glyph(face, glyph, FT_LOAD_RENDER | FT_LOAD_MONOCHROME)) continue;
        FT_GlyphSlot slot = face->glyph;
        int kern = 0;
        if (FT_HAS_KERNING(face)) {
            FT_Vector delta = {0, 0};
            FT_Get_Kerning(face, previous, glyph, FT_KERNING_DEFAULT, &delta);
            kern = (int)(delta.x >> 6);
            previous = glyph;
        }
        int advance = (int)((slot->advance.x + 32) >> 6);
        if (pen + advance >= limit) break;
        const FT_Bitmap* b = &slot->bitmap;
        for (unsigned row = 0; row < b->rows; ++row) {
            for (unsigned column = 0; column < b->width; ++column) {
                if (!(b->buffer[row * b->pitch + column / 8] & (0x80 >> (column % 8)))) continue;
                int x = pen + slot->bitmap_left + kern + (int)column;
                int y = baseline - slot->bitmap_top + (int)row;
                if (x >= 0 && x < width && y >= 0 && y < height) canvas[(size_t)y * width + x] = 1;
            }
        }
        pen += advance + kern;
    }
    fwrite(canvas, 1, (size_t)width * height, stdout);
    return fflush(stdout) != 0;
}
