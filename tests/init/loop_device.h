// A loop block device for the flash-emulation tests: it takes LOOP_SET_FD and
// LOOP_SET_STATUS (or refuses them) and keeps what it was given. (The fake
// kernel records the requests in `ioctls` itself.)
#pragma once

#include <errno.h>
#include <linux/loop.h>
#include <stdint.h>
#include <string.h>

#include "fake_kernel.h"

namespace ob_test {

class FakeLoopDevice : public FakeDevice {
public:
    int refuse_set_fd = 0;  // errno for LOOP_SET_FD, 0 to accept
    int refuse_set_status = 0;

    int backing_fd = -1;  // descriptor passed with LOOP_SET_FD
    bool status_set = false;
    struct loop_info info;  // the record passed with LOOP_SET_STATUS

    FakeLoopDevice() { memset(&info, 0xA5, sizeof info); }

    int ioctl(unsigned long request, void* arg) override {
        if (request == LOOP_SET_FD) {
            if (refuse_set_fd != 0) return fail(refuse_set_fd);
            backing_fd = static_cast<int>(reinterpret_cast<intptr_t>(arg));
            return 0;
        }
        if (request == LOOP_SET_STATUS) {
            if (refuse_set_status != 0) return fail(refuse_set_status);
            memcpy(&info, arg, sizeof info);
            status_set = true;
            return 0;
        }
        return fail(ENOTTY);
    }

    // The record was cleared in full and carries nothing but the name.
    bool only_name_set(const char* name) const {
        struct loop_info expected;
        memset(&expected, 0, sizeof expected);
        strncpy(expected.lo_name, name, sizeof expected.lo_name - 1);
        return status_set && memcmp(&info, &expected, sizeof info) == 0;
    }

private:
    static int fail(int err) {
        errno = err;
        return -1;
    }
};

}  // namespace ob_test
