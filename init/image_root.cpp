// Adjusting a freshly switched-to image root before its own init runs.
//
// Everything here happens inside the image: "/etc/fstab" is the image's mount
// table, "/media/ob" the boot medium as the root switch carried it in. Edits
// to the image's files persist on the medium and are made once: each has a
// test that recognises its own earlier work.
#include "image_root.h"

#include <fcntl.h>
#include <unistd.h>

#include "box_model.h"
#include "control_file.h"
#include "file_edit.h"
#include "flash_emulation.h"
#include "init_program.h"
#include "kernel.h"
#include "kernel_mounts.h"
#include "medium.h"
#include "medium_discovery.h"
#include "obinit.h"

namespace obinit {

namespace {

constexpr const char* fstab = "/etc/fstab";
constexpr const char* start_link = "/etc/rcS.d/S99obinit";

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
    if (!ob::path_exists(mdev_program)) return;
    if (!ob::path_exists(start_link)) ob::kernel().symlink(obinit_program, start_link);
    ob::kernel().mount("tmpfs", "/media", "tmpfs", 0, "size=64k");
    ob::kernel().mkdir(ob::medium_mount, 0777);
    mount_boot_medium();
}

void patch_systemd_units() {
    for (const UnitEdit& edit : unit_edits)
        replace_in_file(edit.text, edit.replacement, edit.unit);
}

void emulate_flash() {
    if (state().box_model == ob::model_dm520)
        emulate_mtd(2, 7, 5120);
    else
        emulate_mmcblk(0, 8, 16384);
}

}  // namespace

int comment_out_fstab() { return prepend_to_file("#", fstab) ? 0 : 1; }

void prepare_image_root() {
    if (kernel_image_present()) state().patch_units = true;
    patch_mount_table_once();
    remount_medium_for_mdev();
    swap_on_medium_if_present();
    if (state().patch_units) patch_systemd_units();
    mount_kernel_file_systems(KernelMountSet::prepared_image);
    emulate_flash();
}

}  // namespace obinit
