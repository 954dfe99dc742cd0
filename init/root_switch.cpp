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
#include "resolve_below.h"
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
    const char* what;  // in the line that says it is left out
};
constexpr CarryOver carry_overs[] = {
    {ob::medium_mount, ob::medium_mount, MS_BIND, "the medium"},
    {"/sys", "/sys", MS_MOVE, "/sys"},
    {"/dev", "/dev", MS_MOVE, "/dev"},
};

constexpr const char* console = "/dev/console";

// Everything after switch_root changes the image's files, so the new root
// must be a directory that can be entered and must not be the running root
// itself (a link pointing there would make the image preparation edit the
// flash), must lie in the medium's image directory and must hold an init
// program that the kernel would start (process 1 would end otherwise).
// Reports and returns false otherwise; nothing is mounted yet.
bool can_enter(const char* new_root) {
    const ob::ImageBootProblem problem = boot_problem(new_root);
    if (problem.kind != ob::ImageBootProblem::none) {
        ob::printf_to(2, "%s\n", ob::image_boot_message(problem, new_root, ob::images_dir).c_str());
        return false;
    }
    if (ob::kernel().chdir(new_root) == 0) return true;
    ob::printf_to(2, "Orbiel: cannot enter image directory %s: %s\n", new_root, strerror(errno));
    return false;
}

// A path of the image as the image will see it: its links are followed
// inside the image (media -> /mnt/media puts the medium on the image's own
// /mnt/media/ob), never into the flash root. The result is below new_root,
// "" for the image's root itself.
bool in_image(const std::string& new_root, const std::string& path, std::string& below) {
    if (!ob::resolve_below(new_root, path, below)) return false;
    if (below == "/") below.clear();
    return true;
}

// Without them the image would boot without the medium, /sys, /dev and
// /proc; each missing one is made where the image's links put it. One that
// cannot be made is reported, and the boot goes on.
void make_missing_mount_points(const std::string& new_root) {
    for (const ob::MountPoint& point : ob::image_mount_points) {
        std::string below;
        if (in_image(new_root, point.path, below)) continue;
        const char* name = strrchr(point.path, '/');
        if (!in_image(new_root, std::string(point.path, name), below)) continue;
        const std::string path = new_root + below + name;
        if (ob::kernel().mkdir(path.c_str(), point.mode) != 0 && errno != EEXIST)
            ob::printf_to(2, "Orbiel: cannot make mount point %s: %s\n", path.c_str(),
                          strerror(errno));
    }
}

// A target that leads nowhere, to no directory or to the image's root is
// left out with a line: the image then runs without that tree.
void carry_trees_into(const std::string& new_root) {
    for (const CarryOver& carry : carry_overs) {
        std::string below;
        struct stat st;
        if (!in_image(new_root, carry.target_below_root, below) || below.empty() ||
            ob::kernel().stat((new_root + below).c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
            ob::printf_to(2, "Orbiel: image directory %s has no directory %s, %s left out\n",
                          new_root.c_str(), carry.target_below_root, carry.what);
            continue;
        }
        ob::kernel().mount(carry.source, (new_root + below).c_str(), nullptr, carry.flags, nullptr);
    }
}

// The image directory becomes a mount of its own and is entered through it,
// so that the image's "/" is the root of a mount: systemd remounts it to set
// up a service's private mounts, and its shutdown remounts it read-only,
// which leaves the medium clean.
bool bind_onto_itself(const char* new_root) {
    return ob::kernel().mount(new_root, new_root, nullptr, MS_BIND, nullptr) == 0 &&
           ob::kernel().chdir(new_root) == 0;
}

bool move_onto_root() {
    return ob::kernel().mount(".", "/", nullptr, MS_MOVE, nullptr) == 0 &&
           ob::kernel().chroot(".") == 0 && ob::kernel().chdir("/") == 0;
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

ob::ImageBootProblem boot_problem(const char* new_root) {
    struct stat root_dir;
    const bool root_known = ob::kernel().stat("/", &root_dir) == 0;
    return ob::image_boot_problem(ob::images_dir, new_root, root_known ? &root_dir : nullptr);
}

int switch_root(const char* new_root) {
    if (!can_enter(new_root)) return 1;  // also makes new_root the working directory
    make_missing_mount_points(new_root);
    const bool bound = bind_onto_itself(new_root);
    if (!bound) ob::print_error("moving rootdir");
    carry_trees_into(new_root);
    if (bound && !move_onto_root()) ob::print_error("moving rootdir");
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
