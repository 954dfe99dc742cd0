// JPEG pictures made on the fly for the logo tests and the benchmark.
#pragma once

#include <stdint.h>
#include <stdio.h>

#include <jpeglib.h>

#include <functional>
#include <string>
#include <vector>

namespace ob_test {

// Components of one pixel at (x, y): 3 for colour, 1 for grey, 4 for CMYK.
using pixel_source = std::function<void(int x, int y, uint8_t* components)>;

// Writes a baseline JPEG of width x height to host_file; false on failure.
inline bool write_jpeg(const std::string& host_file, int width, int height, int components,
                       const pixel_source& source, int quality = 95) {
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
    while (cinfo.next_scanline < cinfo.image_height) {
        for (int x = 0; x < width; ++x)
            source(x, static_cast<int>(cinfo.next_scanline),
                   &row[static_cast<size_t>(x) * components]);
        JSAMPROW rows[1] = {row.data()};
        jpeg_write_scanlines(&cinfo, rows, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    return fclose(out) == 0;
}

// Four colour quarters with a gradient band: easy to tell apart on screen.
inline void quarters(int width, int height, int x, int y, uint8_t* rgb) {
    const bool right = x >= width / 2, bottom = y >= height / 2;
    rgb[0] = right ? 200 : 30;
    rgb[1] = bottom ? 180 : 60;
    rgb[2] = static_cast<uint8_t>(x * 255 / (width - 1));
}

// Decodes host_file with the library's defaults (3-byte RGB for colour
// pictures, 1 byte for grey) into one buffer; empty on failure.
inline std::vector<uint8_t> decode_jpeg(const std::string& host_file, int* width = nullptr,
                                        int* height = nullptr, int* components = nullptr) {
    std::vector<uint8_t> pixels;
    FILE* in = fopen(host_file.c_str(), "rb");
    if (in == nullptr) return pixels;
    jpeg_decompress_struct cinfo;
    jpeg_error_mgr errors;
    cinfo.err = jpeg_std_error(&errors);
    jpeg_create_decompress(&cinfo);
    jpeg_stdio_src(&cinfo, in);
    jpeg_read_header(&cinfo, TRUE);
    jpeg_start_decompress(&cinfo);
    const size_t stride = static_cast<size_t>(cinfo.output_width) * cinfo.output_components;
    pixels.resize(stride * cinfo.output_height);
    while (cinfo.output_scanline < cinfo.output_height) {
        JSAMPROW row = &pixels[stride * cinfo.output_scanline];
        jpeg_read_scanlines(&cinfo, &row, 1);
    }
    if (width) *width = static_cast<int>(cinfo.output_width);
    if (height) *height = static_cast<int>(cinfo.output_height);
    if (components) *components = cinfo.output_components;
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    fclose(in);
    return pixels;
}

}  // namespace ob_test
