#include "draw.h"

#include <limits.h>

#include "pixel.h"

namespace orbiel {

void fill_box(int x0, int y0, int x1, int y1, color c) {
    if (x1 < x0 || y1 < y0) return;
    pixel_writer pw;
    if (!make_pixel_writer(c, pw)) return;
    pw.clipped_rect(x0, y0, x1, y1);
}

namespace {

// The 20 x 20 disc, as the first and last set column of each row.
struct dot_row {
    int first, last;
};
constexpr dot_row dot_rows[20] = {
    {7, 12}, {5, 14}, {4, 15}, {3, 16}, {2, 17}, {2, 17}, {1, 18}, {1, 18}, {0, 19}, {0, 19},
    {0, 19}, {0, 19}, {1, 18}, {1, 18}, {2, 17}, {2, 17}, {3, 16}, {4, 15}, {5, 14}, {7, 12},
};

}  // namespace

void draw_dot(int x, int y, color c) {
    if (x > INT_MAX - 20 || y > INT_MAX - 20) return;  // entirely off the screen
    pixel_writer pw;
    if (!make_pixel_writer(c, pw)) return;
    for (int row = 0; row < 20; ++row)
        pw.clipped_span(x + dot_rows[row].first, x + dot_rows[row].last, y + row);
}

}  // namespace orbiel
