/* Turns the emulated board's PC keyboard into the box's remote control.
 *
 * The stock kernel has no uinput and no remote-control driver, but its i8042
 * keyboard is an evdev device. Rewriting a few of its keycodes with
 * EVIOCSKEYCODE makes keys pressed from the host arrive with the remote's
 * codes (KEY_OK, KEY_EXIT, the colour keys), so the menu reads exactly what
 * it reads on a box. Usage: remap DEVICE FROM:TO...
 */
#include <fcntl.h>
#include <linux/input.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/ioctl.h>
#include <unistd.h>

/* The keyboard's scancode table is small; this bound covers the AT set-2
 * translation table including its extended (0xE0) half. */
enum { max_scancode = 512 };

static int remap_one(int fd, unsigned from, unsigned to) {
    int changed = 0;
    for (unsigned sc = 0; sc < max_scancode; ++sc) {
        unsigned map[2] = {sc, 0};
        if (ioctl(fd, EVIOCGKEYCODE, map) != 0 || map[1] != from) continue;
        map[1] = to;
        if (ioctl(fd, EVIOCSKEYCODE, map) != 0) {
            perror("EVIOCSKEYCODE");
            continue;
        }
        ++changed;
    }
    return changed;
}

int main(int argc, char** argv) {
    if (argc < 3) {
        fprintf(stderr, "usage: remap DEVICE FROM:TO...\n");
        return 2;
    }
    int fd = open(argv[1], O_RDWR);
    if (fd < 0) {
        perror(argv[1]);
        return 1;
    }
    int failed = 0;
    for (int i = 2; i < argc; ++i) {
        unsigned from, to;
        if (sscanf(argv[i], "%u:%u", &from, &to) != 2) {
            fprintf(stderr, "remap: bad pair %s\n", argv[i]);
            failed = 1;
            continue;
        }
        if (remap_one(fd, from, to) == 0) {
            fprintf(stderr, "remap: %s has no key %u\n", argv[1], from);
            failed = 1;
        }
    }
    close(fd);
    return failed;
}
