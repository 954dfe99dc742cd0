// An add's progress on standard error: a bar redrawn in place on a terminal,
// a plain line at every tenth of the way otherwise (a log, a pipe, the box's
// serial console); its notes as lines on standard output.
#pragma once

#include <stdint.h>

#include <string>

#include "add_watch.h"

namespace obctl {

class Progress : public AddWatch {
public:
    explicit Progress(std::string what);
    ~Progress() override { finish(); }

    void phase(Phase now) override;
    void unpacked(uint64_t input_done, uint64_t input_total, uint64_t bytes,
                  uint64_t files) override;
    void note(const std::string& line) override;

private:
    std::string text(uint64_t done, uint64_t total, uint64_t bytes, uint64_t files) const;
    // Ends the bar's line.
    void finish();

    std::string what_;
    bool terminal_;
    int64_t shown_ms_ = -1;  // when the bar was last drawn
    int tenths_ = 0;         // tenths reported as lines
    bool drawn_ = false;
};

}  // namespace obctl
