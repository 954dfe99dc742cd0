// Whether an ext file system is one the boxes' oldest kernel mounts the way
// obinit does: `ext_check IMAGE [OFFSET]` reads the superblock of the file
// system that starts OFFSET bytes into IMAGE (a partition or a disk image)
// and exits 1 with what the kernel lacks and the fix, 0 when it would mount.
// `ext_check --mke2fs-options` prints the options that make such a medium.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "ext_volume.h"

int main(int argc, char** argv) {
    if (argc == 2 && strcmp(argv[1], "--mke2fs-options") == 0) {
        puts(ob::box_mke2fs_options);
        return 0;
    }
    if (argc < 2 || argc > 3 || argv[1][0] == '-') {
        fprintf(stderr, "usage: ext_check IMAGE [OFFSET] | ext_check --mke2fs-options\n");
        return 2;
    }
    const long long offset = argc == 3 ? strtoll(argv[2], nullptr, 0) : 0;
    FILE* image = fopen(argv[1], "rb");
    unsigned char block[ob::ext_superblock_size];
    if (image == nullptr || fseeko(image, offset + ob::ext_superblock_offset, SEEK_SET) != 0 ||
        fread(block, 1, sizeof block, image) != sizeof block) {
        fprintf(stderr, "ext_check: %s: no superblock to read\n", argv[1]);
        return 1;
    }
    fclose(image);
    const ob::ExtVolume volume = ob::decode_ext_superblock(block);
    if (!volume.magic) {
        fprintf(stderr, "ext_check: %s: no ext file system\n", argv[1]);
        return 1;
    }
    const std::string problem = ob::ext_mount_problem(volume, ob::oldest_box_kernel);
    if (problem.empty()) return 0;
    fprintf(stderr, "ext_check: %s %s (%s)\n", argv[1], problem.c_str(),
            ob::ext_fix_command(volume, ob::oldest_box_kernel, argv[1]).c_str());
    return 1;
}
