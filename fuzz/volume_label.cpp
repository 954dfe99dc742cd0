// The first blocks of a partition: the ext superblock's volume name or a FAT
// boot sector's label.
#include <string.h>

#include "fuzz_box.h"
#include "medium_discovery.h"
#include "obinit.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ob_test::FakeKernel kernel;
    obinit::state() = obinit::RunState{};
    kernel.write_file("/dev/sda1", ob_fuzz::bytes(data, size));
    ob_fuzz::run_to_end([] {
        obinit::read_volume_label("/dev/sda1");
        if (strnlen(obinit::state().volume_label, obinit::volume_label_size) >=
            obinit::volume_label_size)
            __builtin_trap();
    });
    return 0;
}
