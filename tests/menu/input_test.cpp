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

// Only the release of a key the menu knows restarts a time-out: what a mouse,
// a stuck key or a chattering receiver sends by itself does not.
TEST_F(InputTest, OnlyReleasesOfTheRemoteKeysRenewTheTimeOut) {
    const struct {
        int read_key_result;
        bool renews;
    } rows[] = {
        {no_input, false},  {other_input, false}, {KEY_ESC, true},   {KEY_1, true},
        {KEY_9, true},      {KEY_0, true},        {KEY_ENTER, true}, {KEY_UP, true},
        {KEY_DOWN, true},   {KEY_LEFT, true},     {KEY_RIGHT, true}, {KEY_EXIT, true},
        {KEY_OK, true},     {KEY_RED, true},      {KEY_GREEN, true}, {KEY_YELLOW, true},
        {KEY_BLUE, false},  {KEY_MENU, false},    {BTN_LEFT, false}, {KEY_RESERVED, false},
        {KEY_MINUS, false},
    };
    for (const auto& row : rows)
        EXPECT_EQ(renews_timeout(row.read_key_result), row.renews) << row.read_key_result;
}

}  // namespace
