#include "pin_digest.h"

#include <md5.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>

namespace ob {

void pin_digest(int value, char (&hex)[pin_digest_digits + 1]) {
    // The digest covers exactly 4 bytes: the decimal text, NUL-padded.
    char text[16] = {};
    snprintf(text, sizeof text, "%i", value);
    for (size_t i = strlen(text); i < sizeof text; ++i)
        text[i] = '\0';
    uint8_t digest[MD5_DIGEST_LENGTH];
    MD5_CTX context;
    MD5Init(&context);
    MD5Update(&context, reinterpret_cast<const uint8_t*>(text), 4);
    MD5Final(digest, &context);
    for (int i = 0; i < MD5_DIGEST_LENGTH; ++i)
        snprintf(hex + 2 * i, 3, "%02x", digest[i]);
}

}  // namespace ob
