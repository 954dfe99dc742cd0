// The framebuffer device: its set-up for the menu (mode, palette, mapping),
// the steps of it, and the tear-down.
#pragma once

#include <stddef.h>
#include <sys/ioctl.h>

namespace orbiel {

// FBIO_SET_MANUAL_BLIT is the box driver's own request; the kernel headers
// do not carry it.
#define FBIO_SET_MANUAL_BLIT _IOW('F', 0x21, unsigned char)

// Opens /dev/fb0 and sets the resolution configured on the medium at 32 bits
// per pixel (with the palette where the driver grants 8), maps the memory and
// turns the manual blit off. False after the failure it reports; width and
// height are the mode asked for.
bool set_up_framebuffer(int& width, int& height);
// After a normal menu run (menu_result 0, no preview) the screen is cleared
// to transparent and the mode (which a picture may have changed) applied once
// more; otherwise the last picture stays standing. Closes the device.
void tear_down_framebuffer(int menu_result);
// Closes the device after a failed set-up.
void close_framebuffer();

// Reads the fixed / variable screen information into the globals; false
// after a failed request.
bool read_fixed_info();
bool read_variable_info();

// Requests width x height at 32 bits per pixel (red, green, blue, alpha in
// bytes 0..3) with FBIOPUT_VSCREENINFO, then reads back the mode the driver
// reports into var_screeninfo, granted or refused. False when the driver
// refuses. The fixed information is the caller's to read again.
bool put_mode(int width, int height);

// Maps the whole framebuffer memory (the fixed information's length) into
// fbmem, after releasing the previous mapping. False when it fails.
bool map_framebuffer();
void unmap_framebuffer();

// Clears `bytes` bytes from the start of the mapping (clipped to it).
void clear_framebuffer(size_t bytes);

}  // namespace orbiel
