// pin set / pin off: the lock file the menu checks the PIN against.
#include <string>

#include "kernel.h"
#include "medium.h"
#include "medium_write.h"
#include "pin_digest.h"
#include "terminal.h"
#include "verbs.h"

namespace obctl {

namespace {

constexpr size_t pin_digits = 4;

bool four_digits(const std::string& text) {
    if (text.size() != pin_digits) return false;
    for (char c : text)
        if (c < '0' || c > '9') return false;
    return true;
}

// The PIN from --pin, or typed twice at the terminal.
bool pin_of(const Invocation& run, std::string& pin, std::string& error) {
    if ((run.options & takes_pin) != 0) {
        pin = run.pin;
    } else {
        std::string again;
        if (!read_secret("PIN (four digits): ", pin) || !read_secret("The PIN again: ", again)) {
            error = "no PIN typed (give it with --pin DIGITS where no terminal asks)";
            return false;
        }
        if (pin != again) {
            error = "the two PINs differ; the lock is unchanged";
            return false;
        }
    }
    if (!four_digits(pin)) {
        error = "a PIN is four digits, 0 to 9";
        return false;
    }
    return true;
}

int set_pin(const Invocation& run, const Medium& medium) {
    std::string pin;
    std::string error;
    if (!pin_of(run, pin, error)) return fail(run, error);
    // The remote enters the PIN as a number: "0123" is checked as 123.
    char digest[ob::pin_digest_digits + 1];
    ob::pin_digest(std::stoi(pin), digest);
    if (!write_medium_file(medium, medium.path(ob::lock_file), std::string(digest) + "\n", error))
        return fail(run, error);
    return done;
}

}  // namespace

int verb_pin(const Invocation& run, const Medium& medium) {
    const std::string& action = run.args[0];
    if (action == "set") return set_pin(run, medium);
    if (action != "off" || (run.options & takes_pin) != 0) {
        ob::print_to(2, "obctl: usage: obctl pin set [--pin DIGITS], obctl pin off\n");
        return usage_error;
    }
    std::string error;
    return remove_medium_file(medium, medium.path(ob::lock_file), error) ? done : fail(run, error);
}

}  // namespace obctl
