#include "text.h"

#include <limits.h>
#include <stdlib.h>

#include FT_MODULE_H

#include "control_file.h"
#include "kernel.h"
#include "menu_assets.h"
#include "pixel.h"

namespace orbiel {

namespace {

struct size_code_row {
    int code;
    FT_UInt pixels;
};
constexpr size_code_row text_sizes[] = {{0, 32}, {1, 24}, {2, 48}, {3, 64}};

// One character's glyph (into sbit) and its kerning against the previous
// one. False when there is nothing to draw: no glyph or a failed lookup.
bool look_up_glyph(char ch, int& kern) {
    // Menu text is taken as signed bytes: 0x80..0xFF become negative codes,
    // for which no font has a glyph.
    const long code = static_cast<signed char>(ch);
    if (code < 0) return false;
    const FT_UInt index = FT_Get_Char_Index(face, static_cast<FT_ULong>(code));
    if (index == 0) return false;
    const FT_Error lookup_error = FTC_SBitCache_Lookup(cache, &desc, index, &sbit, nullptr);
    if (lookup_error != 0) {
        ob::printf_to(1,
                      "Freetype <FTC_SBitCache_Lookup> fuer Zeichen %x \"%c\" fehlgeschlagen. "
                      "Fehler: 0x%.2X>\n",
                      static_cast<unsigned>(code), ch, static_cast<unsigned>(lookup_error));
        return false;
    }
    kern = kerning_before(index);
    return true;
}

// Writes the set bits of the monochrome bitmap in sbit, run by run. Each
// byte is searched for where the runs begin and end by counting leading
// zero bits (one instruction on MIPS32), not bit by bit.
void draw_glyph_bitmap(int left, int top, color c) {
    if (sbit->format != FT_PIXEL_MODE_MONO || sbit->pitch <= 0 || sbit->buffer == nullptr) return;
    pixel_writer pw;
    if (!make_pixel_writer(c, pw)) return;
    const int width = sbit->width;
    for (int r = 0; r < sbit->height; ++r) {
        const FT_Byte* bits = sbit->buffer + r * sbit->pitch;
        int run = -1;  // first column of the run of set bits being followed
        for (int c0 = 0; c0 < width; c0 += 8) {
            const int count = width - c0 < 8 ? width - c0 : 8;
            // Bits past the width count as clear, so that they end a run.
            const uint32_t byte = bits[c0 >> 3] & (0xFF00u >> count) & 0xFFu;
            int seen = 0;  // bits of this byte before the one looked for
            for (;;) {
                // What is left of the byte at the top of a word, with the
                // bits looked for (set outside a run, clear inside) as ones.
                const uint32_t rest = ((run < 0 ? byte : ~byte) << (24 + seen)) & 0xFF000000u;
                if (rest == 0) break;
                seen += __builtin_clz(rest);
                if (run < 0) {
                    run = c0 + seen;
                } else {
                    pw.clipped_span(left + run, left + c0 + seen - 1, top + r);
                    run = -1;
                }
            }
        }
        if (run >= 0) pw.clipped_span(left + run, left + width - 1, top + r);
    }
}

// FreeType's cache manager takes its record from the library's allocator
// without clearing it and then trusts the byte count in it (FreeType 2.12):
// on reused heap memory the count starts as garbage, every glyph added then
// empties the whole cache, and each character drawn is rendered again. The
// menu's FreeType objects therefore come from an allocator that hands out
// cleared memory.
void* cleared_alloc(FT_Memory, long size) { return calloc(1, static_cast<size_t>(size)); }
void cleared_free(FT_Memory, void* block) { free(block); }
void* cleared_realloc(FT_Memory, long, long new_size, void* block) {
    return realloc(block, static_cast<size_t>(new_size));  // FreeType clears what it grows
}
FT_MemoryRec_ cleared_memory = {nullptr, cleared_alloc, cleared_free, cleared_realloc};

// FT_Init_FreeType with that allocator: the same modules and properties.
FT_Error new_library_of_cleared_memory(FT_Library* lib) {
    const FT_Error failed = FT_New_Library(&cleared_memory, lib);
    if (failed != 0) return failed;
    FT_Add_Default_Modules(*lib);
    FT_Set_Default_Properties(*lib);
    return 0;
}

int saturating_add(int a, int b) {
    const long long sum = static_cast<long long>(a) + b;
    return sum > INT_MAX ? INT_MAX : sum < INT_MIN ? INT_MIN : static_cast<int>(sum);
}

}  // namespace

void set_text_size(int size_code) {
    for (const size_code_row& row : text_sizes)
        if (row.code == size_code) desc.width = desc.height = row.pixels;
}

FT_Error face_requester(FTC_FaceID face_id, FT_Library lib, FT_Pointer, FT_Face* aface) {
    const char* path = static_cast<const char*>(face_id);
    // FreeType opens the file itself, blocking: a FIFO or device under the
    // font's name would hold the menu, so only a regular file is handed on.
    const FT_Error failed = ob::is_regular_file(path)
                                ? FT_New_Face(lib, ob::kernel().host_path(path).c_str(), 0, aface)
                                : static_cast<FT_Error>(FT_Err_Cannot_Open_Resource);
    if (failed != 0) ob::printf_to(1, ob::font_refused_format, path);
    return failed;
}

int render_glyph(char ch, int sx, int sy, int ex, color c) {
    int kern = 0;
    if (!look_up_glyph(ch, kern)) return 0;
    // The fit test leaves the kerning out.
    if (static_cast<long long>(sx) + sbit->xadvance >= ex) return -1;
    draw_glyph_bitmap(saturating_add(saturating_add(sx, sbit->left), kern),
                      saturating_add(sy, -sbit->top), c);
    return sbit->xadvance + kern;
}

int text_width(const char* text, int size_code) {
    set_text_size(size_code);
    prev_glyphindex = 0;
    int width = 0;
    for (const char* p = text; *p != '\0'; ++p) {
        int kern = 0;
        if (look_up_glyph(*p, kern)) width = saturating_add(width, sbit->xadvance + kern);
    }
    return width;
}

void render_text(const char* text, int x, int y, int width, int align, int size_code, color c) {
    set_text_size(size_code);
    if (align == align_centre || align == align_right) {
        const int tw = text_width(text, size_code);
        if (tw < width) {
            const int room = static_cast<int>(static_cast<long long>(width) - tw > INT_MAX
                                                  ? INT_MAX
                                                  : static_cast<long long>(width) - tw);
            x = saturating_add(x, align == align_centre ? room / 2 : room);
        }
    }
    const int ex = saturating_add(x, width);
    prev_glyphindex = 0;
    int pen = x;
    for (const char* p = text; *p != '\0' && *p != '\n'; ++p) {
        const int advance = render_glyph(*p, pen, y, ex, c);
        if (advance == -1) break;
        pen = saturating_add(pen, advance);
    }
}

int kerning_before(FT_UInt index) {
    if (!use_kerning) return 0;
    // Kerning is scaled by the face's active size, which the glyph cache sets
    // only when it renders a glyph, not when it has the glyph already: make
    // this text's size the active one first.
    FTC_ScalerRec scaler = {desc.face_id, desc.width, desc.height, 1, 0, 0};
    FT_Size size = nullptr;
    FTC_Manager_LookupSize(manager, &scaler, &size);
    FT_Vector delta = {0, 0};
    FT_Get_Kerning(face, prev_glyphindex, index, FT_KERNING_DEFAULT, &delta);
    prev_glyphindex = index;
    return static_cast<int>(delta.x >> 6);  // 26.6 to whole pixels, toward minus infinity
}

bool set_up_font(const char* path, const FontMessages& messages) {
    FT_Library new_library;
    FTC_Manager new_manager;
    FTC_SBitCache new_cache;
    FT_Face new_face;
    const FTC_FaceID face_id = const_cast<char*>(path);
    // Reports a failed step with its error; what was built goes again.
    auto failed = [&](const char* message, FTC_Manager built_manager) {
        ob::printf_to(1, message, static_cast<unsigned>(error));
        if (built_manager != nullptr) FTC_Manager_Done(built_manager);
        FT_Done_Library(new_library);
        return false;
    };
    error = new_library_of_cleared_memory(&new_library);
    if (error != 0) {
        ob::printf_to(1, messages.init, static_cast<unsigned>(error));
        return false;
    }
    error = FTC_Manager_New(new_library, 1, 2, 0, face_requester, nullptr, &new_manager);
    if (error != 0) return failed(messages.manager, nullptr);
    error = FTC_SBitCache_New(new_manager, &new_cache);
    if (error != 0) return failed(messages.cache, new_manager);
    error = FTC_Manager_LookupFace(new_manager, face_id, &new_face);
    if (error != 0) return failed(messages.face, new_manager);
    menu_font_done();  // the replaced objects are released, not leaked
    library = new_library;
    manager = new_manager;
    cache = new_cache;
    face = new_face;
    desc.face_id = face_id;
    desc.flags = FT_LOAD_MONOCHROME;
    use_kerning = FT_HAS_KERNING(face) ? 1 : 0;
    return true;
}

bool menu_font_init() {
    static const FontMessages menu_messages = {
        "Freetype <FT_Init_FreeType fehlgeschlagen. Fehler: 0x%.2X>",
        "Freetype <FTC_Manager_New fehlgeschlagen. Fehler: 0x%.2X>\n",
        "Freetype <FTC_SBitCache_New fehlgeschlagen. Fehler: 0x%.2X>\n",
        "Freetype <FTC_Manager_LookupFace fehlgeschlagen. Fehler: 0x%.2X>\n",
    };
    if (!set_up_font(font, menu_messages)) return false;
    desc.width = desc.height = text_sizes[0].pixels;  // until the first text call sets it
    return true;
}

void menu_font_done() {
    if (manager != nullptr) FTC_Manager_Done(manager);
    if (library != nullptr) FT_Done_Library(library);
    manager = nullptr;
    library = nullptr;
    cache = nullptr;
    face = nullptr;
    sbit = nullptr;
}

}  // namespace orbiel
