// The boot medium: found by its volume label, mounted on /media/ob, and the
// swap file it carries.
#pragma once

namespace obinit {

// Scans the partitions for a label beginning with "ob", several times; true
// with state().boot_device set when found.
bool find_boot_medium();
// The label candidate of a device into state().volume_label: the ext name,
// or a FAT volume's own label; unchanged when the device does not open.
void read_volume_label(const char* device);
// Mounts state().boot_device on /media/ob; the mount's result.
int mount_boot_medium();
// After a failed mount_boot_medium: one line, naming what the running kernel
// lacks when the superblock shows it (a feature, the journal), else the
// error itself.
void report_unmountable_medium();

// Turns the medium's swap file on (swapon's result).
int swap_on_medium();
// The same, only when the medium has a swap file.
void swap_on_medium_if_present();

}  // namespace obinit
