// Making an image directory on the medium the root of process 1 and handing
// over to the image's own init program.
#include "root_switch.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/mount.h>
#include <sys/stat.h>

#include <string>

#include "box_setup.h"
#include "device_nodes.h"
#include "image_boot.h"
#include "init_program.h"
#include "kernel.h"
#include "kernel_mounts.h"
#include "medium.h"
#include "obinit.h"
#include "program_check.h"
#include "shell_commands.h"

namespace obinit {

namespace {

// Trees carried from the flash root into the image. The medium is bound, not
// moved, so it stays mounted outside the new root as well; /sys and /dev
// belong to the image from now on.
struct CarryOver {
    const char* source;
    const char* target_below_root;
    unsigned long flags;
};
constexpr CarryOver carry_overs[] = {
    {ob::medium_mount, ob::medium_mount, MS_BIND},
    {"/sys", "/sys", MS_MOVE},
    {"/dev", "/dev", MS_MOVE},
};

constexpr const char* console = "/dev/console";

// Everything after switch_root changes the image's files, so the new root
// must be a directory that can be entered and must not be the running root
// itself (a link pointing there would make the image preparation edit the
// flash), must lie in the medium's image directory and must hold an init
// program that the kernel would start (process 1 would end otherwise).
// Reports and returns false otherwise; nothing is mounted yet.
bool can_enter(const char* new_root) {
    struct stat root_dir;
    const bool root_known = ob::kernel().stat("/", &root_dir) == 0;
    const ob::ImageBootProblem problem =
        ob::image_boot_problem(ob::images_dir, new_root, root_known ? &root_dir : nullptr);
    if (problem.kind != ob::ImageBootProblem::none) {
        ob::printf_to(2, "%s\n", ob::image_boot_message(problem, new_root, ob::images_dir).c_str());
        return false;
    }
    if (ob::kernel().chdir(new_root) == 0) return true;
    ob::printf_to(2, "Orbiel: cannot enter image directory %s: %s\n", new_root, strerror(errno));
    return false;
}

// Whether the directory holding a mount point is the image's own: the path
// is taken in the flash root's view, where a link in the image (media ->
// /mnt) would lead out of it.
bool parent_in_image(const std::string& new_root, const char* point) {
    const std::string parent(point, static_cast<size_t>(strrchr(point, '/') - point));
    if (parent.empty()) return true;
    struct stat st;
    return ob::kernel().lstat((new_root + parent).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Without them the image would boot without the medium, /sys, /dev and
// /proc; one that cannot be made is reported, and the boot goes on.
void make_missing_mount_points(const char* new_root) {
    for (const ob::MountPoint& point : ob::image_mount_points) {
        const std::string path = std::string(new_root) + point.path;
        struct stat st;
        if (ob::kernel().lstat(path.c_str(), &st) == 0 || errno != ENOENT) continue;
        if (!parent_in_image(new_root, point.path)) continue;
        if (ob::kernel().mkdir(path.c_str(), point.mode) != 0)
            ob::printf_to(2, "Orbiel: cannot make mount point %s: %s\n", path.c_str(),
                          strerror(errno));
    }
}

void reopen_console() {
    ob::kernel().close(0);
    const int fd = ob::kernel().open(console, O_RDWR);
    if (fd < 0) return;
    if (fd != 0) {
        ob::kernel().dup2(fd, 0);
        ob::kernel().close(fd);
    }
    ob::kernel().dup2(0, 1);
    ob::kernel().dup2(0, 2);
}

// If the image's init cannot be executed, start_init tries the others.
[[noreturn]] void execute(const char* program) {
    ob::kernel().execve(program, state().argv, state().envp);
    start_init();
}

}  // namespace

int switch_root(const char* new_root) {
    std::string targets[sizeof carry_overs / sizeof carry_overs[0]];
    for (size_t i = 0; i < sizeof carry_overs / sizeof carry_overs[0]; ++i)
        targets[i] = std::string(new_root) + carry_overs[i].target_below_root;

    if (!can_enter(new_root)) return 1;  // also makes new_root the working directory
    make_missing_mount_points(new_root);
    for (size_t i = 0; i < sizeof carry_overs / sizeof carry_overs[0]; ++i)
        ob::kernel().mount(carry_overs[i].source, targets[i].c_str(), nullptr, carry_overs[i].flags,
                           nullptr);

    if (ob::kernel().mount(".", "/", nullptr, MS_BIND, nullptr) != 0 ||
        ob::kernel().chroot(".") != 0 || ob::kernel().chdir("/") != 0)
        ob::print_error("moving rootdir");
    // Even without the root mount the boot goes on inside the image directory.
    ob::kernel().chroot(".");
    ob::kernel().chdir("/");

    reopen_console();
    return 0;
}

void start_image_init() {
    ob::print_to(2, "Continue booting...\n");
    // The image's files edited by the preparation are on the medium before
    // its init runs.
    ob::kernel().sync();
    // One that is there but would not start must not keep /sbin/init from
    // getting what it needs below.
    for (const char* program : self_mounting_inits)
        if (ob::check_program("", program).startable) execute(program);

    // A plain init needs what the menu stage would have set up, and input
    // devices for a keyboard.
    if (state().menu_skipped) {
        make_device_nodes();
        load_box_modules();
    }
    run_shell(ShellCommand::modprobe, "usbhid");
    mount_kernel_file_systems(KernelMountSet::plain_init);
    execute(plain_init);
}

}  // namespace obinit
