// /proc/swaps as maintenance reads it to turn every swap area off.
#include "fuzz_box.h"
#include "maintenance.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ob_test::FakeKernel kernel;
    kernel.write_file("/proc/swaps", ob_fuzz::bytes(data, size));
    ob_fuzz::run_to_end([] { obinit::swapoff_listed(); });
    return 0;
}
