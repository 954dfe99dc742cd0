// The kernel and temporary file systems that an image's init program expects
// to find mounted.
#pragma once

namespace obinit {

enum class KernelMountSet {
    // For an init that mounts the rest itself: the file systems it needs
    // before it runs, its own mount points and directories made first.
    prepared_image,
    // For a plain /sbin/init, which mounts nothing itself.
    plain_init,
};

// Mounts every row of the set in order; a failed mount is reported (where
// its row says so) and the next row follows.
void mount_kernel_file_systems(KernelMountSet set);

}  // namespace obinit
