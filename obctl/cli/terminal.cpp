#include "terminal.h"

#include <sys/ioctl.h>
#include <termios.h>

#include "kernel.h"

namespace obctl {

namespace {

// Longer answers are cut; none is that long.
constexpr size_t longest_line = 256;

bool read_line(std::string& line) {
    line.clear();
    char c;
    ssize_t n;
    while ((n = ob::kernel().read(0, &c, 1)) == 1 && c != '\n')
        if (line.size() < longest_line) line += c;
    return n == 1 || !line.empty();
}

// The terminal's modes, read and set as the C library's tcgetattr and
// tcsetattr do on Linux.
bool terminal_modes(struct termios& modes) { return ob::kernel().ioctl(0, TCGETS, &modes) == 0; }

}  // namespace

bool read_secret(const char* prompt, std::string& line) {
    ob::print_to(2, prompt);
    struct termios saved;
    const bool terminal = terminal_modes(saved);
    if (terminal) {
        struct termios quiet = saved;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        ob::kernel().ioctl(0, TCSETS, &quiet);
    }
    const bool got = read_line(line);
    if (terminal) {
        ob::kernel().ioctl(0, TCSETS, &saved);
        ob::print_to(2, "\n");  // the line feed that was not echoed
    }
    return got;
}

bool confirmed(const std::string& question) {
    struct termios modes;
    if (!terminal_modes(modes)) return false;
    ob::print_to(2, (question + " [y/N] ").c_str());
    std::string answer;
    return read_line(answer) && !answer.empty() && (answer[0] == 'y' || answer[0] == 'Y');
}

}  // namespace obctl
