// The optional PIN lock in front of the image list.
//
// /media/ob/.oblocked holds the MD5 digest of the PIN, never the PIN itself.
// Leaving the stage without the PIN boots the image chosen last; three wrong
// PINs boot the flash image.
#pragma once

namespace orbiel {

enum class PinField { idle, accepted, rejected };

// Asks for the PIN when the lock is set. True when the menu may show the
// list; false when it must end at once (the input devices are closed then).
bool pin_stage();

// 1 when value, written in decimal without leading zeros and padded with NUL
// bytes to 4 bytes, has the MD5 digest whose 32 lowercase hexadecimal digits
// begin stored; else 0.
int gcheck(const char* stored, int value);

// The "PIN" label and the four digit places in the left band.
void draw_pin_field(PinField state);

}  // namespace orbiel
