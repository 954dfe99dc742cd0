// Progress of long work on standard error: a bar redrawn in place on a
// terminal, a plain line at every tenth of the way otherwise (a log, a
// pipe, the box's serial console).
#pragma once

#include <stdint.h>

#include <string>

namespace obctl {

class Progress {
public:
    // total: the units the work goes through (0 when unknown).
    Progress(std::string what, uint64_t total);
    // How far, and what was made so far.
    void update(uint64_t done, uint64_t bytes, uint64_t files);
    // Ends the bar's line.
    void finish();

private:
    std::string text(uint64_t done, uint64_t bytes, uint64_t files) const;

    std::string what_;
    uint64_t total_;
    bool terminal_;
    int64_t shown_ms_ = -1;  // when the bar was last drawn
    int tenths_ = 0;         // tenths reported as lines
    bool drawn_ = false;
};

// "123.4 MB"
std::string megabytes(uint64_t bytes);

}  // namespace obctl
