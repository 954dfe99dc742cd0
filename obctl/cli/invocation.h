// One run of obctl as its command line asks for it.
#pragma once

#include <string>
#include <vector>

namespace obctl {

// Options a verb may take besides the ones every verb takes (--medium,
// --help).
enum Option : unsigned {
    takes_json = 1,             // --json
    takes_yes = 2,              // --yes
    takes_pin = 4,              // --pin DIGITS
    takes_label = 8,            // --label TEXT
    takes_slot = 16,            // --slot N
    takes_replace = 32,         // --replace
    takes_from = 64,            // --from BUNDLE
    takes_upgrade = 128,        // --upgrade
    takes_listen = 256,         // --listen ADDR:PORT
    takes_password_file = 512,  // --password-file FILE
    takes_off = 1024,           // --off
};

struct Invocation {
    std::string medium;  // --medium DIR, the medium's top directory
    std::string verb;
    std::vector<std::string> args;
    unsigned options = 0;  // the Option flags given
    bool help = false;
    bool version = false;
    std::string pin;            // with --pin
    std::string label;          // with --label
    std::string slot;           // with --slot
    std::string from;           // with --from
    std::string listen;         // with --listen
    std::string password_file;  // with --password-file
};

// Parses argv (after the program name) into run; false with the reason in
// error when the command line is malformed. "--" ends the options.
bool parse_invocation(int argc, char** argv, Invocation& run, std::string& error);

}  // namespace obctl
