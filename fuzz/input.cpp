// Input events as the remote's devices deliver them: the input is a list of
// events (device slot, type, code, value), each read when it is due.
#include <string.h>

#include "fuzz_box.h"
#include "input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ob_test::FakeKernel kernel;
    ob_test::FakeInputDevice* devices[orbiel::input_device_count] = {};
    constexpr size_t event_size = 9;  // slot, type (2), code (2), value (4)
    for (size_t at = 0; at + event_size <= size; at += event_size) {
        const int slot = data[at] % orbiel::input_device_count;
        if (devices[slot] == nullptr) {
            const std::string path = "/dev/input/event" + std::to_string(slot);
            devices[slot] = &kernel.add_device(path, std::make_unique<ob_test::FakeInputDevice>());
        }
        uint16_t type, code;
        int32_t value;
        memcpy(&type, data + at + 1, 2);
        memcpy(&code, data + at + 3, 2);
        memcpy(&value, data + at + 5, 4);
        devices[slot]->event(static_cast<int64_t>(at), type, code, value);
    }
    ob_fuzz::run_to_end([&kernel] {
        orbiel::open_input_devices();
        for (int rounds = 0; rounds < 1000; ++rounds) {
            const int key = orbiel::read_key();
            if (key < orbiel::other_input || key > 0xffff) __builtin_trap();
            orbiel::wait_for_input(10);
            kernel.advance_ms(10);
        }
        orbiel::close_input_devices();
    });
    return 0;
}
