// Lines of a file read through the kernel seam a block at a time, without
// their line feeds.
#pragma once

#include <stddef.h>

#include <string>

namespace obinit {

class LineReader {
public:
    // What becomes of a line that does not fit the caller's buffer.
    enum class LongLine {
        skip,   // passed over whole: it comes back empty, with too_long() set
        split,  // comes back in pieces of the buffer's size, like fgets
    };

    LineReader(int fd, LongLine rule) : fd_(fd), rule_(rule) {}

    // The next line into line (size bytes, terminated). False at the end of
    // the file.
    bool next(char* line, size_t size);
    // The next line whatever its length.
    bool next(std::string& line);
    // The last line of next(char*, size_t) was longer than its buffer.
    bool too_long() const { return too_long_; }
    // Back to the start of the file.
    void rewind();

private:
    int next_char();

    int fd_;
    LongLine rule_;
    bool too_long_ = false;
    char block_[512];
    size_t filled_ = 0;
    size_t pos_ = 0;
};

// The first line of a file, of any length ("" when the file does not open).
std::string read_first_line(const char* path);

}  // namespace obinit
