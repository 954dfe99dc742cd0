// A minimal PNG writer for looking at test screens: 8-bit RGB, no filtering,
// stored (uncompressed) deflate blocks. Big, but readable by every viewer and
// free of any library.
#pragma once

#include <stddef.h>
#include <stdint.h>

#include <string>
#include <vector>

namespace ob_test {

uint32_t png_crc32(const uint8_t* data, size_t size, uint32_t crc = 0);
uint32_t png_adler32(const uint8_t* data, size_t size);

// rgb holds width * height pixels of 3 bytes, row after row.
bool write_png_rgb(const std::string& host_file, unsigned width, unsigned height,
                   const std::vector<uint8_t>& rgb);

}  // namespace ob_test
