// The digest the PIN lock keeps in .oblocked instead of the PIN: MD5 of the
// PIN as the remote enters it (a number, so without leading zeros), written
// in decimal and padded with NUL bytes to exactly 4 bytes, as 32 lowercase
// hexadecimal digits. The menu checks with it, obctl stores with it.
#pragma once

#include <stddef.h>

namespace ob {

constexpr size_t pin_digest_digits = 32;
constexpr int largest_pin = 9999;

// The 32 digits of value (0 to 9999) and a NUL into hex.
void pin_digest(int value, char (&hex)[pin_digest_digits + 1]);

}  // namespace ob
