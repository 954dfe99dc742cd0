// Menu start-up against a bare decode of its logo.
//
// Times orbiel from its entry to the first complete menu frame (the moment
// the selection stage first waits for the remote) on a 1280 x 720 box, and,
// in the same run, libjpeg-turbo decoding the same logo into memory with
// nothing else. Both run the real code on the machine or emulator this
// program runs on, against the fake kernel with its recording off (so the
// clock the menu waits on is virtual, what is timed is work, and the fake's
// bookkeeping of calls is not) with a box-like framebuffer (whose mode
// changes allocate nothing).
//
// The two are measured in pairs, one right after the other, in turns which
// goes first, and each pair gives its own ratio: a machine busy with other
// work slows both of a pair alike, where it would shift two separate
// medians apart. Times are the process's CPU time, which another process
// taking the core does not lengthen. Without RUNS, pairs are added until the
// median ratio is known to within 1.5 % either way (95 % interval from the
// order statistics; 0.02 at 1.3x), so that two invocations agree within
// 0.05.
//
// With --box it runs on a box (the emulated one): the menu against the real
// kernel, its framebuffer and input devices, with the medium on /media/ob
// holding the same logo and font.
//
//     menu_startup [--box] LOGO.jpg FONT.ttf [RUNS]
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
// After stdio.h, which it needs.
#include <jpeglib.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "../box_framebuffer.h"
#include "fake_kernel.h"
#include "linux_kernel.h"
#include "medium.h"
#include "menu_state.h"
#include "orbiel.h"

namespace {

// Fewer pairs give too coarse an interval from the order statistics, and
// span too short a time to even out a machine whose load changes.
constexpr int fewest_runs = 41;
constexpr int most_runs = 400;
// Half the width of the median's 95 % interval, as a share of the median:
// 0.02 at a ratio of 1.3.
constexpr double wanted_half_width = 0.015;

double cpu_ms() {
    timespec t;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

std::string file_content(const char* path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The value at fraction q (0..1) of the sorted values, by its nearest rank.
double at_rank(const std::vector<double>& sorted, double q) {
    const double rank = q * static_cast<double>(sorted.size() - 1);
    const long i =
        std::lround(std::min(std::max(rank, 0.0), static_cast<double>(sorted.size() - 1)));
    return sorted[static_cast<size_t>(i)];
}

std::vector<double> sorted(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v;
}

// The 95 % interval of the median of n values: the ranks n/2 -+ 0.98 sqrt(n).
void median_interval(const std::vector<double>& sorted_values, double& low, double& high) {
    const double n = static_cast<double>(sorted_values.size());
    const double spread = 0.98 * sqrt(n) / n;
    low = at_rank(sorted_values, 0.5 - spread);
    high = at_rank(sorted_values, 0.5 + spread);
}

// The baseline: the logo decoded to RGB rows in memory, nothing drawn.
double decode_ms(const std::string& jpeg) {
    const double start = cpu_ms();
    jpeg_decompress_struct info;
    jpeg_error_mgr errors;
    info.err = jpeg_std_error(&errors);
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, reinterpret_cast<const unsigned char*>(jpeg.data()),
                 static_cast<unsigned long>(jpeg.size()));
    jpeg_read_header(&info, TRUE);
    info.out_color_space = JCS_RGB;
    jpeg_start_decompress(&info);
    std::vector<unsigned char> row(static_cast<size_t>(info.output_width) * 3);
    while (info.output_scanline < info.output_height) {
        JSAMPROW rows[] = {row.data()};
        jpeg_read_scanlines(&info, rows, 1);
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    return cpu_ms() - start;
}

// The fake kernel, noting when the menu first waits for input: by then the
// whole first frame is on the screen.
class FirstWait : public ob_test::FakeKernel {
public:
    double first_poll_ms = -1;
    int poll(struct pollfd* fds, nfds_t nfds, int timeout_ms) override {
        if (first_poll_ms < 0) first_poll_ms = cpu_ms();
        return FakeKernel::poll(fds, nfds, timeout_ms);
    }
};

// The box's own kernel (inside the emulated box, with its framebuffer and
// input devices and the medium on /media/ob): the menu's first wait for input
// ends the measurement, and the rest of its run is over at once: its clock
// jumps past every time-out, nothing comes from the remote and its pauses are
// skipped. What it prints goes nowhere.
//
// Where the time goes: the CPU time at the first of a few calls of the seam
// that mark the start's steps, in the order they come.
class BoxKernel : public ob::LinuxKernel {
public:
    double first_poll_ms = -1;
    std::vector<std::pair<std::string, double>> marks;
    int poll(struct pollfd*, nfds_t, int) override {
        if (first_poll_ms < 0) first_poll_ms = mark("front panel written, first wait for a key");
        return 0;
    }
    void* mmap(void* addr, size_t length, int prot, int flags, int fd, off_t offset) override {
        mark(logo_fd < 0 ? "framebuffer set up and mapped" : "logo: its mode set, mapped again");
        return LinuxKernel::mmap(addr, length, prot, flags, fd, offset);
    }
    ssize_t read(int fd, void* buf, size_t count) override {
        if (fd == logo_fd && marked("logo: its mode set, mapped again"))
            mark("logo: screen cleared");
        return LinuxKernel::read(fd, buf, count);
    }
    std::string host_path(const char* path) override {
        mark("font library and cache made");
        return LinuxKernel::host_path(path);
    }
    int open(const char* path, int flags, mode_t mode) override {
        const int fd = LinuxKernel::open(path, flags, mode);
        if (strcmp(path, ob::default_logo) == 0) {
            mark("font face read, settings and images");
            logo_fd = fd;
        }
        if (strcmp(path, "/dev/dbox/oled0") == 0) mark("input devices opened, the list drawn");
        return fd;
    }
    int close(int fd) override {
        if (fd == logo_fd && fd >= 0) {
            mark("logo: decoded onto the screen");
            logo_fd = -1;
        }
        return LinuxKernel::close(fd);
    }
    int64_t monotonic_ms() override {
        return LinuxKernel::monotonic_ms() + (first_poll_ms < 0 ? 0 : 24 * 3600 * 1000);
    }
    void sleep_us(unsigned long microseconds) override {
        if (first_poll_ms < 0) LinuxKernel::sleep_us(microseconds);
    }
    ssize_t write(int fd, const void* buf, size_t count) override {
        return fd == 1 || fd == 2 ? static_cast<ssize_t>(count)
                                  : LinuxKernel::write(fd, buf, count);
    }

private:
    int logo_fd = -1;
    bool marked(const char* step) const {
        return std::any_of(marks.begin(), marks.end(),
                           [step](const auto& m) { return m.first == step; });
    }
    double mark(const char* step) {
        const double now = cpu_ms();
        if (first_poll_ms < 0 && !marked(step)) marks.emplace_back(step, now);
        return now;
    }
};

// The box runs' steps: what each took, by the step's name, in their order.
std::vector<std::pair<std::string, std::vector<double>>> box_steps;

void note_box_steps(const BoxKernel& k, double start) {
    double before = start;
    for (size_t i = 0; i < k.marks.size(); ++i) {
        if (box_steps.size() <= i) box_steps.emplace_back(k.marks[i].first, std::vector<double>());
        if (box_steps[i].first == k.marks[i].first)
            box_steps[i].second.push_back(k.marks[i].second - before);
        before = k.marks[i].second;
    }
}

double box_startup_ms() {
    BoxKernel k;
    ob::Kernel* before = ob::set_kernel(&k);
    orbiel::reset_menu_state();
    char program[] = "/media/ob/bin/orbiel";
    char* argv[] = {program, nullptr};
    const double start = cpu_ms();
    orbiel::orbiel_main(1, argv);
    ob::set_kernel(before);
    if (k.first_poll_ms < 0) {
        fprintf(stderr, "menu_startup: the menu never waited for input\n");
        exit(1);
    }
    note_box_steps(k, start);
    return k.first_poll_ms - start;
}

double startup_ms(const std::string& jpeg, const std::string& font) {
    FirstWait k;
    k.recording = false;
    k.add_device("/dev/fb0", std::make_unique<ob_bench::BoxFramebuffer>());
    k.add_device("/dev/input/event0", std::make_unique<ob_test::FakeInputDevice>());
    k.write_file(ob::default_logo, jpeg);
    k.write_file(ob::default_font, font);
    k.write_file(ob::timeout_file, "1\n");
    k.write_file(ob::selection_file, "image2\n");
    for (const char* name : {"image1", "image2", "image3"})
        k.write_file(std::string(ob::images_dir) + "/" + name + "/.obinfo", "");
    orbiel::reset_menu_state();
    char program[] = "/media/ob/bin/orbiel";
    char* argv[] = {program, nullptr};
    const double start = cpu_ms();
    orbiel::orbiel_main(1, argv);
    if (k.first_poll_ms < 0) {
        fprintf(stderr, "menu_startup: the menu never waited for input\n%s", k.stdout_text.c_str());
        exit(1);
    }
    return k.first_poll_ms - start;
}

}  // namespace

int main(int argc, char** argv) {
    const bool on_box = argc > 1 && strcmp(argv[1], "--box") == 0;
    if (on_box) {
        --argc;
        ++argv;
    }
    if (argc < 3) {
        fprintf(stderr, "usage: menu_startup [--box] LOGO.jpg FONT.ttf [RUNS]\n");
        return 2;
    }
    const std::string jpeg = file_content(argv[1]);
    const std::string font = file_content(argv[2]);
    const int fixed_runs = argc > 3 ? std::max(1, atoi(argv[3])) : 0;
    if (jpeg.empty() || font.empty()) {
        fprintf(stderr, "menu_startup: cannot read %s or %s\n", argv[1], argv[2]);
        return 1;
    }
    const auto start_ms = [&] { return on_box ? box_startup_ms() : startup_ms(jpeg, font); };
    // A first pair unmeasured: an emulator translates the code on its first run.
    decode_ms(jpeg);
    start_ms();
    std::vector<double> decode, startup, ratio;
    double low = 0, high = 0;
    for (int i = 0;; ++i) {
        double d, s;
        if (i % 2 == 0) {
            d = decode_ms(jpeg);
            s = start_ms();
        } else {
            s = start_ms();
            d = decode_ms(jpeg);
        }
        decode.push_back(d);
        startup.push_back(s);
        ratio.push_back(s / d);
        const int runs = i + 1;
        if (fixed_runs > 0) {
            if (runs == fixed_runs) break;
            continue;
        }
        if (runs < fewest_runs) continue;
        median_interval(sorted(ratio), low, high);
        const double median = at_rank(sorted(ratio), 0.5);
        const double allowed = wanted_half_width * median;
        if ((median - low <= allowed && high - median <= allowed) || runs == most_runs) break;
    }
    const std::vector<double> r = sorted(ratio);
    median_interval(r, low, high);
    const int runs = static_cast<int>(r.size());
    printf("bare logo decode        %9.1f ms CPU (median of %d)\n", at_rank(sorted(decode), 0.5),
           runs);
    printf("menu start to 1st frame %9.1f ms CPU (median of %d)\n", at_rank(sorted(startup), 0.5),
           runs);
    printf("ratio                   %9.2fx (median of the pairs' ratios)\n", at_rank(r, 0.5));
    printf("spread                  %9.2fx to %.2fx (middle half), %.2fx to %.2fx (all)\n",
           at_rank(r, 0.25), at_rank(r, 0.75), r.front(), r.back());
    printf("median within           %9.2fx to %.2fx (95 %%)\n", low, high);
    for (const auto& step : box_steps)
        if (!step.second.empty())
            printf("  step %8.1f ms CPU: %s\n", at_rank(sorted(step.second), 0.5),
                   step.first.c_str());
    return 0;
}
