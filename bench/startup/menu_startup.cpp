// Menu start-up against a bare decode of its logo.
//
// Times orbiel from its entry to the first complete menu frame (the moment
// the selection stage first waits for the remote) on a 1280 x 720 box, and,
// in the same run, libjpeg-turbo decoding the same logo into memory with
// nothing else. Both run the real code on the machine or emulator this
// program runs on, against the recording fake kernel (so the clock the menu
// waits on is virtual, and what is timed is work). Prints both medians and
// their ratio:   menu_startup LOGO.jpg FONT.ttf [RUNS]
#include <stdio.h>
#include <stdlib.h>
#include <time.h>
// After stdio.h, which it needs.
#include <jpeglib.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "fake_kernel.h"
#include "medium.h"
#include "menu_state.h"
#include "orbiel.h"

namespace {

double wall_ms() {
    timespec t;
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

std::string file_content(const char* path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// The baseline: the logo decoded to RGB rows in memory, nothing drawn.
double decode_ms(const std::string& jpeg) {
    const double start = wall_ms();
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
    return wall_ms() - start;
}

// The fake kernel, noting when the menu first waits for input: by then the
// whole first frame is on the screen.
class FirstWait : public ob_test::FakeKernel {
public:
    double first_poll_ms = -1;
    int poll(struct pollfd* fds, nfds_t nfds, int timeout_ms) override {
        if (first_poll_ms < 0) first_poll_ms = wall_ms();
        return FakeKernel::poll(fds, nfds, timeout_ms);
    }
};

double startup_ms(const std::string& jpeg, const std::string& font) {
    FirstWait k;
    k.add_device("/dev/fb0", std::make_unique<ob_test::FakeFramebuffer>(1280, 720, 32));
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
    const double start = wall_ms();
    orbiel::orbiel_main(1, argv);
    if (k.first_poll_ms < 0) {
        fprintf(stderr, "menu_startup: the menu never waited for input\n%s", k.stdout_text.c_str());
        exit(1);
    }
    return k.first_poll_ms - start;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        fprintf(stderr, "usage: menu_startup LOGO.jpg FONT.ttf [RUNS]\n");
        return 2;
    }
    const std::string jpeg = file_content(argv[1]);
    const std::string font = file_content(argv[2]);
    const int runs = argc > 3 ? std::max(1, atoi(argv[3])) : 5;
    if (jpeg.empty() || font.empty()) {
        fprintf(stderr, "menu_startup: cannot read %s or %s\n", argv[1], argv[2]);
        return 1;
    }
    std::vector<double> decode, startup;
    for (int i = 0; i < runs; ++i) {
        decode.push_back(decode_ms(jpeg));
        startup.push_back(startup_ms(jpeg, font));
    }
    const double d = median(decode), s = median(startup);
    printf("bare logo decode        %9.1f ms (median of %d)\n", d, runs);
    printf("menu start to 1st frame %9.1f ms (median of %d)\n", s, runs);
    printf("ratio                   %9.2fx\n", s / d);
    return 0;
}
