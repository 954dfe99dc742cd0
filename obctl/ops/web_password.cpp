#include "web_password.h"

#include <crypt.h>
#include <string.h>

#include <memory>

#include "control_file.h"
#include "medium_write.h"
#include "random_bytes.h"

namespace obctl {

namespace {

constexpr size_t shortest_password = 8;
constexpr size_t longest_password = 128;
// SHA-512 crypt's default is 5000 rounds; four times that takes a tenth of
// a second on a box's core and makes each guess that much dearer.
constexpr const char* hash_setting = "$6$rounds=20000$";
constexpr size_t salt_characters = 16;
// "$6$rounds=N$" + salt + "$" + 86 characters of hash.
constexpr size_t longest_hash = 160;

// crypt_r's work area is large in some C libraries: on the heap.
std::string hashed(const std::string& password, const std::string& setting) {
    auto work = std::make_unique<crypt_data>();
    memset(work.get(), 0, sizeof(crypt_data));
    const char* out = crypt_r(password.c_str(), setting.c_str(), work.get());
    // Failures come back as null or as a short text starting with "*".
    if (out == nullptr || out[0] != '$') return "";
    return out;
}

std::string new_salt() {
    static const char alphabet[] =
        "./0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
    unsigned char bytes[salt_characters];
    if (!random_bytes(bytes, sizeof bytes)) return "";
    std::string salt;
    for (unsigned char b : bytes)
        salt += alphabet[b % 64];
    return salt;
}

}  // namespace

Outcome set_web_password(const Medium& medium, const std::string& password) {
    if (password.size() < shortest_password || password.size() > longest_password)
        return outcome(Outcome::refused, "a password has " + std::to_string(shortest_password) +
                                             " to " + std::to_string(longest_password) +
                                             " characters");
    for (char c : password)
        if (c == '\0' || c == '\n' || c == '\r')
            return outcome(Outcome::refused, "a password is one line");
    const std::string salt = new_salt();
    if (salt.empty()) return outcome(Outcome::failed, "/dev/urandom cannot be read");
    const std::string hash = hashed(password, hash_setting + salt + "$");
    if (hash.empty())
        return outcome(Outcome::failed, "the C library's crypt() does not make SHA-512 hashes");
    std::string error;
    if (!write_medium_file(medium, shown(web_password_file), hash + "\n", error, 0600))
        return outcome(Outcome::failed, error);
    return succeeded("the web page's password is set");
}

Outcome remove_web_password(const Medium& medium) {
    std::string error;
    if (!remove_medium_file(medium, shown(web_password_file), error))
        return outcome(Outcome::failed, error);
    return succeeded("the web page has no password: obctl serve does not start");
}

std::string web_password_hash(const Medium& medium) {
    char line[longest_hash + 2];
    if (ob::read_control_file(medium.path(web_password_file).c_str(), line, sizeof line,
                              sizeof line - 1) <= 0)
        return "";
    ob::cut_at_any(line, ob::init_value_separators);
    return line[0] == '$' ? line : "";
}

bool password_matches(const std::string& hash, const std::string& password) {
    if (hash.empty() || password.empty() || password.size() > longest_password) return false;
    const std::string again = hashed(password, hash);
    if (again.size() != hash.size()) return false;
    unsigned char differ = 0;
    for (size_t i = 0; i < hash.size(); ++i)
        differ |= static_cast<unsigned char>(again[i] ^ hash[i]);
    return differ == 0;
}

}  // namespace obctl
