/* Photographs the framebuffer onto a scratch disk.
 *
 * The guest has no network and the host cannot see its memory, so the screen
 * is copied to a virtio disk that the host reads after the run. Each shot
 * takes a fixed slot: a 64-byte header (magic, geometry, colour layout) and
 * then the visible lines, line_length bytes each.
 * Usage: fbshot FBDEV DISK SLOT
 */
#include <fcntl.h>
#include <linux/fb.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <unistd.h>

enum { slot_bytes = 16 << 20 };

int main(int argc, char** argv) {
    if (argc != 4) {
        fprintf(stderr, "usage: fbshot FBDEV DISK SLOT\n");
        return 2;
    }
    int fb = open(argv[1], O_RDONLY);
    if (fb < 0) {
        perror(argv[1]);
        return 1;
    }
    struct fb_var_screeninfo var;
    struct fb_fix_screeninfo fix;
    if (ioctl(fb, FBIOGET_VSCREENINFO, &var) != 0 || ioctl(fb, FBIOGET_FSCREENINFO, &fix) != 0) {
        perror("fbshot: screeninfo");
        return 1;
    }
    uint32_t bytes = fix.line_length * var.yres;
    if (bytes + 64 > slot_bytes || bytes > fix.smem_len) {
        fprintf(stderr, "fbshot: screen of %u bytes does not fit a slot\n", bytes);
        return 1;
    }
    uint8_t* mem = mmap(NULL, fix.smem_len, PROT_READ, MAP_SHARED, fb, 0);
    if (mem == MAP_FAILED) {
        perror("fbshot: mmap");
        return 1;
    }
    uint32_t header[16] = {0x544F4853 /* "SHOT" */, var.xres, var.yres, fix.line_length, var.bits_per_pixel,
                           var.red.offset, var.green.offset, var.blue.offset, var.transp.offset,
                           var.yoffset};
    int disk = open(argv[2], O_WRONLY);
    if (disk < 0) {
        perror(argv[2]);
        return 1;
    }
    off_t at = (off_t)atoi(argv[3]) * slot_bytes;
    const uint8_t* visible = mem + (size_t)var.yoffset * fix.line_length;
    if (pwrite(disk, header, sizeof header, at) != (ssize_t)sizeof header ||
        pwrite(disk, visible, bytes, at + 64) != (ssize_t)bytes) {
        perror("fbshot: write");
        return 1;
    }
    fsync(disk);
    printf("%ux%u %ubpp line %u\n", var.xres, var.yres, var.bits_per_pixel, fix.line_length);
    return 0;
}
