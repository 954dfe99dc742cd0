// The ext features the boxes' kernels mount read-write, and what fixes a
// medium that has others.
#include "ext_volume.h"

#include <gtest/gtest.h>

namespace {

ob::ExtVolume volume(uint32_t compat, uint32_t incompat, uint32_t ro_compat) {
    ob::ExtVolume v;
    v.magic = true;
    snprintf(v.label, sizeof v.label, "obmedia");
    v.compat = compat;
    v.incompat = incompat;
    v.ro_compat = ro_compat;
    return v;
}

TEST(ExtVolume, FeaturesOutsideTheOldestBoxKernelAreNamedWithTheirFix) {
    const uint32_t journal = 0x4;
    const uint32_t ext4 = 0x2c2;    // filetype, extent, 64bit, flex_bg
    const uint32_t ext4_ro = 0x7b;  // sparse_super ... extra_isize
    const struct {
        ob::ExtVolume volume;
        const char* problem;
        const char* fix;
    } rows[] = {
        {volume(journal, ext4, ext4_ro), "", ""},
        // What mke2fs 1.47 makes by default.
        {volume(journal | 0x1000, ext4 | 0x2000, ext4_ro | 0x400),
         "uses metadata_csum_seed and metadata_csum, which Linux 3.4 lacks",
         "e2fsck -f /dev/sdX1 && tune2fs -O ^metadata_csum_seed,^metadata_csum /dev/sdX1 && "
         "e2fsck -f /dev/sdX1"},
        {volume(journal, ext4 | 0x8000, ext4_ro | 0x10000 | 0x100),
         "uses inline_data, quota and orphan_present, which Linux 3.4 lacks",
         "copy the files off and make it anew: mke2fs -t ext4 "
         "-O ^metadata_csum,^metadata_csum_seed,^orphan_file -L obmedia /dev/sdX1"},
        {volume(journal, ext4 | 0x800000, ext4_ro),
         "uses an unknown incompatible feature 0x800000, which Linux 3.4 lacks",
         "copy the files off and make it anew: mke2fs -t ext4 "
         "-O ^metadata_csum,^metadata_csum_seed,^orphan_file -L obmedia /dev/sdX1"},
        {volume(journal, ext4, ext4_ro | 0x80000000),
         "uses an unknown read-only-compatible feature 0x80000000, which Linux 3.4 lacks",
         "copy the files off and make it anew: mke2fs -t ext4 "
         "-O ^metadata_csum,^metadata_csum_seed,^orphan_file -L obmedia /dev/sdX1"},
        {volume(0, 0x2, 0x3), "has no journal", "tune2fs -j /dev/sdX1"},  // ext2
    };
    for (const auto& row : rows) {
        EXPECT_EQ(ob::ext_mount_problem(row.volume, ob::oldest_box_kernel), row.problem);
        EXPECT_EQ(ob::ext_fix_command(row.volume, ob::oldest_box_kernel, "/dev/sdX1"), row.fix);
    }
    // The same volume on a kernel that knows the checksums.
    EXPECT_EQ(ob::ext_mount_problem(rows[1].volume, ob::kernel_release_of("3.14.28-1.12-dm900")),
              "uses metadata_csum_seed, which Linux 3.14 lacks");
}

}  // namespace
