// Making an image directory on the medium the root of process 1 and handing
// over to the image's own init program.
#include "root_switch.h"

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <string.h>
#include <sys/mount.h>
#include <sys/stat.h>

#include <iterator>
#include <string>
#include <vector>

#include "box_setup.h"
#include "control_file.h"
#include "device_nodes.h"
#include "init_program.h"
#include "kernel.h"
#include "kernel_mounts.h"
#include "medium.h"
#include "obinit.h"
#include "shell_commands.h"

namespace obinit {

namespace {

// Trees carried from the flash root into the image. The medium is bound, not
// moved, so it stays mounted outside the new root as well; /sys and /dev
// belong to the image from now on. Targets the image lacks are skipped (the
// mount fails): such an image simply goes without that tree.
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

// Symbolic links followed in one path before it counts as unresolvable (the
// kernel's own limit).
constexpr int max_links = 40;

// The path `path` names as a process whose root is the directory `root` ("" for
// the running root) sees it, every link followed, into `resolved` (without
// the root prefix; "/" for the root itself). Absolute link targets start at
// that root and ".." stops there, as they would after the root switch. False
// when a name on the way is missing, a link cannot be read or the links do
// not end.
bool resolve_below(const std::string& root, const std::string& path, std::string& resolved) {
    std::vector<std::string> rest;  // names still to walk, the next one last
    auto push_names = [&rest](const std::string& text) {
        std::vector<std::string> names;
        size_t start = 0;
        while (start <= text.size()) {
            size_t slash = text.find('/', start);
            if (slash == std::string::npos) slash = text.size();
            if (slash > start) names.push_back(text.substr(start, slash - start));
            start = slash + 1;
        }
        rest.insert(rest.end(), names.rbegin(), names.rend());
    };
    push_names(path);
    std::string done;  // "" is the root
    int links = 0;
    while (!rest.empty()) {
        const std::string name = rest.back();
        rest.pop_back();
        if (name == ".") continue;
        if (name == "..") {
            done.erase(done.empty() ? 0 : done.rfind('/'));
            continue;
        }
        const std::string next = done + "/" + name;
        struct stat st;
        if (ob::kernel().lstat((root + next).c_str(), &st) != 0) return false;
        if (!S_ISLNK(st.st_mode)) {
            done = next;
            continue;
        }
        char target[PATH_MAX];
        const ssize_t n = ob::kernel().readlink((root + next).c_str(), target, sizeof target);
        if (n <= 0 || static_cast<size_t>(n) >= sizeof target || ++links > max_links) return false;
        if (target[0] == '/') done.clear();
        push_names(std::string(target, static_cast<size_t>(n)));
    }
    resolved = done.empty() ? "/" : done;
    return true;
}

// Whether start_image_init would find a program to execute in the image.
bool holds_init_program(const std::string& image_root) {
    std::vector<const char*> programs(std::begin(self_mounting_inits),
                                      std::end(self_mounting_inits));
    programs.push_back(plain_init);
    for (const char* program : programs) {
        std::string resolved;
        struct stat st;
        if (resolve_below(image_root, program, resolved) &&
            ob::kernel().stat((image_root + resolved).c_str(), &st) == 0 && S_ISREG(st.st_mode))
            return true;
    }
    return false;
}

// An image root must lie in the medium's image directory: an entry that is a
// link elsewhere (into the flash, say) would have the preparation edit files
// and make mount points there.
bool inside_images_dir(const char* new_root) {
    const std::string prefix = std::string(ob::images_dir) + "/";
    std::string resolved;
    return resolve_below("", new_root, resolved) && resolved.size() > prefix.size() &&
           resolved.compare(0, prefix.size(), prefix) == 0;
}

// Everything after switch_root changes the image's files, so the new root
// must be a directory that can be entered and must not be the running root
// itself (a link pointing there would make the image preparation edit the
// flash), must lie in the medium's image directory and must hold an init
// program. Reports and returns false otherwise; nothing is mounted yet.
bool can_enter(const char* new_root) {
    struct stat root_dir;
    struct stat image_dir;
    const char* problem = nullptr;
    if (ob::kernel().stat(new_root, &image_dir) != 0) {
        problem = strerror(errno);
    } else if (!S_ISDIR(image_dir.st_mode)) {
        problem = strerror(ENOTDIR);
    } else if (ob::kernel().stat("/", &root_dir) == 0 && root_dir.st_dev == image_dir.st_dev &&
               root_dir.st_ino == image_dir.st_ino) {
        problem = "it is the running root";
    } else if (!inside_images_dir(new_root)) {
        ob::printf_to(2, "Orbiel: image directory %s lies outside %s\n", new_root, ob::images_dir);
        return false;
    } else if (!holds_init_program(new_root)) {
        ob::printf_to(2, "Orbiel: image directory %s holds no init program\n", new_root);
        return false;
    } else if (ob::kernel().chdir(new_root) != 0) {
        problem = strerror(errno);
    }
    if (problem == nullptr) return true;
    ob::printf_to(2, "Orbiel: cannot enter image directory %s: %s\n", new_root, problem);
    return false;
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
    for (const char* program : self_mounting_inits)
        if (ob::path_exists(program)) execute(program);

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
