// Finding the boot medium by its volume label and mounting it.
//
// The medium has no fixed device name: disks and cards appear in whatever
// order the kernel registers them, sometimes seconds after boot. So the
// partitions are scanned for a label beginning with "ob", several times.
#include "medium_discovery.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/swap.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <string>

#include "control_file.h"
#include "device_nodes.h"
#include "ext_volume.h"
#include "kernel.h"
#include "line_reader.h"
#include "medium.h"
#include "obinit.h"

namespace obinit {

namespace {

constexpr const char* partitions_file = "/proc/partitions";
constexpr int scan_passes = 11;
constexpr unsigned long pass_pause_us = 1000000;
constexpr int heading_lines = 2;  // the column names and an empty line

// Fixed columns of a /proc/partitions line ("%4d  %7d %10llu %s").
constexpr size_t minor_column = 7;
constexpr size_t name_column = 25;
// Longer lines are no partition the medium can be on (its device path would
// not fit boot_device) and are passed over whole.
constexpr size_t line_limit = 78;

struct BootMajor {
    int major;
    size_t min_path_length;  // shorter paths are whole devices, not partitions
};
constexpr BootMajor boot_majors[] = {
    {8, 9},     // SCSI/USB/SATA disks: "/dev/sda" is the disk, "/dev/sda1" a partition
    {179, 14},  // MMC/SD cards: "/dev/mmcblk0" is the card, "/dev/mmcblk0p1" a partition
};

struct Partition {
    int major = 0;
    int minor = 0;
    char device[boot_device_size] = {};  // "/dev/" and the name
};

constexpr mode_t partition_node_mode = S_IFBLK | 0666;

struct FatLabel {
    off_t type_at;
    const char* type;  // 5 characters
    off_t label_at;
};
constexpr size_t fat_type_size = 5;
constexpr size_t fat_label_size = 11;
constexpr FatLabel fat_labels[] = {
    {54, "FAT16", 43},
    {82, "FAT32", 71},
};

// Exactly size bytes at offset, or false.
bool read_at(int fd, off_t offset, void* buf, size_t size) {
    if (ob::kernel().lseek(fd, offset, SEEK_SET) != offset) return false;
    return ob::kernel().read(fd, buf, size) == static_cast<ssize_t>(size);
}

// A FAT volume keeps its label in the boot sector; other formats keep the
// candidate taken from the ext superblock position.
void read_fat_label(int fd, char* label) {
    for (const FatLabel& fat : fat_labels) {
        char type[fat_type_size];
        if (!read_at(fd, fat.type_at, type, sizeof type)) return;
        if (memcmp(type, fat.type, sizeof type) != 0) continue;
        char name[fat_label_size];
        if (!read_at(fd, fat.label_at, name, sizeof name)) return;
        memcpy(label, name, sizeof name);
        label[sizeof name] = '\0';
        return;
    }
}

void make_partition_node(const Partition& partition) {
    make_node(partition.device, partition_node_mode, static_cast<unsigned>(partition.major),
              static_cast<unsigned>(partition.minor));
}

bool has_medium_label(const Partition& partition) {
    if (!ob::path_exists(partition.device)) make_partition_node(partition);
    read_volume_label(partition.device);
    return strncmp(state().volume_label, ob::medium_label_prefix,
                   strlen(ob::medium_label_prefix)) == 0;
}

// One line of /proc/partitions (without its line feed): true when it is a
// partition that may carry the boot medium (disk partitions of major 8,
// card partitions of major 179) and its device path fits boot_device.
bool boot_candidate(const char* line, Partition& out) {
    // A line without a name also has no complete minor column.
    const size_t length = strlen(line);
    if (length <= name_column) return false;
    const char* name = line + name_column;
    const size_t path_length = strlen("/dev/") + strlen(name);
    // Never cut a name short: a truncated path would name another device.
    if (path_length >= boot_device_size) return false;

    const int major = ob::control_number(line);
    bool wanted = false;
    for (const BootMajor& boot : boot_majors)
        if (major == boot.major && path_length >= boot.min_path_length) wanted = true;
    if (!wanted) return false;

    out.major = major;
    out.minor = ob::control_number(line + minor_column);
    strcpy(out.device, "/dev/");
    strcat(out.device, name);
    return true;
}

// One pass over the partition list; true (with boot_device set) on the first
// partition whose label begins with "ob".
bool scan_partitions(int fd) {
    LineReader lines(fd, LineReader::LongLine::skip);
    char line[line_limit + 1];
    for (int skipped = 0; skipped < heading_lines; ++skipped)
        if (!lines.next(line, sizeof line)) return false;
    while (lines.next(line, sizeof line)) {
        Partition partition;
        if (lines.too_long() || !boot_candidate(line, partition)) continue;
        if (has_medium_label(partition)) {
            ob::print_to(2, "\n");
            strcpy(state().boot_device, partition.device);
            return true;
        }
    }
    return false;
}

}  // namespace

bool find_boot_medium() {
    state().volume_label[0] = '\0';
    for (int pass = 0; pass < scan_passes; ++pass) {
        const int fd = ob::open_regular_file(partitions_file);
        if (fd < 0) return false;  // no /proc: waiting would not help
        const bool found = scan_partitions(fd);
        ob::kernel().close(fd);
        if (found) return true;
        ob::print_to(2, ".");
        ob::kernel().sleep_us(pass_pause_us);
    }
    ob::print_to(2, "\n");
    return false;
}

void read_volume_label(const char* device) {
    char* label = state().volume_label;
    const int fd = ob::kernel().open(device, O_RDONLY);
    if (fd < 0) return;
    unsigned char block[ob::ext_superblock_size];
    if (read_at(fd, ob::ext_superblock_offset, block, sizeof block)) {
        const ob::ExtVolume volume = ob::decode_ext_superblock(block);
        memcpy(label, volume.label, sizeof volume.label);
        if (!volume.magic) read_fat_label(fd, label);
    }
    ob::kernel().close(fd);
}

// The medium is always mounted as ext4, with full data journalling: the box
// may lose power at any moment.
int mount_boot_medium() {
    return ob::kernel().mount(state().boot_device, ob::medium_mount, "ext4",
                              MS_MGC_VAL | MS_NOATIME | MS_NODIRATIME, "barrier=1,data=journal");
}

void report_unmountable_medium() {
    const int saved = errno;
    const char* device = state().boot_device;
    std::string problem;
    struct utsname name;
    ob::ExtVolume volume;
    if (ob::read_ext_volume(device, volume) && ob::kernel().uname(&name) == 0)
        problem = ob::ext_mount_problem(volume, ob::kernel_release_of(name.release));
    errno = saved;
    if (problem.empty())
        ob::print_error(ob::medium_mount);
    else
        ob::printf_to(2, "Orbiel: cannot mount %s on %s: it %s\n", device, ob::medium_mount,
                      problem.c_str());
}

int swap_on_medium() { return ob::kernel().swapon(ob::swap_file, SWAP_FLAG_PREFER); }

void swap_on_medium_if_present() {
    if (ob::path_exists(ob::swap_file)) swap_on_medium();
}

}  // namespace obinit
