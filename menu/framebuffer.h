// The framebuffer device: screen information, mode changes and the mapping.
#pragma once

#include <stddef.h>
#include <sys/ioctl.h>

namespace orbiel {

// FBIO_SET_MANUAL_BLIT is the box driver's own request; the kernel headers
// do not carry it.
#define FBIO_SET_MANUAL_BLIT _IOW('F', 0x21, unsigned char)

// Reads the fixed / variable screen information into the globals; false
// after a failed request.
bool read_fixed_info();
bool read_variable_info();

// Requests width x height at 32 bits per pixel (red, green, blue, alpha in
// bytes 0..3) with FBIOPUT_VSCREENINFO; the driver's answer lands in
// var_screeninfo. False when the driver refuses.
bool put_mode(int width, int height);

// Maps the whole framebuffer memory (the fixed information's length) into
// fbmem, after releasing the previous mapping. False when it fails.
bool map_framebuffer();
void unmap_framebuffer();

// Clears `bytes` bytes from the start of the mapping (clipped to it).
void clear_framebuffer(size_t bytes);

}  // namespace orbiel
