// Adjusting a freshly switched-to image root before its own init runs.
//
// Everything here happens inside the image: "/etc/fstab" is the image's mount
// table, "/media/ob" the boot medium as the root switch carried it in. Edits
// to the image's files persist on the medium and are made once: each has a
// test that recognises its own earlier work.
#include "image_root.h"

#include <fcntl.h>
#include <unistd.h>

#include <string>

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
// services start inside a root that obinit has switched into. All settings of
// one unit are edited together.
constexpr const char* unit_dir = "/lib/systemd/system/";
constexpr size_t max_unit_edits = 4;

struct UnitEdits {
    const char* unit;
    TextEdit edits[max_unit_edits];  // unused slots have a null text
};

constexpr UnitEdits unit_edits[] = {
    {"systemd-sysctl.service",
     {{"ConditionPathIsReadWrite=/proc/sys/", "#ConditionPathIsReadWrite=/proc/sys/"}}},
    {"systemd-udevd.service",
     {{"ConditionPathIsReadWrite=/sys", "#ConditionPathIsReadWrite=/sys"},
      {"MountFlags=slave", "#MountFlags=slave"}}},
    {"systemd-udev-settle.service",
     {{"ConditionPathIsReadWrite=/sys", "#ConditionPathIsReadWrite=/sys"}}},
    {"systemd-udev-trigger.service",
     {{"ConditionPathIsReadWrite=/sys", "#ConditionPathIsReadWrite=/sys"}}},
    {"connman.service",
     {{"ProtectHome=true", "#ProtectHome=true"}, {"ProtectSystem=full", "#ProtectSystem=full"}}},
    {"systemd-timesyncd.service",
     {{"PrivateTmp=yes", "#PrivateTmp=yes"},
      {"PrivateDevices=yes", "#PrivateDevices=yes"},
      {"ProtectSystem=full", "#ProtectSystem=full"},
      {"ProtectHome=yes", "#ProtectHome=yes"}}},
};

size_t edit_count(const UnitEdits& unit) {
    size_t count = 0;
    while (count < max_unit_edits && unit.edits[count].text != nullptr)
        ++count;
    return count;
}

std::string unit_path(const UnitEdits& unit) { return std::string(unit_dir) + unit.unit; }

// The table is commented out once: a table that already begins with '#' is
// ours from an earlier boot (or the image's own comment) and stays as it is.
// An empty table has no entry to comment out and stays empty.
void patch_mount_table_once() {
    const int fd = ob::open_regular_file(fstab);
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
    for (const UnitEdits& unit : unit_edits)
        edit_file(unit_path(unit).c_str(), unit.edits, edit_count(unit));
}

// A power cut during an edit at an earlier boot may have left its temporary
// file next to the table or a unit.
void remove_stale_temporaries() {
    remove_stale_temporary(fstab);
    for (const UnitEdits& unit : unit_edits)
        remove_stale_temporary(unit_path(unit).c_str());
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
    remove_stale_temporaries();
    patch_mount_table_once();
    remount_medium_for_mdev();
    swap_on_medium_if_present();
    if (state().patch_units) patch_systemd_units();
    mount_kernel_file_systems(KernelMountSet::prepared_image);
    emulate_flash();
}

}  // namespace obinit
