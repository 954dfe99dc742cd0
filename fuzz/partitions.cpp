// /proc/partitions as the medium scan reads it: every line that names a
// candidate gets its node and a label read; the found device must fit.
#include <string.h>

#include "fuzz_box.h"
#include "medium_discovery.h"
#include "obinit.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ob_test::FakeKernel kernel;
    obinit::state() = obinit::RunState{};
    kernel.write_file("/proc/partitions", ob_fuzz::bytes(data, size));
    kernel.make_dir("/dev");
    // Every partition a line may name carries the medium's label, so that a
    // parsed name goes all the way through.
    std::string superblock(2048, '\0');
    superblock.replace(1024 + 56, 2, "\x53\xEF", 2);
    superblock.replace(1024 + 120, 4, "obfz");
    for (const char* name : {"/dev/sda1", "/dev/sdb1", "/dev/mmcblk0p1", "/dev/mmcblk1p2"})
        kernel.node_content[name] = superblock;
    ob_fuzz::run_to_end([] {
        if (obinit::find_boot_medium()) {
            const char* device = obinit::state().boot_device;
            if (strnlen(device, obinit::boot_device_size) >= obinit::boot_device_size ||
                strncmp(device, "/dev/", 5) != 0)
                __builtin_trap();
        }
    });
    return 0;
}
