#include "control_file.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <string.h>
#include <sys/stat.h>

#include "kernel.h"

namespace ob {

namespace {

constexpr int no_wait_read = O_RDONLY | O_NONBLOCK | O_NOCTTY;

bool waits_for_a_peer(mode_t mode) { return S_ISFIFO(mode) || S_ISSOCK(mode); }

}  // namespace

bool path_exists(const char* path) {
    const int fd = kernel().open(path, no_wait_read);
    if (fd < 0) return false;
    struct stat st;
    const bool counts = kernel().fstat(fd, &st) == 0 && !waits_for_a_peer(st.st_mode);
    kernel().close(fd);
    return counts;
}

int open_regular_file(const char* path) {
    const int fd = kernel().open(path, no_wait_read);
    if (fd < 0) return -1;
    struct stat st;
    if (kernel().fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) ||
        kernel().fcntl(fd, F_SETFL, O_RDONLY) != 0) {
        kernel().close(fd);
        errno = EINVAL;
        return -1;
    }
    return fd;
}

bool is_regular_file(const char* path) {
    struct stat st;
    return kernel().stat(path, &st) == 0 && S_ISREG(st.st_mode);
}

long read_control_file(const char* path, char* buf, size_t size, size_t limit) {
    if (size == 0) return -1;
    buf[0] = '\0';
    const int fd = open_regular_file(path);
    if (fd < 0) return -1;
    if (limit >= size) limit = size - 1;
    size_t got = 0;
    while (got < limit) {
        ssize_t n = kernel().read(fd, buf + got, limit - got);
        if (n <= 0) break;
        got += static_cast<size_t>(n);
    }
    kernel().close(fd);
    buf[got] = '\0';
    return static_cast<long>(got);
}

void cut_at_any(char* text, const char* separators) { text[strcspn(text, separators)] = '\0'; }

int control_number(const char* text) {
    const char* p = text;
    while (*p == ' ' || (*p >= '\t' && *p <= '\r'))
        ++p;
    bool negative = false;
    if (*p == '+' || *p == '-') negative = *p++ == '-';
    long long value = 0;
    while (*p >= '0' && *p <= '9') {
        if (value <= static_cast<long long>(INT_MAX) + 1) value = value * 10 + (*p - '0');
        ++p;
    }
    if (negative) value = -value;
    if (value > INT_MAX) return INT_MAX;
    if (value < INT_MIN) return INT_MIN;
    return static_cast<int>(value);
}

}  // namespace ob
