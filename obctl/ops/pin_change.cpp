// The lock file the menu checks the PIN against.
#include "medium.h"
#include "medium_write.h"
#include "operations.h"
#include "pin_digest.h"

namespace obctl {

namespace {

constexpr size_t pin_digits = 4;

bool four_digits(const std::string& text) {
    if (text.size() != pin_digits) return false;
    for (char c : text)
        if (c < '0' || c > '9') return false;
    return true;
}

}  // namespace

Outcome set_pin(const Medium& medium, const std::string& digits) {
    if (!four_digits(digits)) return outcome(Outcome::refused, "a PIN is four digits, 0 to 9");
    // The remote enters the PIN as a number: "0123" is checked as 123.
    char digest[ob::pin_digest_digits + 1];
    ob::pin_digest(std::stoi(digits), digest);
    std::string error;
    if (!write_medium_file(medium, shown(ob::lock_file), std::string(digest) + "\n", error))
        return outcome(Outcome::failed, error);
    return succeeded();
}

Outcome remove_pin(const Medium& medium) {
    std::string error;
    if (!remove_medium_file(medium, shown(ob::lock_file), error))
        return outcome(Outcome::failed, error);
    return succeeded();
}

}  // namespace obctl
