// pin set / pin off: the PIN from --pin or typed twice at the terminal.
#include <string>

#include "kernel.h"
#include "operations.h"
#include "terminal.h"
#include "verbs.h"

namespace obctl {

namespace {

bool typed_pin(std::string& pin, std::string& error) {
    std::string again;
    if (!read_secret("PIN (four digits): ", pin) || !read_secret("The PIN again: ", again)) {
        error = "no PIN typed (give it with --pin DIGITS where no terminal asks)";
        return false;
    }
    if (pin != again) {
        error = "the two PINs differ; the lock is unchanged";
        return false;
    }
    return true;
}

}  // namespace

int verb_pin(const Invocation& run, const Medium& medium) {
    const std::string& action = run.args[0];
    if (action == "set") {
        std::string pin = run.pin;
        std::string error;
        if ((run.options & takes_pin) == 0 && !typed_pin(pin, error)) return fail(run, error);
        return report(run, set_pin(medium, pin));
    }
    if (action != "off" || (run.options & takes_pin) != 0) {
        ob::print_to(2, "obctl: usage: obctl pin set [--pin DIGITS], obctl pin off\n");
        return usage_error;
    }
    return report(run, remove_pin(medium));
}

}  // namespace obctl
