#include "logo.h"

#include <fcntl.h>
#include <setjmp.h>
#include <stdio.h>
#include <string.h>

#include <jpeglib.h>

#include "draw.h"
#include "framebuffer.h"
#include "kernel.h"
#include "medium.h"
#include "menu_state.h"

namespace orbiel {

namespace {

constexpr JDIMENSION min_width = 1280;
constexpr JDIMENSION min_height = 720;

// A picture the decoder gives up on must not end the menu: the error manager
// reports the library's message and jumps back to show_jpeg, which releases
// the decoder and the file and reports the failure.
struct decoder_errors {
    jpeg_error_mgr std;
    jmp_buf back;
};

void print_decoder_message(j_common_ptr cinfo) {
    char text[JMSG_LENGTH_MAX];
    (*cinfo->err->format_message)(cinfo, text);
    ob::printf_to(2, "%s\n", text);
}

[[noreturn]] void leave_decoder(j_common_ptr cinfo) {
    (*cinfo->err->output_message)(cinfo);
    longjmp(reinterpret_cast<decoder_errors*>(cinfo->err)->back, 1);
}

bool is_cmyk(const jpeg_decompress_struct& cinfo) {
    return cinfo.jpeg_color_space == JCS_CMYK || cinfo.jpeg_color_space == JCS_YCCK;
}

bool framebuffer_failed(const char* what) {
    ob::printf_to(2, "Framebuffer: <%s>\n", what);
    return false;
}

bool read_screen_info() {
    if (!read_fixed_info()) return framebuffer_failed("FBIOGET_FSCREENINFO fehlgeschlagen");
    if (!read_variable_info()) return framebuffer_failed("FBIOGET_VSCREENINFO fehlgeschlagen");
    return true;
}

// Switches the screen to the picture's size and maps it anew, cleared.
bool prepare_screen(JDIMENSION width, JDIMENSION height) {
    if (!put_mode(static_cast<int>(width), static_cast<int>(height)))
        return framebuffer_failed("FBIOPUT_VSCREENINFO fehlgeschlagen");
    if (!read_fixed_info()) return framebuffer_failed("FBIOGET_FSCREENINFO fehlgeschlagen");
    if (!map_framebuffer()) return framebuffer_failed("Speichermapping fehlgeschlagen");
    clear_framebuffer(static_cast<size_t>(fix_screeninfo.line_length) * var_screeninfo.yres);
    return true;
}

// Decodes every line as red, green, blue, alpha 255 straight into its screen
// row. A row the mapping cannot hold whole (a driver that granted less than
// asked) goes through a scratch line and is copied as far as it fits.
void copy_picture(jpeg_decompress_struct& cinfo) {
    const size_t line = fix_screeninfo.line_length;
    const size_t row_bytes = static_cast<size_t>(cinfo.output_width) * 4;
    JSAMPARRAY scratch = (*cinfo.mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(&cinfo),
                                                    JPOOL_IMAGE, cinfo.output_width * 4, 1);
    while (cinfo.output_scanline < cinfo.output_height) {
        const size_t start = cinfo.output_scanline * line;
        const bool fits = fbmem != nullptr && row_bytes <= line && start < fbmem_len &&
                          row_bytes <= fbmem_len - start;
        JSAMPROW row = fits ? fbmem + start : scratch[0];
        if (jpeg_read_scanlines(&cinfo, &row, 1) != 1) break;
        if (fits || fbmem == nullptr || start >= fbmem_len) continue;
        size_t n = row_bytes < line ? row_bytes : line;
        if (n > fbmem_len - start) n = fbmem_len - start;
        memcpy(fbmem + start, scratch[0], n);
    }
}

// The decoding proper; the file is the caller's. Returns show_jpeg's result.
int decode_onto_screen(FILE* file, const char* path) {
    jpeg_decompress_struct cinfo;
    decoder_errors errors;
    cinfo.err = jpeg_std_error(&errors.std);
    errors.std.error_exit = leave_decoder;
    errors.std.output_message = print_decoder_message;
    if (setjmp(errors.back) != 0) {
        jpeg_destroy_decompress(&cinfo);
        return 1;
    }
    jpeg_create_decompress(&cinfo);
    jpeg_stdio_src(&cinfo, file);
    jpeg_read_header(&cinfo, TRUE);
    if (is_cmyk(cinfo)) {
        ob::printf_to(2, "jpeg %s is CMYK - only colour and greyscale pictures are shown\n", path);
        jpeg_destroy_decompress(&cinfo);
        return 1;
    }
    // Four bytes per pixel, alpha opaque: the screen's own layout, for colour
    // and greyscale pictures alike.
    cinfo.out_color_space = JCS_EXT_RGBA;
    // The quick inverse DCT and plain chroma upsampling: on a TV picture the
    // difference does not show, and the logo stands between power-on and the
    // menu.
    cinfo.dct_method = JDCT_IFAST;
    cinfo.do_fancy_upsampling = FALSE;
    jpeg_start_decompress(&cinfo);
    if (cinfo.output_width < min_width || cinfo.output_height < min_height) {
        ob::printf_to(2, "jpeg size is %ix%i - should be at least 1280x720\n",
                      static_cast<int>(cinfo.output_width), static_cast<int>(cinfo.output_height));
        jpeg_destroy_decompress(&cinfo);
        return 1;
    }
    w = static_cast<int>(cinfo.output_width);
    h = static_cast<int>(cinfo.output_height);
    if (!prepare_screen(cinfo.output_width, cinfo.output_height)) {
        jpeg_destroy_decompress(&cinfo);
        return 1;
    }
    copy_picture(cinfo);
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    return 0;
}

}  // namespace

int show_jpeg(const char* path) {
    if (!read_screen_info()) return 1;
    FILE* file = fopen(ob::kernel().host_path(path).c_str(), "rb");
    if (file == nullptr) {
        ob::printf_to(2, "open %s failed\n", path);
        return 1;
    }
    const int result = decode_onto_screen(file, path);
    fclose(file);
    return result;
}

int show_start_logo() {
    // The graphics plane fully opaque over the video.
    const int alpha = ob::kernel().open(ob::stb_video_alpha, O_RDWR);
    if (alpha >= 0) {
        ob::kernel().write(alpha, "255", 3);
        ob::kernel().close(alpha);
    }
    if (logo_arg) {
        char picture[path_size];
        snprintf(picture, sizeof picture, "%s", bootpicture);
        const size_t length = strlen(picture);
        if (length >= 4) memcpy(picture + length - 4, ".jpg", 4);
        show_jpeg(picture);
        fill_box(0, 0, band_right, h, barcolor);
        return 0;
    }
    show_jpeg(ob::default_logo);
    ob::print_to(1, "waiting for input from remote ...\n");
    ob::print_to(1, separator_line);
    return 0;
}

}  // namespace orbiel
