// The "dev" files of the DVB devices in sysfs ("212:5"), from which the
// nodes of the tuners and decoders get their minors.
#include "device_nodes.h"
#include "fuzz_box.h"
#include "obinit.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ob_test::FakeKernel kernel;
    obinit::state() = obinit::RunState{};
    const std::string line = ob_fuzz::bytes(data, size);
    for (const char* dir : {"frontend0", "frontend3", "video0", "video5"})
        kernel.write_file(std::string("/sys/class/dvb/dvb0.") + dir + "/dev", line);
    ob_fuzz::run_to_end([&kernel] {
        obinit::make_device_nodes();
        for (const auto& node : kernel.nodes)
            if (node.first.compare(0, 5, "/dev/") != 0) __builtin_trap();
    });
    return 0;
}
