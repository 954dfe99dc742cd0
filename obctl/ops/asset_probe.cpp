#include "asset_probe.h"

#include <setjmp.h>
#include <stdio.h>

#include <ft2build.h>
#include FT_FREETYPE_H
#include <jpeglib.h>

#include <vector>

#include "control_file.h"
#include "kernel.h"
#include "medium.h"
#include "menu_assets.h"

namespace obctl {

namespace {

// More than any logo holds; a bigger file is not read whole.
constexpr size_t largest_logo = 32 * 1024 * 1024;

struct HeaderErrors {
    jpeg_error_mgr std;
    jmp_buf back;
    char message[JMSG_LENGTH_MAX];
};

[[noreturn]] void leave_header(j_common_ptr cinfo) {
    HeaderErrors* errors = reinterpret_cast<HeaderErrors*>(cinfo->err);
    (*cinfo->err->format_message)(cinfo, errors->message);
    longjmp(errors->back, 1);
}

void ignore_warning(j_common_ptr, int) {}

bool read_whole(int fd, std::vector<unsigned char>& bytes) {
    unsigned char block[65536];
    for (;;) {
        const ssize_t n = ob::kernel().read(fd, block, sizeof block);
        if (n < 0) return false;
        if (n == 0) return true;
        if (bytes.size() + static_cast<size_t>(n) > largest_logo) return false;
        bytes.insert(bytes.end(), block, block + n);
    }
}

// The header's verdict, as the menu's decoder reaches it before it
// allocates anything for the picture.
std::string header_problem(std::vector<unsigned char>& bytes) {
    jpeg_decompress_struct cinfo;
    HeaderErrors errors;
    cinfo.err = jpeg_std_error(&errors.std);
    errors.std.error_exit = leave_header;
    errors.std.emit_message = ignore_warning;
    if (setjmp(errors.back) != 0) {
        jpeg_destroy_decompress(&cinfo);
        return errors.message;
    }
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, bytes.data(), static_cast<unsigned long>(bytes.size()));
    jpeg_read_header(&cinfo, TRUE);
    const bool cmyk = cinfo.jpeg_color_space == JCS_CMYK || cinfo.jpeg_color_space == JCS_YCCK;
    const std::string problem =
        ob::logo_problem(ob::default_logo, cinfo.image_width, cinfo.image_height, cmyk);
    jpeg_destroy_decompress(&cinfo);
    return problem;
}

}  // namespace

std::string start_logo_problem(const Medium& medium) {
    const std::string open_failed = std::string("open ") + ob::default_logo + " failed";
    const int fd = ob::open_regular_file(medium.path(ob::default_logo).c_str());
    if (fd < 0) return open_failed;
    std::vector<unsigned char> bytes;
    const bool whole = read_whole(fd, bytes);
    ob::kernel().close(fd);
    if (!whole) return open_failed;
    return header_problem(bytes);
}

std::string font_problem(const Medium& medium) {
    const std::string path = medium.path(ob::default_font);
    char refused[256];
    snprintf(refused, sizeof refused, ob::font_refused_format, ob::default_font);
    std::string message = refused;
    message.pop_back();  // its line feed
    FT_Library library;
    if (!ob::is_regular_file(path.c_str()) || FT_Init_FreeType(&library) != 0) return message;
    FT_Face face;
    const FT_Error failed =
        FT_New_Face(library, ob::kernel().host_path(path.c_str()).c_str(), 0, &face);
    if (failed == 0) FT_Done_Face(face);
    FT_Done_FreeType(library);
    return failed == 0 ? "" : message;
}

}  // namespace obctl
