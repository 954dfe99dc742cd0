// The maintenance commands: "obinit start" (remount the medium), "obinit
// link" (become the box's /sbin/init), "obinit 911" (remount, plus the hard
// disk) and "obinit 90" (check the medium's file system and reset its UUID).
// Each is the last thing the process does and ends it with status 0.
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/mount.h>
#include <sys/swap.h>

#include "control_file.h"
#include "file_edit.h"
#include "kernel.h"
#include "medium.h"
#include "obinit.h"

namespace obinit {

namespace {

enum Command { relink_code = 999, check_code = 90, remount_hdd_code = 911 };

constexpr const char* hotplug = "/proc/sys/kernel/hotplug";
constexpr const char* mdev = "/sbin/mdev";
constexpr const char* flash_init = "/sbin/init";
constexpr const char* obinit_path = "/sbin/obinit";
constexpr const char* parking = "/tmp/ob";
constexpr const char* parked_medium = "/tmp/ob/ob";

// The image directories that may be mounted below the medium, then the
// medium's own boot directory: all must go before the medium can.
constexpr const char* mounts_below_medium[] = {
    "/media/ob/ob/1", "/media/ob/ob/2", "/media/ob/ob/3", "/media/ob/ob/4", "/media/ob/ob/5",
    "/media/ob/ob/6", "/media/ob/ob/7", "/media/ob/ob/8", "/media/ob/boot",
};

// Where a running flash system may have mounted the medium as well: marker
// file, mount point.
struct OtherMount {
    const char* marker;
    const char* mount_point;
};
constexpr OtherMount other_medium_mounts[] = {
    {"/media/usb/ob.sh", "/media/usb"},
    {"/media/cf/ob.sh", "/media/cf"},
};

constexpr size_t swaps_line_size = 180;  // lines of up to 179 characters
constexpr int swaps_lines_looked_at = 10;

// /proc/swaps read line by line through the kernel seam, like fgets: a line
// longer than the limit comes in pieces.
class LineReader {
public:
    explicit LineReader(int fd) : fd_(fd) {}
    bool next(char* line, size_t size) {
        size_t used = 0;
        while (used + 1 < size) {
            if (pos_ == len_ && !fill()) break;
            char c = buffer_[pos_++];
            line[used++] = c;
            if (c == '\n') break;
        }
        line[used] = '\0';
        return used > 0;
    }
    void rewind() {
        ob::kernel().lseek(fd_, 0, SEEK_SET);
        pos_ = len_ = 0;
    }

private:
    bool fill() {
        ssize_t n = ob::kernel().read(fd_, buffer_, sizeof buffer_);
        if (n <= 0) return false;
        pos_ = 0;
        len_ = static_cast<size_t>(n);
        return true;
    }
    int fd_;
    char buffer_[256];
    size_t pos_ = 0;
    size_t len_ = 0;
};

// The kernel runs the hotplug helper for every new device; text is what it
// should run ("" = nothing, but the file takes at least one byte).
void set_hotplug_helper(const char* text, size_t size) {
    int fd = ob::kernel().open(hotplug, O_RDWR);
    if (fd < 0) return;
    ob::kernel().write(fd, text, size);
    ob::kernel().close(fd);
}

[[noreturn]] void finish() {
    ob::kernel().exit(0);
    __builtin_unreachable();  // the seam's exit does not return, but a virtual call hides that
}

[[noreturn]] void relink() {
    ob::print_to(2, "Orbiel relinks /sbin/obinit to /sbin/init ...\n");
    if (ob::path_exists(flash_init)) remove_path(flash_init);
    ob::kernel().symlink(obinit_path, flash_init);
    finish();
}

void mount_hard_disk() {
    ob::kernel().umask(0);
    ob::kernel().mknod("/dev/sda1", S_IFBLK | 0666, makedev(8, 1));
    ob::kernel().mount("/dev/sda1", ob::hdd_mount, "ext3", 0, "barrier=1,data=journal");
}

[[noreturn]] void remount(int command_code) {
    ob::print_to(2, "Orbiel remounts only ...\n");
    prepare_medium_remount();
    if (command_code == remount_hdd_code) mount_hard_disk();
    mount_boot_medium();
    if (ob::path_exists(ob::swap_file)) {
        swapoff_listed();
        ob::kernel().swapon(ob::swap_file, SWAP_FLAG_PREFER);
    }
    finish();
}

// True when the medium is no longer mounted on /media/ob.
bool unmount_medium() {
    if (ob::path_exists(ob::medium_marker)) {
        for (const char* path : mounts_below_medium)
            ob::kernel().umount(path);
        if (ob::kernel().umount(ob::medium_mount) != 0) ob::print_error("umount /media/ob");
    }
    return !ob::path_exists(ob::medium_marker);
}

void unmount_other_views(const char* device) {
    for (const OtherMount& other : other_medium_mounts) {
        if (ob::path_exists(other.marker)) ob::kernel().umount(other.mount_point);
    }
    ob::kernel().umount(device);
    const char* partition = strncmp(device, "/dev/", 5) == 0 ? device + 5 : device;
    char automount[boot_device_size + 16];
    snprintf(automount, sizeof automount, "/autofs/%s", partition);
    ob::kernel().umount(automount);
}

[[noreturn]] void check_file_system() {
    if (ob::path_exists(ob::image_marker)) {
        ob::print_to(2, "Orbiel filesystemcheck works only in Flash\n\n");
        finish();
    }
    const char* device = state().boot_device;
    ob::printf_to(2, "Orbiel does Filesystemcheck now on %s device\n", device);
    prepare_medium_remount();
    swapoff_listed();
    if (!unmount_medium()) {
        ob::print_to(2, "Orbiel Filesystemcheck not possible because /media/ob still mounted\n");
        finish();
    }
    unmount_other_views(device);

    char command[boot_device_size + 96];
    snprintf(command, sizeof command, "fsck.ext4 -y -f %s", device);
    ob::kernel().system(command);
    ob::print_to(2, "\nOrbiel Filesystemcheck done\n\n");

    if (mount_boot_medium() != 0) {
        ob::print_error(ob::medium_mount);
        finish();
    }
    // A fresh all-zero UUID, with the tune2fs kept on the medium itself: the
    // flash system's own may be too old for ext4.
    snprintf(command, sizeof command, "%s -U 00000000-0000-0000-0000-000000000000 %s",
             ob::medium_tune2fs, device);
    // tune2fs refuses, for instance, a mounted volume with metadata checksums:
    // the user must not be told the reset was done when it was not.
    if (ob::kernel().system(command) != 0)
        ob::print_to(2, "\nOrbiel UUID reset failed\n\n");
    else
        ob::print_to(2, "\nOrbiel UUID reset done\n\n");
    finish();
}

}  // namespace

void swapoff_listed() {
    int fd = ob::kernel().open("/proc/swaps", O_RDONLY);
    if (fd < 0) return;
    LineReader swaps(fd);
    char line[swaps_line_size];
    // Each swapoff changes the list, so it is read again from the top; the
    // count of lines looked at, restarts included, bounds the loop should an
    // area refuse to go.
    int looked_at = 0;
    while (swaps.next(line, sizeof line) && looked_at < swaps_lines_looked_at) {
        ++looked_at;
        if (strchr(line, '/') == nullptr) continue;  // the heading
        line[strcspn(line, " \t\n")] = '\0';
        swaps.rewind();
        ob::kernel().swapoff(line);
    }
    ob::kernel().close(fd);
}

int prepare_medium_remount() {
    if (ob::path_exists(ob::image_marker)) {
        ob::kernel().mkdir(ob::medium_mount, 0777);
        return 1;
    }
    if (!ob::path_exists(mdev)) return 0;

    // An mdev flash root has its own tmpfs over /media, hiding the medium
    // mounted at start-up. The medium is moved into that tmpfs, with no
    // hotplug helper running meanwhile and the swap file on it released.
    set_hotplug_helper(" ", 1);
    ob::kernel().swapoff(ob::swap_file);
    ob::kernel().system("swapoff /media/ob/swapfile > /dev/null 2>&1");
    ob::kernel().umount(ob::medium_mount);
    ob::kernel().mkdir(parking, 0777);
    ob::kernel().mount("/media", parking, nullptr, MS_MOVE, nullptr);
    ob::kernel().mkdir(parked_medium, 0777);
    ob::kernel().mount(ob::medium_mount, parked_medium, nullptr, MS_MOVE, nullptr);
    ob::kernel().mount(parking, "/media", nullptr, MS_MOVE, nullptr);
    ob::kernel().swapon(ob::swap_file, SWAP_FLAG_PREFER);
    ob::kernel().rmdir(parking);
    set_hotplug_helper(mdev, strlen(mdev));
    return 0;
}

void run_maintenance(int command_code) {
    if (command_code == relink_code) relink();
    if (command_code == check_code) check_file_system();
    remount(command_code);
}

}  // namespace obinit
