#include "logo.h"

#include <fcntl.h>
#include <setjmp.h>
#include <stdio.h>
#include <string.h>

#include <string>

#include <jerror.h>
#include <jpeglib.h>

#include "control_file.h"
#include "draw.h"
#include "framebuffer.h"
#include "kernel.h"
#include "medium.h"
#include "menu_assets.h"
#include "menu_state.h"

namespace orbiel {

namespace {

// What the decoder may hold at once, derived from the largest picture the
// size check admits, so that every picture it admits can be shown. A
// baseline picture is decoded a few lines at a time; a progressive one keeps
// all its coefficients, 64 per 8 x 8 block, of at most three components
// (CMYK is refused, and the conversion to the screen's colours takes one or
// three) at full resolution (4:4:4), the rows of blocks rounded up to the
// largest sampling factor, 4: 47.8 MiB for an ultra-HD picture, and 1 MiB on
// top for the tables and line buffers (about 0.1 MiB). It is held only while
// the picture decodes, when nothing but the menu and process 1 run. Past it
// the decoder gives up (it has no backing store) instead of growing.
constexpr long blocks_along(JDIMENSION pixels) { return ((pixels + 7) / 8 + 3) / 4 * 4; }
constexpr long decoder_memory = blocks_along(ob::max_logo_width) *
                                    blocks_along(ob::max_logo_height) * 3 *
                                    static_cast<long>(sizeof(JBLOCK)) +
                                1024L * 1024;
// A progressive picture comes in about ten scans; each scan is a pass over
// the whole picture, so thousands of tiny ones would hold the menu for
// minutes.
constexpr int max_scans = 100;
// Bytes read from the file at a time.
constexpr size_t input_block = 4096;

// A picture the decoder gives up on must not end the menu: the error manager
// reports the library's message and jumps back to show_jpeg, which releases
// the decoder and the file and reports the failure.
struct decoder_errors {
    jpeg_error_mgr std;
    jmp_buf back;
};

// The picture's bytes come through the kernel seam from a descriptor, like
// every other file the menu reads.
struct descriptor_source {
    jpeg_source_mgr pub;
    int fd;
    bool started;
    JOCTET block[input_block];
};

void start_source(j_decompress_ptr cinfo) {
    reinterpret_cast<descriptor_source*>(cinfo->src)->started = false;
}

// As the library's own file source does: an empty file is an error, a file
// that ends early gets an end marker, with a warning, so that what was
// decoded is shown.
boolean fill_source(j_decompress_ptr cinfo) {
    descriptor_source* src = reinterpret_cast<descriptor_source*>(cinfo->src);
    ssize_t n = ob::kernel().read(src->fd, src->block, sizeof src->block);
    if (n <= 0) {
        if (!src->started) ERREXIT(cinfo, JERR_INPUT_EMPTY);
        WARNMS(cinfo, JWRN_JPEG_EOF);
        src->block[0] = 0xFF;
        src->block[1] = JPEG_EOI;
        n = 2;
    }
    src->pub.next_input_byte = src->block;
    src->pub.bytes_in_buffer = static_cast<size_t>(n);
    src->started = true;
    return TRUE;
}

void skip_source(j_decompress_ptr cinfo, long count) {
    jpeg_source_mgr* src = cinfo->src;
    if (count <= 0) return;
    while (count > static_cast<long>(src->bytes_in_buffer)) {
        count -= static_cast<long>(src->bytes_in_buffer);
        (*src->fill_input_buffer)(cinfo);
    }
    src->next_input_byte += count;
    src->bytes_in_buffer -= static_cast<size_t>(count);
}

void end_source(j_decompress_ptr) {}

void use_descriptor_source(jpeg_decompress_struct& cinfo, int fd) {
    descriptor_source* src = static_cast<descriptor_source*>((*cinfo.mem->alloc_small)(
        reinterpret_cast<j_common_ptr>(&cinfo), JPOOL_PERMANENT, sizeof(descriptor_source)));
    src->pub.init_source = start_source;
    src->pub.fill_input_buffer = fill_source;
    src->pub.skip_input_data = skip_source;
    src->pub.resync_to_restart = jpeg_resync_to_restart;
    src->pub.term_source = end_source;
    src->pub.bytes_in_buffer = 0;
    src->pub.next_input_byte = nullptr;
    src->fd = fd;
    cinfo.src = &src->pub;
}

void print_decoder_message(j_common_ptr cinfo) {
    char text[JMSG_LENGTH_MAX];
    (*cinfo->err->format_message)(cinfo, text);
    ob::printf_to(2, "%s\n", text);
}

[[noreturn]] void leave_decoder(j_common_ptr cinfo) {
    (*cinfo->err->output_message)(cinfo);
    longjmp(reinterpret_cast<decoder_errors*>(cinfo->err)->back, 1);
}

// Called by the decoder between its steps: ends a picture of too many scans.
void count_scans(j_common_ptr cinfo) {
    const j_decompress_ptr decompress = reinterpret_cast<j_decompress_ptr>(cinfo);
    if (decompress->input_scan_number <= max_scans) return;
    ob::printf_to(2, "jpeg has more than %i scans - not shown\n", max_scans);
    longjmp(reinterpret_cast<decoder_errors*>(cinfo->err)->back, 1);
}

bool is_cmyk(const jpeg_decompress_struct& cinfo) {
    return cinfo.jpeg_color_space == JCS_CMYK || cinfo.jpeg_color_space == JCS_YCCK;
}

// The colour space and the size are checked from the header, before the
// decoder allocates anything for the picture.
bool picture_fits(const jpeg_decompress_struct& cinfo, const char* path) {
    const std::string problem =
        ob::logo_problem(path, cinfo.image_width, cinfo.image_height, is_cmyk(cinfo));
    if (problem.empty()) return true;
    ob::printf_to(2, "%s\n", problem.c_str());
    return false;
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

// The decoding proper; the descriptor is the caller's. Returns show_jpeg's
// result.
int decode_onto_screen(int fd, const char* path) {
    jpeg_decompress_struct cinfo;
    decoder_errors errors;
    jpeg_progress_mgr progress;
    cinfo.err = jpeg_std_error(&errors.std);
    errors.std.error_exit = leave_decoder;
    errors.std.output_message = print_decoder_message;
    if (setjmp(errors.back) != 0) {
        jpeg_destroy_decompress(&cinfo);
        return 1;
    }
    jpeg_create_decompress(&cinfo);
    cinfo.mem->max_memory_to_use = decoder_memory;
    progress.progress_monitor = count_scans;
    cinfo.progress = &progress;
    use_descriptor_source(cinfo, fd);
    jpeg_read_header(&cinfo, TRUE);
    if (!picture_fits(cinfo, path)) {
        jpeg_destroy_decompress(&cinfo);
        return 1;
    }
    // Four bytes per pixel, alpha opaque: the screen's own layout, for colour
    // and greyscale pictures alike.
    cinfo.out_color_space = JCS_EXT_RGBA;
    jpeg_start_decompress(&cinfo);
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
    // Never waits on a FIFO, and takes nothing but a regular file.
    const int fd = ob::open_regular_file(path);
    if (fd < 0) {
        ob::printf_to(2, "open %s failed\n", path);
        return 1;
    }
    const int result = decode_onto_screen(fd, path);
    ob::kernel().close(fd);
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
