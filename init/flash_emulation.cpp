// An image booted from the medium must not write the box's own flash (that
// belongs to the flash image). Its writes go to a loop device over a file in
// /var/volatile, a tmpfs that is new at every boot: on dm520 MTD partition 2
// becomes a block2mtd device over that loop device, on the other models the
// loop device takes the place of /dev/mmcblk0 and its first partition.
#include "flash_emulation.h"

#include <fcntl.h>
#include <linux/loop.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>

#include "device_nodes.h"
#include "kernel.h"

namespace obinit {

namespace {

constexpr unsigned loop_major = 7;
constexpr size_t backing_block_size = 1024;
// Erased flash reads as all ones; a fresh replacement looks erased too.
constexpr unsigned char erased_byte = 0xFF;

constexpr const char* block2mtd_parameter_file = "/sys/module/block2mtd/parameters/block2mtd";
// block2mtd adds the new device after the box's partitions 0 to 4.
constexpr int block2mtd_number = 5;

// Names of at most a few dozen characters; the numbers come from obinit
// itself, so a cut name would be a programming error, not input.
using Name = char[64];
using Parameter = char[96];  // a loop node's name and two numbers

void make_loop_node(const char* path, int loop) {
    if (make_node(path, S_IFBLK | 0600, loop_major, static_cast<unsigned>(loop)) != 0)
        ob::print_error(path);
}

// Written a stretch of blocks at a time: 16 MiB in 1 KiB writes would cost
// the boot thousands of system calls.
constexpr int blocks_per_write = 64;

void create_backing_file(const char* path, int blocks) {
    int fd = ob::kernel().open(path, O_RDWR | O_CREAT, 0600);
    if (fd < 0) return;
    static char stretch[blocks_per_write * backing_block_size];
    memset(stretch, erased_byte, sizeof stretch);
    for (int left = blocks; left > 0; left -= blocks_per_write) {
        const size_t size = static_cast<size_t>(left < blocks_per_write ? left : blocks_per_write) *
                            backing_block_size;
        if (ob::kernel().write(fd, stretch, size) != static_cast<ssize_t>(size)) break;
    }
    ob::kernel().close(fd);
}

// Writes the whole text; false (errno set) when the file cannot take it.
bool write_parameter(const char* path, const char* text) {
    int fd = ob::kernel().open(path, O_WRONLY);
    if (fd < 0) return false;
    const size_t size = strlen(text);
    bool ok = ob::kernel().write(fd, text, size) == static_cast<ssize_t>(size);
    ob::kernel().close(fd);
    return ok;
}

// False (after its message, if any) when the loop device was not set up.
bool attach_backing_file(const char* backing_file, const char* loop_node, const char* name,
                         int blocks) {
    int fd = ob::kernel().open(backing_file, O_RDWR);
    if (fd >= 0)
        ob::kernel().close(fd);  // left from earlier: reused as it is, with its own size
    else
        create_backing_file(backing_file, blocks);

    struct stat st;
    if (ob::kernel().stat(backing_file, &st) != 0 || st.st_size == 0) return false;

    int file_fd = ob::kernel().open(backing_file, O_RDWR);
    if (file_fd < 0) {
        ob::print_error(backing_file);
        return false;
    }
    int loop_fd = ob::kernel().open(loop_node, O_RDWR);
    if (loop_fd < 0) {
        ob::print_error(loop_node);
        ob::kernel().close(file_fd);
        return false;
    }

    struct loop_info info;
    memset(&info, 0, sizeof info);
    size_t name_size = strnlen(name, sizeof info.lo_name);
    memcpy(info.lo_name, name, name_size);

    bool attached = false;
    if (ob::kernel().ioctl(loop_fd, LOOP_SET_FD,
                           reinterpret_cast<void*>(static_cast<intptr_t>(file_fd))) != 0)
        ob::print_error("LOOP_SET_FD");
    else if (ob::kernel().ioctl(loop_fd, LOOP_SET_STATUS, &info) != 0)
        ob::print_error("LOOP_SET_STATUS");
    else
        attached = true;
    // The loop device holds its own reference to the file.
    ob::kernel().close(loop_fd);
    ob::kernel().close(file_fd);
    return attached;
}

}  // namespace

int emulate_mtd(int partition, int loop, int blocks) {
    Name backing_file, mtd_node, mtd_ro_node, mtd_block_node, loop_node;
    Name new_node, new_ro_node, new_block_node;
    Parameter parameter;
    snprintf(backing_file, sizeof backing_file, "/var/volatile/.mtd%i", partition);
    snprintf(mtd_node, sizeof mtd_node, "/dev/mtd%i", partition);
    snprintf(mtd_ro_node, sizeof mtd_ro_node, "/dev/mtd%iro", partition);
    snprintf(mtd_block_node, sizeof mtd_block_node, "/dev/mtdblock%i", partition);
    snprintf(loop_node, sizeof loop_node, "/dev/loop%i", loop);
    // Loop device, erase-block size (128 KiB), and the driver's third field.
    snprintf(parameter, sizeof parameter, "%s,0x20000,0x800", loop_node);
    snprintf(new_node, sizeof new_node, "/dev/mtd%i", block2mtd_number);
    snprintf(new_ro_node, sizeof new_ro_node, "/dev/mtd%iro", block2mtd_number);
    snprintf(new_block_node, sizeof new_block_node, "/dev/mtdblock%i", block2mtd_number);

    remove_path(mtd_node);
    remove_path(mtd_ro_node);
    remove_path(mtd_block_node);
    make_loop_node(loop_node, loop);
    if (!attach_backing_file(backing_file, loop_node, mtd_node, blocks)) return 0;

    // Without block2mtd no new MTD device appears, and the renames below would
    // move nothing or some other device's nodes into the partition's place.
    if (!write_parameter(block2mtd_parameter_file, parameter)) {
        ob::print_error(block2mtd_parameter_file);
        return 0;
    }
    // The kernel's device file system creates the new nodes meanwhile.
    ob::kernel().sleep_us(1000000);
    ob::kernel().rename(new_node, mtd_node);
    ob::kernel().rename(new_ro_node, mtd_ro_node);
    ob::kernel().rename(new_block_node, mtd_block_node);
    return 0;
}

int emulate_mmcblk(int device, int loop, int blocks) {
    Name backing_file, disk_node, partition_node;
    snprintf(backing_file, sizeof backing_file, "/var/volatile/.mmcblk%i", device);
    snprintf(disk_node, sizeof disk_node, "/dev/mmcblk%i", device);
    snprintf(partition_node, sizeof partition_node, "/dev/mmcblk%ip1", device);

    remove_path(disk_node);
    remove_path(partition_node);
    make_loop_node(disk_node, loop);
    if (!attach_backing_file(backing_file, disk_node, disk_node, blocks)) return 0;
    // No partition table on the replacement: its first partition is all of it.
    ob::kernel().link(disk_node, partition_node);
    return 0;
}

}  // namespace obinit
