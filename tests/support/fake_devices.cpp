// The scripted devices of the fake kernel: input events and the framebuffer.
#include <errno.h>
#include <linux/fb.h>
#include <linux/ioctl.h>  // _IOC_TYPE and friends (glibc's sys/ioctl.h brings them, musl's does not)
#include <stdio.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/mman.h>

#include <algorithm>

#include "fake_kernel.h"
#include "png_writer.h"

namespace ob_test {

namespace {

int fail_with(int err) {
    errno = err;
    return -1;
}

}  // namespace

// ---- Input events ----

void FakeInputDevice::key(int64_t at_ms, uint16_t code) {
    event(at_ms, EV_KEY, code, 1);
    event(at_ms, EV_KEY, code, 0);
}

void FakeInputDevice::event(int64_t at_ms, uint16_t type, uint16_t code, int32_t value) {
    Pending p;
    memset(&p, 0, sizeof p);
    p.at_ms = at_ms;
    p.ev.input_event_sec = static_cast<decltype(p.ev.input_event_sec)>(at_ms / 1000);
    p.ev.input_event_usec = static_cast<decltype(p.ev.input_event_usec)>(at_ms % 1000 * 1000);
    p.ev.type = type;
    p.ev.code = code;
    p.ev.value = value;
    // After every event of the same time: ties keep the order of the script.
    auto later = std::upper_bound(queue_.begin(), queue_.end(), at_ms,
                                  [](int64_t at, const Pending& q) { return at < q.at_ms; });
    queue_.insert(later, p);
}

ssize_t FakeInputDevice::read(void* buf, size_t count) {
    if (count < sizeof(struct input_event)) return fail_with(EINVAL);
    if (!readable(kernel != nullptr ? kernel->now_ms : INT64_MAX)) return fail_with(EAGAIN);
    memcpy(buf, &queue_.front().ev, sizeof(struct input_event));
    queue_.erase(queue_.begin());
    return static_cast<ssize_t>(sizeof(struct input_event));
}

int FakeInputDevice::ioctl(unsigned long request, void* arg) {
    if (_IOC_TYPE(request) == 'E' && _IOC_NR(request) == 0x06 && _IOC_DIR(request) == _IOC_READ) {
        // EVIOCGNAME(len): the name with its terminator, cut to len bytes.
        size_t n = std::min<size_t>(name.size() + 1, _IOC_SIZE(request));
        memcpy(arg, name.c_str(), n);
        return static_cast<int>(n);
    }
    if (request == EVIOCGID) {
        memcpy(arg, &id, sizeof id);
        return 0;
    }
    return FakeDevice::ioctl(request, arg);
}

bool FakeInputDevice::readable(int64_t now_ms) {
    return !queue_.empty() && queue_.front().at_ms <= now_ms;
}

int64_t FakeInputDevice::next_ready_ms() { return queue_.empty() ? -1 : queue_.front().at_ms; }

// ---- Framebuffer ----

namespace {

// The driver-specific request that switches manual blitting on or off.
constexpr unsigned long kSetManualBlit = _IOW('F', 0x21, unsigned char);
constexpr unsigned kMaxSide = 4096;

void set_field(struct fb_bitfield& f, unsigned offset, unsigned length) {
    f.offset = offset;
    f.length = length;
    f.msb_right = 0;
}

}  // namespace

struct FakeFramebuffer::Impl {
    struct fb_var_screeninfo var;
    struct fb_fix_screeninfo fix;
    // Memory of every mode so far; the last one is current.
    std::vector<std::unique_ptr<std::vector<uint8_t>>> memories;

    const std::vector<uint8_t>& memory() const { return *memories.back(); }

    // Takes a mode as asked; false when the fake cannot show it.
    bool apply(const struct fb_var_screeninfo& asked, unsigned bpp) {
        if (asked.xres == 0 || asked.yres == 0 || asked.xres > kMaxSide || asked.yres > kMaxSide)
            return false;
        if (bpp != 8 && bpp != 16 && bpp != 32) return false;
        struct fb_var_screeninfo v = asked;
        v.xres_virtual = std::min(std::max(v.xres_virtual, v.xres), kMaxSide);
        v.yres_virtual = std::min(std::max(v.yres_virtual, v.yres), kMaxSide);
        v.bits_per_pixel = bpp;
        if (bpp == 32 && asked.bits_per_pixel != 32) {
            set_field(v.red, 0, 8);
            set_field(v.green, 8, 8);
            set_field(v.blue, 16, 8);
            set_field(v.transp, 24, 8);
        } else if (bpp == 16) {
            set_field(v.red, 11, 5);
            set_field(v.green, 5, 6);
            set_field(v.blue, 0, 5);
            set_field(v.transp, 0, 0);
        } else if (bpp == 8) {
            set_field(v.red, 0, 8);
            set_field(v.green, 0, 8);
            set_field(v.blue, 0, 8);
            set_field(v.transp, 0, 0);
        }
        var = v;
        fix.line_length = v.xres_virtual * bpp / 8;
        fix.smem_len = fix.line_length * v.yres_virtual;
        fix.visual = bpp == 8 ? FB_VISUAL_PSEUDOCOLOR : FB_VISUAL_TRUECOLOR;
        memories.push_back(std::make_unique<std::vector<uint8_t>>(fix.smem_len, 0));
        return true;
    }
};

FakeFramebuffer::FakeFramebuffer(unsigned xres, unsigned yres, unsigned bpp) : impl_(new Impl) {
    memset(&impl_->var, 0, sizeof impl_->var);
    memset(&impl_->fix, 0, sizeof impl_->fix);
    snprintf(impl_->fix.id, sizeof impl_->fix.id, "%s", "bcmfb");
    impl_->fix.type = FB_TYPE_PACKED_PIXELS;
    impl_->fix.smem_start = 0x10000000;
    struct fb_var_screeninfo start;
    memset(&start, 0, sizeof start);
    start.xres = xres;
    start.yres = yres;
    if (!impl_->apply(start, bpp)) {
        start.xres = 1280;
        start.yres = 720;
        impl_->apply(start, 32);
    }
}

FakeFramebuffer::~FakeFramebuffer() = default;

int FakeFramebuffer::ioctl(unsigned long request, void* arg) {
    switch (request) {
        case FBIOGET_VSCREENINFO:
            memcpy(arg, &impl_->var, sizeof impl_->var);
            return 0;
        case FBIOGET_FSCREENINFO:
            memcpy(arg, &impl_->fix, sizeof impl_->fix);
            return 0;
        case FBIOPUT_VSCREENINFO: {
            struct fb_var_screeninfo asked;
            memcpy(&asked, arg, sizeof asked);
            unsigned bpp = grant_bpp != 0 ? grant_bpp : asked.bits_per_pixel;
            if (fail_put || !impl_->apply(asked, bpp)) return fail_with(EINVAL);
            memcpy(arg, &impl_->var, sizeof impl_->var);
            ++mode_changes;
            return 0;
        }
        case FBIOPUTCMAP: {
            const struct fb_cmap* cmap = static_cast<const struct fb_cmap*>(arg);
            if (cmap->len > 256 || cmap->start > 256 - cmap->len) return fail_with(EINVAL);
            if (cmap->red == nullptr || cmap->green == nullptr || cmap->blue == nullptr)
                return fail_with(EFAULT);
            cmap_start = cmap->start;
            cmap_red.assign(cmap->red, cmap->red + cmap->len);
            cmap_green.assign(cmap->green, cmap->green + cmap->len);
            cmap_blue.assign(cmap->blue, cmap->blue + cmap->len);
            if (cmap->transp != nullptr)
                cmap_transp.assign(cmap->transp, cmap->transp + cmap->len);
            else
                cmap_transp.clear();
            return 0;
        }
        case FBIOPAN_DISPLAY: {
            const struct fb_var_screeninfo* pan = static_cast<const struct fb_var_screeninfo*>(arg);
            if (pan->yoffset + impl_->var.yres > impl_->var.yres_virtual) return fail_with(EINVAL);
            impl_->var.xoffset = pan->xoffset;
            impl_->var.yoffset = pan->yoffset;
            return 0;
        }
        case FBIOBLANK:
            return 0;
        case kSetManualBlit:
            manual_blit = *static_cast<const unsigned char*>(arg);
            return 0;
        default:
            return FakeDevice::ioctl(request, arg);
    }
}

void* FakeFramebuffer::mmap(size_t length, off_t offset) {
    if (length == 0 || length > memory_size() || offset != 0)
        return FakeDevice::mmap(length, offset);
    return impl_->memories.back()->data();
}

const uint8_t* FakeFramebuffer::memory() const { return impl_->memory().data(); }
size_t FakeFramebuffer::memory_size() const { return impl_->memory().size(); }
unsigned FakeFramebuffer::xres() const { return impl_->var.xres; }
unsigned FakeFramebuffer::yres() const { return impl_->var.yres; }
unsigned FakeFramebuffer::bpp() const { return impl_->var.bits_per_pixel; }
unsigned FakeFramebuffer::line_length() const { return impl_->fix.line_length; }

uint32_t FakeFramebuffer::pixel(unsigned x, unsigned y) const {
    if (x >= xres() || y >= yres()) return 0;
    const uint8_t* at = memory() + static_cast<size_t>(y) * line_length();
    switch (bpp()) {
        case 32: {
            uint32_t value;
            memcpy(&value, at + 4 * static_cast<size_t>(x), sizeof value);
            return value;
        }
        case 16: {
            uint16_t value;
            memcpy(&value, at + 2 * static_cast<size_t>(x), sizeof value);
            return value;
        }
        default:
            return at[x];
    }
}

bool FakeFramebuffer::save_png(const std::string& host_file) const {
    std::vector<uint8_t> rgb;
    rgb.reserve(static_cast<size_t>(xres()) * yres() * 3);
    for (unsigned y = 0; y < yres(); ++y) {
        for (unsigned x = 0; x < xres(); ++x) {
            uint32_t p = pixel(x, y);
            uint8_t r, g, b;
            if (bpp() == 32) {
                r = static_cast<uint8_t>(p);
                g = static_cast<uint8_t>(p >> 8);
                b = static_cast<uint8_t>(p >> 16);
            } else if (bpp() == 16) {
                r = static_cast<uint8_t>((p >> 11 & 0x1f) * 255 / 31);
                g = static_cast<uint8_t>((p >> 5 & 0x3f) * 255 / 63);
                b = static_cast<uint8_t>((p & 0x1f) * 255 / 31);
            } else if (p >= cmap_start && p - cmap_start < cmap_red.size()) {
                r = static_cast<uint8_t>(cmap_red[p - cmap_start] >> 8);
                g = static_cast<uint8_t>(cmap_green[p - cmap_start] >> 8);
                b = static_cast<uint8_t>(cmap_blue[p - cmap_start] >> 8);
            } else {
                r = g = b = static_cast<uint8_t>(p);  // no palette entry: grey by index
            }
            rgb.insert(rgb.end(), {r, g, b});
        }
    }
    return write_png_rgb(host_file, xres(), yres(), rgb);
}

}  // namespace ob_test
