// How an operation on the medium ended. The command line turns it into one
// line and an exit status, the web into an HTTP status and a JSON answer;
// both show the same words.
#pragma once

#include <string>
#include <utility>

namespace obctl {

struct Outcome {
    enum Kind {
        done,
        unknown,    // no such setting, action or option: the request is malformed
        refused,    // a rule of the boot programs or of obctl says no
        not_found,  // no such image
        in_use,     // the name is taken
        busy,       // another obctl holds the medium
        too_large,  // more than the medium's free space
        failed,     // the system refused a step
    };
    Kind kind = done;
    std::string message;  // what went wrong; for done, what was done ("" for nothing to say)

    bool ok() const { return kind == done; }
};

inline Outcome succeeded(std::string text = "") { return {Outcome::done, std::move(text)}; }
inline Outcome outcome(Outcome::Kind kind, std::string text) { return {kind, std::move(text)}; }

}  // namespace obctl
