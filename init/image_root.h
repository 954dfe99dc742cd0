// Adjusting a freshly switched-to image root before its own init runs.
#pragma once

namespace obinit {

// Mount table, swap, systemd units, kernel file systems, flash replacement.
void prepare_image_root();
// Comments out the image's mount table: 0 rewritten, 1 when /etc/fstab
// cannot be read or rewritten.
int comment_out_fstab();

}  // namespace obinit
