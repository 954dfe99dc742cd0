// Writes the medium's start logo: a calm 1280x720 gradient, dark at the top
// and bottom with a soft glow across the middle, so the menu's white text and
// grey bar stay readable wherever they are drawn. No text on it: the menu
// puts its own on top.
//
// Usage: make_logo OUTPUT.jpg
// A build-machine tool (run under qemu-user in cross builds), so it uses the
// C library directly rather than the boxes' kernel seam.
#include <cmath>
#include <cstdio>
#include <vector>

#include <jpeglib.h>

namespace {

constexpr int logo_width = 1280;
constexpr int logo_height = 720;
constexpr int jpeg_quality = 92;

struct rgb {
    double r, g, b;
};

// Deep blue-grey above, a muted teal where the eye rests, near-black below.
constexpr rgb sky_top{10, 16, 30};
constexpr rgb glow{28, 78, 96};
constexpr rgb floor_bottom{4, 8, 14};

rgb mix(const rgb& a, const rgb& b, double t) {
    return {a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t};
}

double smooth(double t) { return t * t * (3 - 2 * t); }

rgb logo_colour(int x, int y) {
    const double v = static_cast<double>(y) / (logo_height - 1);
    const rgb base = v < 0.45 ? mix(sky_top, glow, smooth(v / 0.45))
                              : mix(glow, floor_bottom, smooth((v - 0.45) / 0.55));
    // A wide, faint light from the centre keeps the corners dark.
    const double dx = (x - logo_width / 2.0) / (logo_width / 2.0);
    const double dy = (y - logo_height * 0.45) / (logo_height / 2.0);
    const double light = 0.35 * std::exp(-(dx * dx * 1.2 + dy * dy * 2.5));
    return mix(base, {90, 150, 170}, light);
}

unsigned char channel(double value, int x, int y) {
    // An ordered dither of a fraction of a level breaks up the banding that a
    // smooth gradient shows in 8 bits per channel.
    static const double bayer[4][4] = {
        {0, 8, 2, 10}, {12, 4, 14, 6}, {3, 11, 1, 9}, {15, 7, 13, 5}};
    const double v = value + bayer[y & 3][x & 3] / 16.0 - 0.5;
    return static_cast<unsigned char>(v < 0 ? 0 : v > 255 ? 255 : std::lround(v));
}

bool write_logo(const char* path) {
    FILE* out = std::fopen(path, "wb");
    if (!out) {
        std::perror(path);
        return false;
    }
    jpeg_compress_struct cinfo;
    jpeg_error_mgr jerr;
    cinfo.err = jpeg_std_error(&jerr);
    jpeg_create_compress(&cinfo);
    jpeg_stdio_dest(&cinfo, out);
    cinfo.image_width = logo_width;
    cinfo.image_height = logo_height;
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, jpeg_quality, TRUE);
    jpeg_start_compress(&cinfo, TRUE);

    std::vector<unsigned char> row(logo_width * 3);
    for (int y = 0; y < logo_height; ++y) {
        for (int x = 0; x < logo_width; ++x) {
            const rgb c = logo_colour(x, y);
            row[x * 3 + 0] = channel(c.r, x, y);
            row[x * 3 + 1] = channel(c.g, x, y);
            row[x * 3 + 2] = channel(c.b, x, y);
        }
        JSAMPROW rows[1] = {row.data()};
        jpeg_write_scanlines(&cinfo, rows, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    if (std::fclose(out) != 0) {
        std::perror(path);
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT.jpg\n", argv[0]);
        return 2;
    }
    return write_logo(argv[1]) ? 0 : 1;
}
