// Adjusting a freshly switched-to image root before its own init runs.
//
// Everything here happens inside the image: "/etc/fstab" is the image's mount
// table, "/media/ob" the boot medium as the root switch carried it in. Edits
// to the image's files persist on the medium and are made once: each has a
// test that recognises its own earlier work.
#include <fcntl.h>
#include <sys/mount.h>
#include <sys/swap.h>

#include <memory>

#include "box_model.h"
#include "control_file.h"
#include "file_edit.h"
#include "kernel.h"
#include "medium.h"
#include "obinit.h"

namespace obinit {

namespace {

constexpr const char* fstab = "/etc/fstab";
constexpr const char* mdev = "/sbin/mdev";
constexpr const char* start_link = "/etc/rcS.d/S99obinit";
constexpr const char* start_link_target = "/sbin/obinit";

// The settings of the image's systemd units that assume a root of their own
// (read-write /sys and /proc/sys, private mounts): commented out so that the
// services start inside a root that obinit has switched into.
struct UnitEdit {
    const char* unit;
    const char* text;
    const char* replacement;
};

constexpr UnitEdit unit_edits[] = {
    {"/lib/systemd/system/systemd-sysctl.service", "ConditionPathIsReadWrite=/proc/sys/",
     "#ConditionPathIsReadWrite=/proc/sys/"},
    {"/lib/systemd/system/systemd-udevd.service", "ConditionPathIsReadWrite=/sys",
     "#ConditionPathIsReadWrite=/sys"},
    {"/lib/systemd/system/systemd-udevd.service", "MountFlags=slave", "#MountFlags=slave"},
    {"/lib/systemd/system/systemd-udev-settle.service", "ConditionPathIsReadWrite=/sys",
     "#ConditionPathIsReadWrite=/sys"},
    {"/lib/systemd/system/systemd-udev-trigger.service", "ConditionPathIsReadWrite=/sys",
     "#ConditionPathIsReadWrite=/sys"},
    {"/lib/systemd/system/connman.service", "ProtectHome=true", "#ProtectHome=true"},
    {"/lib/systemd/system/connman.service", "ProtectSystem=full", "#ProtectSystem=full"},
    {"/lib/systemd/system/systemd-timesyncd.service", "PrivateTmp=yes", "#PrivateTmp=yes"},
    {"/lib/systemd/system/systemd-timesyncd.service", "PrivateDevices=yes", "#PrivateDevices=yes"},
    {"/lib/systemd/system/systemd-timesyncd.service", "ProtectSystem=full", "#ProtectSystem=full"},
    {"/lib/systemd/system/systemd-timesyncd.service", "ProtectHome=yes", "#ProtectHome=yes"},
};

// The kernel and temporary file systems an image's init expects to find.
// Mount points are created first (an existing one is fine); a failed mount is
// reported with its error text and the next row follows. Every row but /proc
// carries the historical MS_MGC_VAL, as the images' own scripts do.
struct KernelMount {
    const char* make_first[2];
    const char* source;
    const char* target;
    const char* type;
    unsigned long flags;
    const char* data;
    const char* error_text;
    const char* make_after[5];  // plain directories inside the fresh mount
};

const KernelMount kernel_mounts[] = {
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
      "/sys/fs/cgroup/devices", "/sys/fs/cgroup/freezer"}},
};

void make_dirs(const char* const* paths, size_t count) {
    for (size_t i = 0; i < count && paths[i] != nullptr; ++i)
        ob::kernel().mkdir(paths[i], 0777);
}

void mount_kernel_file_systems() {
    for (const KernelMount& row : kernel_mounts) {
        make_dirs(row.make_first, sizeof row.make_first / sizeof row.make_first[0]);
        if (ob::kernel().mount(row.source, row.target, row.type, row.flags, row.data) != 0)
            ob::print_error(row.error_text);
        make_dirs(row.make_after, sizeof row.make_after / sizeof row.make_after[0]);
    }
}

// The table is commented out once: a table that already begins with '#' is
// ours from an earlier boot (or the image's own comment) and stays as it is.
// An empty table has no entry to comment out and stays empty.
void patch_mount_table_once() {
    int fd = ob::kernel().open(fstab, O_RDONLY);
    if (fd < 0) return;
    char head[8];
    ssize_t n = ob::kernel().read(fd, head, sizeof head);
    ob::kernel().close(fd);
    if (n > 0 && head[0] != '#') comment_out_fstab();
}

// mdev images run their start-up scripts without the medium that the root
// switch bound in; the start link has them run "obinit start", which mounts it
// again, and the medium is mounted afresh on a small tmpfs over /media now.
void remount_medium_for_mdev() {
    if (!ob::path_exists(mdev)) return;
    if (!ob::path_exists(start_link)) ob::kernel().symlink(start_link_target, start_link);
    ob::kernel().mount("tmpfs", "/media", "tmpfs", 0, "size=64k");
    ob::kernel().mkdir(ob::medium_mount, 0777);
    mount_boot_medium();
}

void swap_on_medium() {
    if (ob::path_exists(ob::swap_file)) ob::kernel().swapon(ob::swap_file, SWAP_FLAG_PREFER);
}

void emulate_flash() {
    if (state().box_model == ob::model_dm520)
        emulate_mtd(2, 7, 5120);
    else
        emulate_mmcblk(0, 8, 16384);
}

}  // namespace

int comment_out_fstab() {
    EditTarget target;
    if (!read_edit_target(fstab, target)) return 1;
    const FilePart parts[] = {{"#", 1}, {target.contents.get(), target.size}};
    return rewrite_file(target.path.c_str(), target.st, parts, 2) ? 0 : 1;
}

int patch_systemd_units() {
    for (const UnitEdit& edit : unit_edits)
        replace_in_file(edit.text, edit.replacement, edit.unit);
    return 0;
}

void prepare_image_root() {
    if (kernel_image_present()) state().patch_units = true;
    patch_mount_table_once();
    remount_medium_for_mdev();
    swap_on_medium();
    if (state().patch_units) patch_systemd_units();
    mount_kernel_file_systems();
    emulate_flash();
}

}  // namespace obinit
