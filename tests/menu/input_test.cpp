// The remote control: which events count as a key, which only as activity,
// and which devices are used.
#include "input.h"

#include <gtest/gtest.h>

#include "fake_kernel.h"

namespace {

using namespace orbiel;
using ob_test::FakeInputDevice;

class InputTest : public ::testing::Test {
protected:
    ob_test::FakeKernel kernel;
    int64_t t0 = kernel.now_ms;
    template <typename D = FakeInputDevice>
    D& device(int n) {
        return kernel.add_device("/dev/input/event" + std::to_string(n), std::make_unique<D>());
    }
    void TearDown() override { close_input_devices(); }
};

TEST_F(InputTest, KeyActsOnReleaseAndEveryOtherEventIsActivity) {
    FakeInputDevice& remote = device(3);
    remote.key(t0, KEY_UP);
    remote.event(t0, EV_KEY, KEY_DOWN, 1);
    remote.event(t0, EV_KEY, KEY_DOWN, 2);  // auto-repeat
    remote.event(t0, EV_SYN, SYN_REPORT, 0);
    remote.event(t0, EV_KEY, KEY_DOWN, 0);
    EXPECT_EQ(open_input_devices(), 0);
    const int expected[] = {other_input, KEY_UP,   other_input, other_input,
                            other_input, KEY_DOWN, no_input};
    for (int want : expected)
        EXPECT_EQ(read_key(), want);
    close_input_devices();
    EXPECT_EQ(remote.closes, remote.opens);
}

TEST_F(InputTest, RefusedQueriesAreReportedButTheDeviceIsUsed) {
    struct MuteDevice : FakeInputDevice {
        int ioctl(unsigned long, void*) override {
            errno = ENOTTY;
            return -1;
        }
    };
    device<MuteDevice>(5).key(t0, KEY_OK);
    open_input_devices();
    EXPECT_EQ(kernel.stderr_text, ob_test::error_line("EVIOCGNAME failed", ENOTTY) +
                                      ob_test::error_line("evdev ioctl", ENOTTY));
    EXPECT_EQ(read_key(), other_input);
    EXPECT_EQ(read_key(), KEY_OK);
}

}  // namespace
