// What an add tells while it runs: how far the unpacking is, and the lines
// worth a word (warnings, leftovers removed). The command line draws a bar,
// the web page a progress bar of its own.
#pragma once

#include <stdint.h>

#include <string>

namespace obctl {

class AddWatch {
public:
    enum class Phase { cleaning, unpacking, checking, placing };

    virtual ~AddWatch() = default;
    virtual void phase(Phase now) = 0;
    // input_done of input_total (0 when unknown) of the source's own bytes
    // read; bytes of file data and files written so far.
    virtual void unpacked(uint64_t input_done, uint64_t input_total, uint64_t bytes,
                          uint64_t files) = 0;
    virtual void note(const std::string& line) = 0;
};

// "123.4 MB"
std::string megabytes(uint64_t bytes);

}  // namespace obctl
