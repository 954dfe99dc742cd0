// A RAM-backed stand-in for one flash device of the box: a loop device over a
// file in /var/volatile. Both return 0 in every case.
#pragma once

namespace obinit {

// dm520: MTD partition `partition` becomes a block2mtd device over
// /dev/loop<loop>.
int emulate_mtd(int partition, int loop, int blocks);
// The other models: /dev/mmcblk<device> and its first partition become the
// loop device.
int emulate_mmcblk(int device, int loop, int blocks);

}  // namespace obinit
