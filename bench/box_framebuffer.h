// A framebuffer like the box's, for the benchmarks: one block of video
// memory, allocated once, that every mode of up to 1920 x 1080 at 32 bits
// uses. (The tests' fake keeps a fresh block per mode so that old mappings
// stay valid, which would put an allocation, and the zeroing of megabytes of
// memory, into every measured mode change; a box's driver only switches.)
#pragma once

#include <linux/fb.h>
#include <string.h>
#include <sys/mman.h>

#include <vector>

#include "fake_kernel.h"

namespace ob_bench {

class BoxFramebuffer : public ob_test::FakeDevice {
public:
    BoxFramebuffer() : memory_(1920 * 1080 * 4) {
        var_.xres = var_.xres_virtual = 1280;
        var_.yres = var_.yres_virtual = 720;
        var_.bits_per_pixel = 32;
    }
    int ioctl(unsigned long request, void* arg) override {
        switch (request) {
            case FBIOGET_VSCREENINFO:
                memcpy(arg, &var_, sizeof var_);
                return 0;
            case FBIOGET_FSCREENINFO: {
                struct fb_fix_screeninfo fix = {};
                fix.line_length = var_.xres_virtual * 4;
                fix.smem_len = static_cast<__u32>(memory_.size());
                memcpy(arg, &fix, sizeof fix);
                return 0;
            }
            case FBIOPUT_VSCREENINFO: {
                struct fb_var_screeninfo asked;
                memcpy(&asked, arg, sizeof asked);
                if (asked.xres_virtual * asked.yres_virtual * 4 > memory_.size()) return -1;
                var_ = asked;
                return 0;
            }
            default:
                return 0;
        }
    }
    void* mmap(size_t length, off_t) override {
        return length <= memory_.size() ? memory_.data() : MAP_FAILED;
    }

private:
    struct fb_var_screeninfo var_ = {};
    std::vector<uint8_t> memory_;
};

}  // namespace ob_bench
