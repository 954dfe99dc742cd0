#include "control_file.h"

#include <fcntl.h>
#include <limits.h>
#include <string.h>

#include "kernel.h"

namespace ob {

bool path_exists(const char* path) {
    int fd = kernel().open(path, O_RDONLY);
    if (fd < 0) return false;
    kernel().close(fd);
    return true;
}

long read_control_file(const char* path, char* buf, size_t size, size_t limit) {
    if (size == 0) return -1;
    buf[0] = '\0';
    int fd = kernel().open(path, O_RDONLY);
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
