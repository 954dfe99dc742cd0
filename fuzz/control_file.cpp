// A control file on the medium read as both programs read them: bounded,
// cut at the separators, as a number.
#include <string.h>

#include "control_file.h"
#include "fuzz_box.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ob_test::FakeKernel kernel;
    kernel.write_file("/media/ob/.obtimeout", ob_fuzz::bytes(data, size));
    const struct {
        size_t size, limit;
    } reads[] = {{2, 1}, {8, 7}, {16, 15}, {64, 63}, {64, 200}, {1025, 1024}};
    for (const auto& r : reads) {
        std::vector<char> buf(r.size + 1, '\x7f');
        const long got = ob::read_control_file("/media/ob/.obtimeout", buf.data(), r.size, r.limit);
        if (got >= static_cast<long>(r.size) || buf[r.size] != '\x7f') __builtin_trap();
        if (strnlen(buf.data(), r.size) >= r.size) __builtin_trap();
        for (const char* separators :
             {ob::value_separators, ob::init_value_separators, ob::line_separator}) {
            std::vector<char> copy(buf);
            ob::cut_at_any(copy.data(), separators);
            ob::control_number(copy.data());
        }
    }
    return 0;
}
