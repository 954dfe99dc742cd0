// The remote control, read through the kernel's input event devices.
//
// The menu does not know which device is the remote: it opens the first
// eight event devices and reads them all. Reading never blocks; a key acts
// when it is released, so a held key gives one action and no repetition.
#pragma once

#include <linux/input.h>

namespace orbiel {

constexpr int input_device_count = 8;

// Descriptor of /dev/input/event0..7, or 0 when that device did not open.
extern int key[input_device_count];
// The last event read, in the kernel's own layout for this platform.
extern struct input_event RCevent;

// What read_key returns besides a key code.
constexpr int no_input = -1;     // no device delivered an event
constexpr int other_input = -2;  // events arrived, the deciding one was not a key release

// Whether the last read_key read a key event: a press, an auto-repeat or a
// release of any key, known to the menu or not. Each restarts a stage's
// time-out, so that a key pressed just before the time-out is not lost to it
// before its release arrives; synchronisation, miscellaneous and movement
// events (a mouse, a chattering receiver) are no key and do not. The
// stages' latest end still ends a menu whose remote sends keys by itself.
bool renews_timeout();

int open_input_devices();
// One event from each open device; the highest slot with an event decides.
int read_key();
void close_input_devices();

// Blocks until one of the open devices has an event waiting or timeout_ms
// passed, so that the menu's loops do not spin while nobody presses a key.
void wait_for_input(int timeout_ms);

}  // namespace orbiel
