// The display stack against its natural lower bounds: a full-screen box
// against memset of the same bytes, a full-HD logo against decoding the same
// file into a plain buffer, and one menu line of text.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <string.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "../tests/menu/test_pictures.h"
#include "box_framebuffer.h"
#include "draw.h"
#include "fake_kernel.h"
#include "framebuffer.h"
#include "logo.h"
#include "medium.h"
#include "menu_state.h"
#include "text.h"

namespace {

using clock_type = std::chrono::steady_clock;

double seconds_since(clock_type::time_point start) {
    return std::chrono::duration<double>(clock_type::now() - start).count();
}

// orbiel's screen on a box-like framebuffer, set up as the entry does it.
struct bench_screen {
    ob_test::FakeKernel kernel;
    bench_screen(int width, int height) {
        orbiel::reset_menu_state();
        kernel.add_device("/dev/fb0", std::make_unique<ob_bench::BoxFramebuffer>());
        orbiel::fb = kernel.open("/dev/fb0", O_RDWR);
        orbiel::read_fixed_info();
        orbiel::read_variable_info();
        orbiel::put_mode(width, height);
        orbiel::read_fixed_info();
        orbiel::map_framebuffer();
    }
    ~bench_screen() {
        orbiel::menu_font_done();
        orbiel::unmap_framebuffer();
        kernel.close(orbiel::fb);
    }
};

void fill_box_vs_memset(benchmark::State& state) {
    bench_screen screen(1920, 1080);
    const size_t bytes = static_cast<size_t>(orbiel::fix_screeninfo.line_length) * 1080;
    const orbiel::color colors[2] = {orbiel::white, {64, 64, 64, 0xFF}};
    double fill = 0, plain = 0;
    int i = 0;
    for (auto _ : state) {
        auto start = clock_type::now();
        orbiel::fill_box(0, 0, 1919, 1079, colors[i & 1]);
        benchmark::ClobberMemory();
        fill += seconds_since(start);
        start = clock_type::now();
        memset(orbiel::fbmem, i & 1 ? 0x40 : 0xFF, bytes);
        benchmark::ClobberMemory();
        plain += seconds_since(start);
        ++i;
    }
    state.counters["fill_box_ms"] = fill * 1000 / i;
    state.counters["memset_ms"] = plain * 1000 / i;
    state.counters["ratio"] = fill / plain;
}
BENCHMARK(fill_box_vs_memset)->Unit(benchmark::kMillisecond)->MinTime(2.0);

// A photo-like logo: gradients with a little grain, at a usual quality.
std::string make_full_hd_logo(ob_test::FakeKernel& kernel) {
    const std::string path = std::string(ob::logo_dir) + "bench.jpg";
    kernel.write_file(path, "");
    ob_test::write_jpeg(kernel.host_path(path.c_str()), 1920, 1080, 3, 90, 16);
    return path;
}

void show_jpeg_vs_plain_decode(benchmark::State& state) {
    bench_screen screen(1920, 1080);
    const std::string path = make_full_hd_logo(screen.kernel);
    const std::string host_file = screen.kernel.host_path(path.c_str());
    std::vector<uint8_t> pixels;
    double shown = 0, plain = 0;
    int i = 0;
    for (auto _ : state) {
        auto start = clock_type::now();
        if (orbiel::show_jpeg(path.c_str()) != 0) state.SkipWithError("show_jpeg failed");
        shown += seconds_since(start);
        start = clock_type::now();
        int width, height, components;
        ob_test::decode_jpeg(host_file, pixels, width, height, components);
        benchmark::DoNotOptimize(pixels.data());
        plain += seconds_since(start);
        ++i;
    }
    state.counters["show_jpeg_ms"] = shown * 1000 / i;
    state.counters["decode_ms"] = plain * 1000 / i;
    state.counters["ratio"] = shown / plain;
}
BENCHMARK(show_jpeg_vs_plain_decode)->Unit(benchmark::kMillisecond)->MinTime(3.0);

void render_text_menu_line(benchmark::State& state) {
    bench_screen screen(1280, 720);
    screen.kernel.write_file(ob::default_font, [] {
        FILE* in = fopen("/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf", "rb");
        std::string data;
        char chunk[65536];
        size_t n;
        while (in != nullptr && (n = fread(chunk, 1, sizeof chunk, in)) > 0)
            data.append(chunk, n);
        if (in != nullptr) fclose(in);
        return data;
    }());
    snprintf(orbiel::font, sizeof orbiel::font, "%s", ob::default_font);
    if (!orbiel::menu_font_init()) {
        state.SkipWithError("no font");
        return;
    }
    const char* line = "3 (OpenAV 7.4 for the living room boxes)";  // 40 characters
    for (auto _ : state)
        orbiel::render_text(line, 200, 106, 1000, 0, 1, orbiel::white);
    state.SetLabel(std::to_string(strlen(line)) + " characters at 24 px");
}
BENCHMARK(render_text_menu_line)->Unit(benchmark::kMicrosecond);

}  // namespace
