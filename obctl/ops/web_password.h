// The password of the web page (obctl serve), kept on the medium as a
// salted slow hash: the C library's crypt() with SHA-512 and many rounds,
// the form /etc/shadow uses. Never the password itself.
#pragma once

#include <string>

#include "medium_dir.h"
#include "outcome.h"

namespace obctl {

// Where the hash lies on the medium (read by obctl only).
constexpr const char* web_password_file = "/media/ob/.obweb";

// Stores the hash of password (one line of 8 to 128 characters) in place of
// any before, atomically, readable by its owner only.
Outcome set_web_password(const Medium& medium, const std::string& password);
// No password: obctl serve refuses to start.
Outcome remove_web_password(const Medium& medium);

// The stored hash; "" when none is set (or the file holds none).
std::string web_password_hash(const Medium& medium);

// Whether password hashes to hash (compared in constant time).
bool password_matches(const std::string& hash, const std::string& password);

}  // namespace obctl
