#include "framebuffer.h"

#include <fcntl.h>
#include <string.h>
#include <sys/mman.h>

#include "kernel.h"
#include "medium.h"
#include "menu_settings.h"
#include "menu_state.h"

namespace orbiel {

bool read_fixed_info() { return ob::kernel().ioctl(fb, FBIOGET_FSCREENINFO, &fix_screeninfo) >= 0; }

bool read_variable_info() {
    return ob::kernel().ioctl(fb, FBIOGET_VSCREENINFO, &var_screeninfo) >= 0;
}

bool put_mode(int width, int height) {
    struct fb_var_screeninfo wanted = var_screeninfo;
    wanted.xres = wanted.xres_virtual = static_cast<__u32>(width);
    wanted.yres = wanted.yres_virtual = static_cast<__u32>(height);
    wanted.bits_per_pixel = 32;
    wanted.red = {0, 8, 0};
    wanted.green = {8, 8, 0};
    wanted.blue = {16, 8, 0};
    wanted.transp = {24, 8, 0};
    const bool granted = ob::kernel().ioctl(fb, FBIOPUT_VSCREENINFO, &wanted) >= 0;
    // Drawing and the tear-down go by the mode the driver reports, whatever
    // it made of the request: a refused request leaves the old mode, not the
    // size and depth asked for.
    if (!read_variable_info()) var_screeninfo = granted ? wanted : var_screeninfo;
    return granted;
}

void unmap_framebuffer() {
    if (fbmem != nullptr) ob::kernel().munmap(fbmem, fbmem_len);
    fbmem = nullptr;
    fbmem_len = 0;
}

bool map_framebuffer() {
    unmap_framebuffer();
    const size_t length = fix_screeninfo.smem_len;
    void* mem = ob::kernel().mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_SHARED, fb, 0);
    if (mem == MAP_FAILED) return false;
    fbmem = static_cast<uint8_t*>(mem);
    fbmem_len = length;
    return true;
}

void clear_framebuffer(size_t bytes) {
    if (fbmem == nullptr) return;
    memset(fbmem, 0, bytes < fbmem_len ? bytes : fbmem_len);
}

namespace {

// The 8-bit palette: entries 1..14, 16-bit components; the two entries with
// transparency 0x80FF are half transparent.
struct palette_entry {
    uint16_t red, green, blue, transp;
};
constexpr palette_entry palette[] = {
    {0xFF00, 0xFF00, 0xFF00, 0},
    {0, 0, 0, 0},
    {0, 0, 0x8000, 0},
    {0, 0x8000, 0xFF00, 0},
    {0xFF00, 0xC000, 0, 0},
    {0, 0xD000, 0, 0},
    {0xE800, 0xE800, 0, 0},
    {0xFF00, 0, 0, 0},
    {0xB000, 0xB000, 0xB000, 0},
    {0, 0xFF00, 0, 0},
    {0x5000, 0x5000, 0x5000, 0},
    {0, 0, 0x8000, 0x80FF},
    {0x5000, 0x5000, 0x5000, 0x80FF},
    {0, 0x4000, 0xFF00, 0},
};
constexpr unsigned palette_start = 1;
constexpr size_t palette_size = sizeof palette / sizeof palette[0];

bool load_palette() {
    uint16_t red[palette_size], green[palette_size], blue[palette_size], transp[palette_size];
    for (size_t i = 0; i < palette_size; ++i) {
        red[i] = palette[i].red;
        green[i] = palette[i].green;
        blue[i] = palette[i].blue;
        transp[i] = palette[i].transp;
    }
    struct fb_cmap cmap = {palette_start, palette_size, red, green, blue, transp};
    return ob::kernel().ioctl(fb, FBIOPUTCMAP, &cmap) >= 0;
}

bool setup_failed(const char* message) {
    ob::printf_to(1, "%s\n", message);
    return false;
}

bool set_up_framebuffer_mode(ob::Resolution& mode) {
    fb = ob::kernel().open("/dev/fb0", O_RDWR);
    if (fb < 0) {
        ob::print_to(1, "\nFramebuffer failed\n");
        return false;
    }
    if (!read_fixed_info())
        return setup_failed("Framebuffer: <FBIOGET_FSCREENINFO fehlgeschlagen>");
    if (!read_variable_info())
        return setup_failed("Framebuffer: <FBIOGET_VSCREENINFO fehlgeschlagen>");
    mode = ob::read_resolution(ob::medium_mount);
    if (!put_mode(mode.width, mode.height))
        return setup_failed("Framebuffer: <FBIOPUT_VSCREENINFO fehlgeschlagen>");
    if (!read_fixed_info())
        return setup_failed("Framebuffer: <FBIOGET_FSCREENINFO fehlgeschlagen>");
    if (var_screeninfo.bits_per_pixel == 8 && !load_palette())
        return setup_failed("Framebuffer: <FBIOPUTCMAP failed>");
    if (!map_framebuffer()) return setup_failed("Framebuffer: <Speichermapping fehlgeschlagen>");
    unsigned char manual_blit = 0;  // off: every write to the mapping shows at once
    if (ob::kernel().ioctl(fb, FBIO_SET_MANUAL_BLIT, &manual_blit) < 0)
        ob::print_error("FBIO_SET_MANUAL_BLIT");
    return true;
}

}  // namespace

bool set_up_framebuffer(int& width, int& height) {
    ob::Resolution mode = ob::default_resolution;
    const bool done = set_up_framebuffer_mode(mode);
    width = mode.width;
    height = mode.height;
    return done;
}

void tear_down_framebuffer(int menu_result) {
    if (menu_result == 0 && !logo_arg) {
        clear_framebuffer(static_cast<size_t>(fix_screeninfo.line_length) * var_screeninfo.yres);
        unmap_framebuffer();
        if (ob::kernel().ioctl(fb, FBIOPUT_VSCREENINFO, &var_screeninfo) < 0)
            setup_failed("Framebuffer: <FBIOPUT_VSCREENINFO fehlgeschlagen>");
    }
    ob::kernel().close(fb);
    fb = -1;
}

void close_framebuffer() {
    if (fb >= 0) ob::kernel().close(fb);
    fb = -1;
}

}  // namespace orbiel
