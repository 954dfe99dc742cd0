// JPEG pictures made on the fly for the logo tests and the benchmark.
#pragma once

#include <stdint.h>
#include <stdio.h>

#include <jpeglib.h>

#include <string>
#include <vector>

namespace ob_test {

// Four colour quarters with a gradient, or its grey or CMYK counterpart:
// 1, 3 or 4 components per pixel. noise > 0 adds a little grain, as camera
// pictures have.
inline bool write_jpeg(const std::string& host_file, int width, int height, int components,
                       int quality = 95, unsigned noise = 0) {
    FILE* out = fopen(host_file.c_str(), "wb");
    if (out == nullptr) return false;
    jpeg_compress_struct cinfo;
    jpeg_error_mgr errors;
    cinfo.err = jpeg_std_error(&errors);
    jpeg_create_compress(&cinfo);
    jpeg_stdio_dest(&cinfo, out);
    cinfo.image_width = static_cast<JDIMENSION>(width);
    cinfo.image_height = static_cast<JDIMENSION>(height);
    cinfo.input_components = components;
    cinfo.in_color_space = components == 1 ? JCS_GRAYSCALE : components == 4 ? JCS_CMYK : JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, quality, TRUE);
    jpeg_start_compress(&cinfo, TRUE);
    std::vector<uint8_t> row(static_cast<size_t>(width) * components);
    unsigned grain = 1;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x)
            for (int i = 0; i < components; ++i) {
                grain = grain * 1103515245 + 12345;
                const int quarter = (x >= width / 2) + 2 * (y >= height / 2);
                const int level = i == 2 ? x * 255 / width : 40 + 50 * quarter + 30 * i;
                row[static_cast<size_t>(x) * components + i] =
                    static_cast<uint8_t>(level + (noise ? (grain >> 16) % noise : 0));
            }
        JSAMPROW rows[1] = {row.data()};
        jpeg_write_scanlines(&cinfo, rows, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    return fclose(out) == 0;
}

// Decodes as the menu decodes its logos (RGB for colour, one byte for grey)
// into `pixels`, which is reused between calls.
inline void decode_jpeg(const std::string& host_file, std::vector<uint8_t>& pixels, int& width,
                        int& height, int& components) {
    FILE* in = fopen(host_file.c_str(), "rb");
    if (in == nullptr) return;
    jpeg_decompress_struct cinfo;
    jpeg_error_mgr errors;
    cinfo.err = jpeg_std_error(&errors);
    jpeg_create_decompress(&cinfo);
    jpeg_stdio_src(&cinfo, in);
    jpeg_read_header(&cinfo, TRUE);
    // What the menu's logo decoding trades for speed.
    cinfo.dct_method = JDCT_IFAST;
    cinfo.do_fancy_upsampling = FALSE;
    jpeg_start_decompress(&cinfo);
    width = static_cast<int>(cinfo.output_width);
    height = static_cast<int>(cinfo.output_height);
    components = cinfo.output_components;
    const size_t stride = static_cast<size_t>(width) * components;
    pixels.resize(stride * height);
    while (cinfo.output_scanline < cinfo.output_height) {
        JSAMPROW row = &pixels[stride * cinfo.output_scanline];
        jpeg_read_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    fclose(in);
}

}  // namespace ob_test
