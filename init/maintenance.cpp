// The maintenance commands: "obinit start" (remount the medium), "obinit
// link" (become the box's /sbin/init), "obinit 911" (remount, plus the hard
// disk) and "obinit 90" (check the medium's file system and reset its UUID).
// Each is the last thing the process does and ends it with status 0; as
// process 1 it then starts the flash's init instead.
#include "maintenance.h"

#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/mount.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "control_file.h"
#include "device_nodes.h"
#include "init_program.h"
#include "kernel.h"
#include "line_reader.h"
#include "medium.h"
#include "medium_discovery.h"
#include "obinit.h"
#include "shell_commands.h"

namespace obinit {

namespace {

constexpr const char* hotplug = "/proc/sys/kernel/hotplug";
constexpr const char* parking = "/tmp/ob";
constexpr const char* parked_medium = "/tmp/ob/ob";

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

// The kernel runs the hotplug helper for every new device; text is what it
// should run ("" = nothing, but the file takes at least one byte).
void set_hotplug_helper(const char* text, size_t size) {
    int fd = ob::kernel().open(hotplug, O_RDWR);
    if (fd < 0) return;
    ob::kernel().write(fd, text, size);
    ob::kernel().close(fd);
}

// Inside an image root the medium only needs its mount point again.
void prepare_medium_remount() {
    if (ob::path_exists(ob::image_marker)) {
        ob::kernel().mkdir(ob::medium_mount, 0777);
        return;
    }
    if (!ob::path_exists(mdev_program)) return;

    // An mdev flash root has its own tmpfs over /media, hiding the medium
    // mounted at start-up. The medium is moved into that tmpfs, with no
    // hotplug helper running meanwhile and the swap file on it released.
    set_hotplug_helper(" ", 1);
    ob::kernel().swapoff(ob::swap_file);
    run_shell(ShellCommand::swapoff);
    ob::kernel().umount(ob::medium_mount);
    ob::kernel().mkdir(parking, 0777);
    ob::kernel().mount("/media", parking, nullptr, MS_MOVE, nullptr);
    ob::kernel().mkdir(parked_medium, 0777);
    ob::kernel().mount(ob::medium_mount, parked_medium, nullptr, MS_MOVE, nullptr);
    ob::kernel().mount(parking, "/media", nullptr, MS_MOVE, nullptr);
    swap_on_medium();
    ob::kernel().rmdir(parking);
    set_hotplug_helper(mdev_program, strlen(mdev_program));
}

// Process 1 must not exit (the kernel would panic): given a command (say
// "start" on the kernel command line), it goes on with the flash's init,
// with the kernel command line's other words but without the command (which
// that init would not understand, and which would run again were that init
// obinit itself).
[[noreturn]] void finish() {
    if (ob::kernel().getpid() == 1) {
        static std::vector<char*> without_command;
        char* const* argv = state().argv;
        if (argv != nullptr && argv[0] != nullptr && argv[1] != nullptr) {
            without_command.assign(1, argv[0]);
            for (int i = 2; argv[i] != nullptr; ++i)
                without_command.push_back(argv[i]);
            without_command.push_back(nullptr);
            state().argv = without_command.data();
        }
        start_init();
    }
    ob::kernel().exit(0);
    __builtin_unreachable();  // the seam's exit does not return, but a virtual call hides that
}

[[noreturn]] void relink() {
    ob::print_to(2, "Orbiel relinks /sbin/obinit to /sbin/init ...\n");
    if (ob::path_exists(plain_init)) remove_path(plain_init);
    ob::kernel().symlink(obinit_program, plain_init);
    finish();
}

void mount_hard_disk() {
    make_node("/dev/sda1", S_IFBLK | 0666, 8, 1);
    ob::kernel().mount("/dev/sda1", ob::hdd_mount, "ext3", 0, "barrier=1,data=journal");
}

[[noreturn]] void remount(int command_code) {
    ob::print_to(2, "Orbiel remounts only ...\n");
    prepare_medium_remount();
    if (command_code == remount_hdd_command) mount_hard_disk();
    mount_boot_medium();
    if (ob::path_exists(ob::swap_file)) {
        swapoff_listed();
        swap_on_medium();
    }
    finish();
}

// True when the medium is no longer mounted on /media/ob.
bool unmount_medium() {
    if (ob::path_exists(ob::medium_marker)) {
        // The numbered image directories that may be mounted below the
        // medium, then its own boot directory: all must go before it can.
        for (char image = ob::first_numbered_image; image <= ob::last_numbered_image; ++image)
            ob::kernel().umount((std::string(ob::images_dir) + "/" + image).c_str());
        ob::kernel().umount(ob::medium_boot_dir);
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

    run_shell(ShellCommand::fsck, device);
    ob::print_to(2, "\nOrbiel Filesystemcheck done\n\n");

    if (mount_boot_medium() != 0) {
        ob::print_error(ob::medium_mount);
        finish();
    }
    // tune2fs refuses, for instance, a mounted volume with metadata checksums:
    // the user must not be told the reset was done when it was not.
    if (run_shell(ShellCommand::uuid_reset, device) != 0)
        ob::print_to(2, "\nOrbiel UUID reset failed\n\n");
    else
        ob::print_to(2, "\nOrbiel UUID reset done\n\n");
    finish();
}

}  // namespace

void swapoff_listed() {
    const int fd = ob::open_regular_file("/proc/swaps");
    if (fd < 0) return;
    LineReader swaps(fd, LineReader::LongLine::split);
    char line[swaps_line_size];
    // Each swapoff changes the list, so it is read again from the top; the
    // count of lines looked at, restarts included, bounds the loop should an
    // area refuse to go.
    int looked_at = 0;
    while (swaps.next(line, sizeof line) && looked_at < swaps_lines_looked_at) {
        ++looked_at;
        if (strchr(line, '/') == nullptr) continue;  // the heading
        line[strcspn(line, " \t")] = '\0';
        swaps.rewind();
        ob::kernel().swapoff(line);
    }
    ob::kernel().close(fd);
}

bool is_maintenance(int command_code) {
    return command_code >= start_command || command_code == check_command;
}

void run_maintenance(int command_code) {
    if (command_code == link_command) relink();
    if (command_code == check_command) check_file_system();
    remount(command_code);
}

}  // namespace obinit
