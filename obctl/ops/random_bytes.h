// Secrets (session keys, salts) from the kernel's random source. The boxes'
// 3.x kernels have no getrandom() call, so /dev/urandom is read.
#pragma once

#include <stddef.h>

#include <string>

namespace obctl {

// False when the source cannot be read whole.
bool random_bytes(void* out, size_t size);

// size random bytes as lowercase hexadecimal; "" when none could be read.
std::string random_hex(size_t size);

}  // namespace obctl
