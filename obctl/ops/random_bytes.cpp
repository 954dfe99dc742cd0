#include "random_bytes.h"

#include <fcntl.h>

#include <vector>

#include "kernel.h"

namespace obctl {

bool random_bytes(void* out, size_t size) {
    const int fd = ob::kernel().open("/dev/urandom", O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    size_t got = 0;
    while (got < size) {
        const ssize_t n = ob::kernel().read(fd, static_cast<char*>(out) + got, size - got);
        if (n <= 0) break;
        got += static_cast<size_t>(n);
    }
    ob::kernel().close(fd);
    return got == size;
}

std::string random_hex(size_t size) {
    std::vector<unsigned char> bytes(size);
    if (!random_bytes(bytes.data(), size)) return "";
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (unsigned char b : bytes) {
        text += digits[b >> 4];
        text += digits[b & 15];
    }
    return text;
}

}  // namespace obctl
