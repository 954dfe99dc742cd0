#include "line_reader.h"

#include <fcntl.h>
#include <unistd.h>

#include "control_file.h"
#include "kernel.h"

namespace obinit {

int LineReader::next_char() {
    if (pos_ == filled_) {
        const ssize_t got = ob::kernel().read(fd_, block_, sizeof block_);
        if (got <= 0) return -1;
        filled_ = static_cast<size_t>(got);
        pos_ = 0;
    }
    return static_cast<unsigned char>(block_[pos_++]);
}

bool LineReader::next(char* line, size_t size) {
    size_t length = 0;
    too_long_ = false;
    int c = next_char();
    if (c < 0) return false;
    for (; c >= 0 && c != '\n'; c = next_char()) {
        if (length + 1 < size)
            line[length++] = static_cast<char>(c);
        else
            too_long_ = true;
        // A full piece ends here; the line goes on in the next one.
        if (rule_ == LongLine::split && length + 1 == size) break;
    }
    line[too_long_ ? 0 : length] = '\0';
    return true;
}

bool LineReader::next(std::string& line) {
    line.clear();
    int c = next_char();
    if (c < 0) return false;
    for (; c >= 0 && c != '\n'; c = next_char())
        line += static_cast<char>(c);
    return true;
}

void LineReader::rewind() {
    ob::kernel().lseek(fd_, 0, SEEK_SET);
    filled_ = pos_ = 0;
}

std::string read_first_line(const char* path) {
    std::string line;
    const int fd = ob::open_regular_file(path);
    if (fd < 0) return line;
    LineReader(fd, LineReader::LongLine::skip).next(line);
    ob::kernel().close(fd);
    return line;
}

}  // namespace obinit
