#include "medium_info.h"

#include <errno.h>
#include <string.h>
#include <sys/statvfs.h>

#include <vector>

#include "control_file.h"
#include "kernel.h"
#include "medium.h"
#include "resolve_below.h"

namespace obctl {

namespace {

constexpr const char* mount_table = "/proc/self/mounts";
// The mount table of a box or a PC is a few kilobytes; the rest is not read.
constexpr size_t mount_table_limit = 256 * 1024;
// The menu's banner comes first in its log.
constexpr size_t log_head = 512;
constexpr const char* banner_start = "Orbiel V";

// A field of the mount table, its blanks and backslashes written as octal
// escapes ("\040").
std::string unescaped(const std::string& field) {
    std::string text;
    for (size_t i = 0; i < field.size(); ++i) {
        const bool escape = field[i] == '\\' && i + 3 < field.size() && field[i + 1] >= '0' &&
                            field[i + 1] <= '3' && field[i + 2] >= '0' && field[i + 2] <= '7' &&
                            field[i + 3] >= '0' && field[i + 3] <= '7';
        if (escape) {
            text += static_cast<char>((field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 +
                                      (field[i + 3] - '0'));
            i += 3;
        } else {
            text += field[i];
        }
    }
    return text;
}

std::vector<std::string> fields_of(const std::string& line) {
    std::vector<std::string> fields;
    size_t start = 0;
    while (start < line.size()) {
        const size_t end = line.find(' ', start);
        fields.push_back(unescaped(line.substr(start, end - start)));
        if (end == std::string::npos) break;
        start = end + 1;
    }
    return fields;
}

// The mount the medium's top directory lies in: the longest mount point
// that is a prefix of it (the last of equal ones, as mounts stack).
void find_mount(const Medium& medium, MediumInfo& info) {
    std::string top;
    std::string table(mount_table_limit + 1, '\0');
    const long got = ob::read_control_file(mount_table, &table[0], table.size(), mount_table_limit);
    if (got <= 0 || !ob::resolve_below("", medium.top, top)) return;
    table.resize(static_cast<size_t>(got));
    size_t best = 0;
    size_t start = 0;
    while (start < table.size()) {
        size_t end = table.find('\n', start);
        if (end == std::string::npos) end = table.size();
        const std::vector<std::string> f = fields_of(table.substr(start, end - start));
        start = end + 1;
        if (f.size() < 3) continue;
        const std::string& point = f[1];
        const bool holds =
            point == "/" || top == point || top.compare(0, point.size() + 1, point + "/") == 0;
        if (!holds || point.size() < best) continue;
        best = point.size();
        info.device = f[0];
        info.file_system = f[2];
    }
}

void read_volume(MediumInfo& info) {
    if (info.device.compare(0, 5, "/dev/") != 0) {
        info.volume_error = "no partition";
        return;
    }
    info.volume_read = ob::read_ext_volume(info.device.c_str(), info.volume);
    if (!info.volume_read) info.volume_error = strerror(errno);
}

void read_space(const Medium& medium, MediumInfo& info) {
    struct statvfs st;
    if (ob::kernel().statvfs(medium.top.c_str(), &st) != 0) return;
    info.space_known = true;
    info.free_bytes = static_cast<uint64_t>(st.f_bavail) * st.f_frsize;
    info.size_bytes = static_cast<uint64_t>(st.f_blocks) * st.f_frsize;
}

void read_version(const Medium& medium, MediumInfo& info) {
    char head[log_head + 1];
    if (ob::read_control_file(medium.path(ob::menu_log).c_str(), head, sizeof head, log_head) <= 0)
        return;
    const char* banner = strstr(head, banner_start);
    if (banner == nullptr) return;
    std::string version = banner + strlen(banner_start);
    info.orbiel_version = version.substr(0, version.find_first_of(" \t\r\n"));
}

}  // namespace

MediumInfo medium_info(const Medium& medium) {
    MediumInfo info;
    find_mount(medium, info);
    read_volume(info);
    read_space(medium, info);
    read_version(medium, info);
    return info;
}

}  // namespace obctl
