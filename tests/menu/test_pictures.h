// JPEG pictures made on the fly for the logo tests and the benchmark.
#pragma once

#include <stdint.h>
#include <stdio.h>

#include <jpeglib.h>

#include <string>
#include <vector>

namespace ob_test {

// How the picture's data is laid out in scans.
enum class Scans {
    baseline,
    progressive,      // the encoder's usual progression, colour planes halved
    progressive_444,  // the same with full colour planes: twice the coefficients
    many,             // one coefficient band per scan, each in two passes (grey: 128 scans)
};

// A progression of 2 + 2 x 63 scans for a one-component picture: the DC
// coefficient and every AC coefficient on its own, first its high bits, then
// the last one.
inline void set_many_scans(jpeg_compress_struct& cinfo, std::vector<jpeg_scan_info>& script) {
    script.clear();
    for (int pass = 0; pass < 2; ++pass) {
        script.push_back({1, {0}, 0, 0, pass, 1 - pass});
        for (int k = 1; k < 64; ++k)
            script.push_back({1, {0}, k, k, pass, 1 - pass});
    }
    cinfo.scan_info = script.data();
    cinfo.num_scans = static_cast<int>(script.size());
}

// Four colour quarters with a gradient, or its grey or CMYK counterpart:
// 1, 3 or 4 components per pixel. noise > 0 adds a little grain, as camera
// pictures have.
inline bool write_jpeg(const std::string& host_file, int width, int height, int components,
                       int quality = 95, unsigned noise = 0, Scans scans = Scans::baseline) {
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
    std::vector<jpeg_scan_info> script;
    if (scans == Scans::progressive_444)
        for (int i = 0; i < cinfo.num_components; ++i)
            cinfo.comp_info[i].h_samp_factor = cinfo.comp_info[i].v_samp_factor = 1;
    if (scans == Scans::progressive || scans == Scans::progressive_444)
        jpeg_simple_progression(&cinfo);
    if (scans == Scans::many) set_many_scans(cinfo, script);
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
