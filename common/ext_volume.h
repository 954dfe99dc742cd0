// The ext superblock of a partition: its volume name, and whether the boxes'
// kernels can mount it the way obinit does (read-write, with a journal).
#pragma once

#include <stddef.h>
#include <stdint.h>
#include <sys/types.h>

#include <string>

namespace ob {

// Where the superblock lies, relative to the start of the device.
constexpr off_t ext_superblock_offset = 1024;
constexpr size_t ext_superblock_size = 1024;
constexpr size_t ext_label_size = 16;

struct ExtVolume {
    bool magic = false;                   // the ext magic number at its place
    char label[ext_label_size + 1] = {};  // the volume name, not always terminated on disk
    uint32_t compat = 0;
    uint32_t incompat = 0;
    uint32_t ro_compat = 0;
};

// Decodes the ext_superblock_size bytes found at ext_superblock_offset
// (whatever they are: the label bytes are taken even without the magic).
ExtVolume decode_ext_superblock(const unsigned char* block);

// Reads and decodes the superblock of the device (a partition) at path.
// False, with errno, when it does not open or is too short.
bool read_ext_volume(const char* device, ExtVolume& volume);

// A kernel release as its first two numbers ("3.4-4.0-dm520" is 3.4).
struct KernelRelease {
    int major;
    int minor;
};
// The oldest kernel of the boxes: a medium it mounts, every box mounts.
constexpr KernelRelease oldest_box_kernel = {3, 4};
// The release of a uname release text; {0, 0} when it starts with no number.
KernelRelease kernel_release_of(const char* release);

// Why a kernel of `kernel` would not mount the volume read-write with a
// journal, as the rest of a sentence about the device: "has no journal" or
// "uses metadata_csum and orphan_file, which Linux 3.4 lacks". Empty when it
// would (or when it is no ext volume at all).
std::string ext_mount_problem(const ExtVolume& volume, KernelRelease kernel);

// What mke2fs needs besides -t ext4 to make a medium every box mounts: the
// features newer mke2fs versions turn on by default that the boxes lack.
constexpr const char* box_mke2fs_options = "-O ^metadata_csum,^metadata_csum_seed,^orphan_file";

// The command lines that make such a volume mountable by the kernel, for
// `device` (unmounted): a feature removal with tune2fs and the check after it,
// or for a volume without a journal tune2fs -j. Empty when nothing is to do.
std::string ext_fix_command(const ExtVolume& volume, KernelRelease kernel, const char* device);

}  // namespace ob
