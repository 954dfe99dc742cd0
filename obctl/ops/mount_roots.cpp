#include "mount_roots.h"

#include <fcntl.h>
#include <stdio.h>
#include <sys/sysmacros.h>

#include <string>

#include "kernel.h"

namespace obctl {

namespace {

constexpr size_t largest_table = 1 << 20;

std::string whole_file(const char* path) {
    std::string text;
    const int fd = ob::kernel().open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return text;
    char block[4096];
    ssize_t got;
    while (text.size() < largest_table && (got = ob::kernel().read(fd, block, sizeof block)) > 0)
        text.append(block, static_cast<size_t>(got));
    ob::kernel().close(fd);
    return text;
}

// A mount point as the table writes it: blanks, tabs, line feeds and
// backslashes as three octal digits after a backslash.
std::string unescaped(const std::string& field) {
    std::string out;
    for (size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size() && field[i + 1] >= '0' &&
            field[i + 1] <= '3') {
            out += static_cast<char>((field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 +
                                     (field[i + 3] - '0'));
            i += 3;
        } else {
            out += field[i];
        }
    }
    return out;
}

}  // namespace

MountRoots::MountRoots(dev_t device) {
    const std::string table = whole_file("/proc/self/mountinfo");
    size_t start = 0;
    while (start < table.size()) {
        size_t end = table.find('\n', start);
        if (end == std::string::npos) end = table.size();
        const std::string line = table.substr(start, end - start);
        start = end + 1;
        // "36 35 98:0 /mnt1 /mnt2 rw,noatime master:1 - ext3 /dev/root rw"
        unsigned major_number = 0;
        unsigned minor_number = 0;
        int at = 0;
        if (sscanf(line.c_str(), "%*u %*u %u:%u %*s %n", &major_number, &minor_number, &at) != 2 ||
            at == 0 || makedev(major_number, minor_number) != device)
            continue;
        const size_t blank = line.find(' ', static_cast<size_t>(at));
        const std::string point = unescaped(line.substr(static_cast<size_t>(at), blank - at));
        struct stat st;
        if (ob::kernel().stat(point.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
            roots_.emplace_back(st.st_dev, st.st_ino);
    }
}

bool MountRoots::holds(const struct stat& st) const {
    for (const auto& root : roots_)
        if (root.first == st.st_dev && root.second == st.st_ino) return true;
    return false;
}

}  // namespace obctl
