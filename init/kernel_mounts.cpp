#include "kernel_mounts.h"

#include <stddef.h>
#include <sys/mount.h>
#include <sys/stat.h>

#include "kernel.h"

namespace obinit {

namespace {

struct KernelMount {
    const char* make_first[2];  // mount points, made first (an existing one is fine)
    const char* source;
    const char* target;
    const char* type;
    unsigned long flags;
    const char* data;
    const char* error_prefix;              // nullptr: a failure is expected and not worth a line
    const char* make_after[5];             // plain directories inside the fresh mount
    const char* unless_present = nullptr;  // the row is left out where this path exists
};

// A current systemd (Debian 12's 252, say) reads a tmpfs on /sys/fs/cgroup
// whose systemd directory has no release_agent as a container's cgroup tree
// where the kernel has cgroup namespaces (Linux 4.6): it then ignores the
// kernel command line, skips the units that need real hardware and does not
// remount its root read-only at power-off. The boxes' 3.x kernels have
// none, so their images keep the tmpfs; on a newer kernel the image's init
// sets up /sys/fs/cgroup as after any boot.
constexpr const char* cgroup_namespaces = "/proc/self/ns/cgroup";

// Every row but /proc carries the historical MS_MGC_VAL, as the images' own
// scripts do.
const KernelMount prepared_image_mounts[] = {
    {{"/dev/pts"},
     "devpts",
     "/dev/pts",
     "devpts",
     MS_MGC_VAL | MS_NOSUID | MS_NOEXEC,
     "gid=5,mode=620",
     "mounting /dev/pts",
     {}},
    {{"/dev/shm"},
     "tmpfs",
     "/dev/shm",
     "tmpfs",
     MS_MGC_VAL | MS_NOSUID,
     nullptr,
     "mounting /dev/shm",
     {}},
    {{}, "proc", "/proc", "proc", 0, nullptr, "/proc", {}},
    {{"/run"}, "tmpfs", "/run", "tmpfs", MS_MGC_VAL | MS_NOSUID | MS_NODEV, "mode=755", "/run", {}},
    {{}, "tmpfs", "/tmp", "tmpfs", MS_MGC_VAL, nullptr, "/tmp", {}},
    // Holds the flash replacement's backing file as well.
    {{"/var", "/var/volatile"},
     "tmpfs",
     "/var/volatile",
     "tmpfs",
     MS_MGC_VAL,
     "mode=755",
     "/var/volatile",
     {"/var/volatile/tmp", "/var/volatile/log"}},
    // systemd mounts its controllers below; it only needs the directories.
    {{"/sys/fs", "/sys/fs/cgroup"},
     "tmpfs",
     "/sys/fs/cgroup",
     "tmpfs",
     MS_MGC_VAL | MS_NOSUID | MS_NODEV | MS_NOEXEC,
     "mode=755",
     "/sys/fs/cgroup",
     {"/sys/fs/cgroup/systemd", "/sys/fs/cgroup/cpuset", "/sys/fs/cgroup/cpu,cpuacct",
      "/sys/fs/cgroup/devices", "/sys/fs/cgroup/freezer"},
     cgroup_namespaces},
};

// /dev and /sys usually came along from the flash root already, and a plain
// image's tree has the mount points: nothing is made, and only the mounts an
// image cannot do without report their failure.
const KernelMount plain_init_mounts[] = {
    {{}, "devtmpfs", "/dev", "devtmpfs", MS_MGC_VAL, "mode=755", nullptr, {}},
    {{}, "proc", "/proc", "proc", 0, nullptr, "/proc", {}},
    {{}, "sysfs", "/sys", "sysfs", 0, nullptr, "/sys", {}},
    {{}, "tmpfs", "/run", "tmpfs", MS_MGC_VAL | MS_NOSUID | MS_NODEV, "mode=755", "/run", {}},
    {{},
     "devpts",
     "/dev/pts",
     "devpts",
     MS_MGC_VAL | MS_NOSUID | MS_NOEXEC,
     "gid=5,mode=620",
     nullptr,
     {}},
};

template <size_t N>
void make_dirs(const char* const (&paths)[N]) {
    for (const char* path : paths)
        if (path != nullptr) ob::kernel().mkdir(path, 0777);
}

template <size_t N>
void mount_rows(const KernelMount (&rows)[N]) {
    for (const KernelMount& row : rows) {
        struct stat st;
        if (row.unless_present != nullptr && ob::kernel().lstat(row.unless_present, &st) == 0)
            continue;
        make_dirs(row.make_first);
        if (ob::kernel().mount(row.source, row.target, row.type, row.flags, row.data) != 0 &&
            row.error_prefix != nullptr)
            ob::print_error(row.error_prefix);
        make_dirs(row.make_after);
    }
}

}  // namespace

void mount_kernel_file_systems(KernelMountSet set) {
    if (set == KernelMountSet::prepared_image)
        mount_rows(prepared_image_mounts);
    else
        mount_rows(plain_init_mounts);
}

}  // namespace obinit
