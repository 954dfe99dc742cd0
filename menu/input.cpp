#include "input.h"

#include <fcntl.h>
#include <poll.h>
#include <stdio.h>
#include <sys/ioctl.h>

#include "kernel.h"

namespace orbiel {

int key[input_device_count];
struct input_event RCevent;

namespace {

// A device that reports an error or hang-up (an unplugged USB remote) would
// wake every poll at once; it is left out of the waiting from then on, while
// read_key still tries it like any other slot.
bool quiet[input_device_count];

void describe_device(int fd) {
    char name[128];
    if (ob::kernel().ioctl(fd, EVIOCGNAME(sizeof name), name) < 0)
        ob::print_error("EVIOCGNAME failed");
    int flags = ob::kernel().fcntl(fd, F_GETFL);
    ob::kernel().fcntl(fd, F_SETFL, flags | O_NONBLOCK);
    struct input_id id;
    if (ob::kernel().ioctl(fd, EVIOCGID, &id) < 0) ob::print_error("evdev ioctl");
}

// Whether the last read_key met an EV_KEY event.
bool key_event_read = false;

}  // namespace

bool renews_timeout() { return key_event_read; }

int open_input_devices() {
    for (int i = 0; i < input_device_count; ++i) {
        char path[32];
        snprintf(path, sizeof path, "/dev/input/event%i", i);
        quiet[i] = false;
        int fd = ob::kernel().open(path, O_RDWR | O_NONBLOCK);
        if (fd < 0) {
            key[i] = 0;
            continue;
        }
        key[i] = fd;
        describe_device(fd);
    }
    return 0;
}

int read_key() {
    int result = no_input;
    key_event_read = false;
    for (int i = 0; i < input_device_count; ++i) {
        if (key[i] <= 0) continue;
        ssize_t n = ob::kernel().read(key[i], &RCevent, sizeof RCevent);
        if (n != static_cast<ssize_t>(sizeof RCevent)) continue;
        result = other_input;
        if (RCevent.type == EV_KEY) key_event_read = true;
        if (RCevent.type == EV_KEY && RCevent.value == 0) result = RCevent.code;
    }
    return result;
}

void close_input_devices() {
    for (int i = 0; i < input_device_count; ++i) {
        if (key[i] != 0) ob::kernel().close(key[i]);
    }
}

void wait_for_input(int timeout_ms) {
    struct pollfd fds[input_device_count];
    int slot_of[input_device_count];
    nfds_t count = 0;
    for (int i = 0; i < input_device_count; ++i) {
        if (key[i] <= 0 || quiet[i]) continue;
        fds[count] = {key[i], POLLIN, 0};
        slot_of[count++] = i;
    }
    if (ob::kernel().poll(fds, count, timeout_ms) <= 0) return;
    for (nfds_t n = 0; n < count; ++n) {
        if (fds[n].revents & (POLLERR | POLLHUP | POLLNVAL)) quiet[slot_of[n]] = true;
    }
}

}  // namespace orbiel
