#include "framebuffer.h"

#include <string.h>
#include <sys/mman.h>

#include "kernel.h"
#include "menu_state.h"

namespace orbiel {

bool read_fixed_info() { return ob::kernel().ioctl(fb, FBIOGET_FSCREENINFO, &fix_screeninfo) >= 0; }

bool read_variable_info() {
    return ob::kernel().ioctl(fb, FBIOGET_VSCREENINFO, &var_screeninfo) >= 0;
}

bool put_mode(int width, int height) {
    var_screeninfo.xres = var_screeninfo.xres_virtual = static_cast<__u32>(width);
    var_screeninfo.yres = var_screeninfo.yres_virtual = static_cast<__u32>(height);
    var_screeninfo.bits_per_pixel = 32;
    var_screeninfo.red = {0, 8, 0};
    var_screeninfo.green = {8, 8, 0};
    var_screeninfo.blue = {16, 8, 0};
    var_screeninfo.transp = {24, 8, 0};
    return ob::kernel().ioctl(fb, FBIOPUT_VSCREENINFO, &var_screeninfo) >= 0;
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

}  // namespace orbiel
