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
    remote.event(t0, EV_MSC, MSC_SCAN, 0x1234);
    remote.event(t0, EV_KEY, KEY_MENU, 0);  // a key the menu ignores
    EXPECT_EQ(open_input_devices(), 0);
    // Every key event renews a time-out, and nothing else does.
    const struct {
        int result;
        bool renews;
    } expected[] = {{other_input, true},  {KEY_UP, true},       {other_input, true},
                    {other_input, true},  {other_input, false}, {KEY_DOWN, true},
                    {other_input, false}, {KEY_MENU, true},     {no_input, false}};
    for (const auto& want : expected) {
        EXPECT_EQ(read_key(), want.result);
        EXPECT_EQ(renews_timeout(), want.renews) << want.result;
    }
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

TEST_F(InputTest, WhenTwoDevicesDeliverInOneCallTheHigherSlotDecides) {
    const struct {
        int low_slot, high_slot;
        bool key_on_high;  // the release on the higher slot, other input on the lower
        int want;
    } rows[] = {
        {0, 1, false, other_input},
        {0, 1, true, KEY_DOWN},
        {2, 7, false, other_input},
        {2, 7, true, KEY_DOWN},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(std::to_string(row.low_slot) + "/" + std::to_string(row.high_slot) +
                     (row.key_on_high ? " key high" : " key low"));
        FakeInputDevice& low = device(row.low_slot);
        FakeInputDevice& high = device(row.high_slot);
        FakeInputDevice& with_key = row.key_on_high ? high : low;
        FakeInputDevice& with_other = row.key_on_high ? low : high;
        with_key.event(t0, EV_KEY, KEY_DOWN, 0);
        with_other.event(t0, EV_SYN, SYN_REPORT, 0);
        open_input_devices();
        EXPECT_EQ(read_key(), row.want);
        EXPECT_EQ(read_key(), no_input);
        close_input_devices();  // devices of earlier rows stay, with nothing to deliver
    }
}

TEST_F(InputTest, ADeviceThatVanishesLeavesTheOthersWorking) {
    struct Unplugged : FakeInputDevice {
        bool gone = false;
        ssize_t read(void* buf, size_t count) override {
            if (!gone) return FakeInputDevice::read(buf, count);
            errno = ENODEV;
            return -1;
        }
        bool readable(int64_t now_ms) override {
            return !gone && FakeInputDevice::readable(now_ms);
        }
    };
    Unplugged& usb = device<Unplugged>(1);
    FakeInputDevice& remote = device(4);
    usb.event(t0, EV_KEY, KEY_UP, 0);
    open_input_devices();
    EXPECT_EQ(read_key(), KEY_UP);
    usb.gone = true;
    usb.event(t0, EV_KEY, KEY_LEFT, 0);  // never delivered
    EXPECT_EQ(read_key(), no_input);
    remote.event(t0, EV_KEY, KEY_OK, 0);
    EXPECT_EQ(read_key(), KEY_OK);
    EXPECT_EQ(read_key(), no_input);
}

}  // namespace
