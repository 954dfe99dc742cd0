// The remote control: which events count as a key, which only as activity,
// and how the menu sleeps until the next one.
#include "input.h"

#include <gtest/gtest.h>

#include "countdown.h"
#include "fake_kernel.h"

namespace {

using namespace orbiel;
using ob_test::FakeInputDevice;

class InputTest : public ::testing::Test {
protected:
    ob_test::FakeKernel kernel;
    int64_t t0 = kernel.now_ms;
    FakeInputDevice& device(int n) {
        return kernel.add_device("/dev/input/event" + std::to_string(n),
                                 std::make_unique<FakeInputDevice>());
    }
    void TearDown() override { close_input_devices(); }
};

TEST_F(InputTest, OpensTheEightEventDevicesThatExistAndAsksForNameAndIdentity) {
    FakeInputDevice& first = device(0);
    FakeInputDevice& fourth = device(3);
    EXPECT_EQ(open_input_devices(), 0);
    for (int i = 0; i < input_device_count; ++i)
        EXPECT_EQ(key[i] > 0, i == 0 || i == 3) << "slot " << i;
    EXPECT_EQ(first.ioctls, (std::vector<unsigned long>{EVIOCGNAME(128), EVIOCGID}));
    EXPECT_EQ(fourth.opens, 1);
    EXPECT_EQ(kernel.stderr_text, "");
    close_input_devices();
    EXPECT_EQ(first.closes, 1);
    EXPECT_EQ(fourth.closes, 1);
    key[0] = key[3] = 0;
}

class MuteDevice : public FakeInputDevice {
public:
    int ioctl(unsigned long, void*) override {
        errno = ENOTTY;
        return -1;
    }
};

TEST_F(InputTest, RefusedQueriesAreReportedButTheDeviceIsUsed) {
    auto& mute = kernel.add_device("/dev/input/event5", std::make_unique<MuteDevice>());
    mute.key(t0, KEY_OK);
    open_input_devices();
    EXPECT_EQ(kernel.stderr_text,
              "EVIOCGNAME failed: Inappropriate ioctl for device\n"
              "evdev ioctl: Inappropriate ioctl for device\n");
    EXPECT_EQ(read_key(), other_input);
    EXPECT_EQ(read_key(), KEY_OK);
}

TEST_F(InputTest, KeyActsOnReleaseAndEveryOtherEventIsActivity) {
    FakeInputDevice& remote = device(0);
    remote.key(t0, KEY_UP);
    remote.event(t0, EV_KEY, KEY_DOWN, 1);
    remote.event(t0, EV_KEY, KEY_DOWN, 2);  // auto-repeat
    remote.event(t0, EV_SYN, SYN_REPORT, 0);
    remote.event(t0, EV_KEY, KEY_DOWN, 0);
    open_input_devices();
    const int expected[] = {other_input, KEY_UP,   other_input, other_input,
                            other_input, KEY_DOWN, no_input};
    for (int want : expected)
        EXPECT_EQ(read_key(), want);
}

TEST_F(InputTest, OneEventPerDeviceAndPassTheHighestSlotDecides) {
    FakeInputDevice& low = device(0);
    FakeInputDevice& high = device(1);
    low.event(t0, EV_KEY, KEY_OK, 0);
    high.event(t0, EV_SYN, SYN_REPORT, 0);
    low.event(t0, EV_KEY, KEY_1, 1);
    high.event(t0, EV_KEY, KEY_EXIT, 0);
    open_input_devices();
    EXPECT_EQ(read_key(), other_input);
    EXPECT_EQ(read_key(), KEY_EXIT);
    EXPECT_EQ(read_key(), no_input);
}

TEST_F(InputTest, WaitingEndsAtTheNextEventOrTheNextWholeSecondLeft) {
    FakeInputDevice& remote = device(0);
    remote.key(t0 + 2300, KEY_OK);
    open_input_devices();
    menu_timeout = 10;
    kernel.advance_ms(250);
    renew_deadline();  // 10 s from t0 + 250
    EXPECT_EQ(remaining_seconds(), 10);
    wait_for_next_pass();
    EXPECT_EQ(kernel.now_ms - t0, 1250);
    EXPECT_EQ(remaining_seconds(), 9);
    kernel.advance_ms(400);
    wait_for_next_pass();
    EXPECT_EQ(kernel.now_ms - t0, 2250);
    wait_for_next_pass();
    EXPECT_EQ(kernel.now_ms - t0, 2300);  // the key
    EXPECT_EQ(read_key(), other_input);
    EXPECT_EQ(read_key(), KEY_OK);
    kernel.advance_ms(7900);
    EXPECT_FALSE(deadline_passed());
    EXPECT_EQ(remaining_seconds(), 1);
    wait_for_next_pass();
    EXPECT_TRUE(deadline_passed());
    EXPECT_EQ(remaining_seconds(), 0);
    EXPECT_EQ(kernel.now_ms - t0, 10250);
}

}  // namespace
