#include "progress.h"

#include <unistd.h>

#include <utility>

#include "kernel.h"

namespace obctl {

namespace {

constexpr int bar_width = 30;
constexpr int64_t redraw_ms = 200;

int percent(uint64_t done, uint64_t total) {
    if (total == 0) return 0;
    return done >= total ? 100 : static_cast<int>(done * 100 / total);
}

}  // namespace

Progress::Progress(std::string what) : what_(std::move(what)), terminal_(isatty(2) == 1) {}

std::string Progress::text(uint64_t done, uint64_t total, uint64_t bytes, uint64_t files) const {
    std::string line = megabytes(bytes) + " in " + std::to_string(files) + " files";
    if (total != 0) line = std::to_string(percent(done, total)) + "%, " + line;
    return line;
}

void Progress::phase(Phase now) {
    if (now != Phase::unpacking) finish();
}

void Progress::unpacked(uint64_t done, uint64_t total, uint64_t bytes, uint64_t files) {
    if (!terminal_) {
        const int tenths = percent(done, total) / 10;
        if (total == 0 || tenths <= tenths_) return;
        tenths_ = tenths;
        ob::printf_to(2, "obctl: %s: %s\n", what_.c_str(), text(done, total, bytes, files).c_str());
        return;
    }
    const int64_t now = ob::kernel().monotonic_ms();
    if (shown_ms_ >= 0 && now - shown_ms_ < redraw_ms) return;
    shown_ms_ = now;
    const int filled = percent(done, total) * bar_width / 100;
    const std::string bar =
        total == 0 ? std::string()
                   : "[" + std::string(filled, '#') + std::string(bar_width - filled, ' ') + "] ";
    ob::printf_to(2, "\r%s: %s%s\033[K", what_.c_str(), bar.c_str(),
                  text(done, total, bytes, files).c_str());
    drawn_ = true;
}

void Progress::note(const std::string& line) {
    finish();
    ob::printf_to(1, "%s\n", line.c_str());
}

void Progress::finish() {
    if (drawn_) ob::print_to(2, "\n");
    drawn_ = false;
}

}  // namespace obctl
