#include "invocation.h"

#include <string.h>

#include "medium.h"

namespace obctl {

namespace {

struct Flag {
    const char* name;
    Option option;
    std::string Invocation::*value;  // where its value goes; nullptr: it takes none
};
const Flag flags[] = {
    {"--json", takes_json, nullptr},
    {"--yes", takes_yes, nullptr},
    {"--pin", takes_pin, &Invocation::pin},
    {"--label", takes_label, &Invocation::label},
    {"--slot", takes_slot, &Invocation::slot},
    {"--replace", takes_replace, nullptr},
    {"--from", takes_from, &Invocation::from},
    {"--upgrade", takes_upgrade, nullptr},
    {"--listen", takes_listen, &Invocation::listen},
    {"--password-file", takes_password_file, &Invocation::password_file},
    {"--off", takes_off, nullptr},
};

// "--name=value" or "--name value"; false when the value is missing.
bool take_value(const char* arg, const char* name, int argc, char** argv, int& i,
                std::string& value) {
    const size_t length = strlen(name);
    if (arg[length] == '=') {
        value = arg + length + 1;
        return true;
    }
    if (i + 1 >= argc) return false;
    value = argv[++i];
    return true;
}

bool named(const char* arg, const char* name) {
    const size_t length = strlen(name);
    return strncmp(arg, name, length) == 0 && (arg[length] == '\0' || arg[length] == '=');
}

}  // namespace

bool parse_invocation(int argc, char** argv, Invocation& run, std::string& error) {
    run = Invocation();
    run.medium = ob::medium_mount;
    bool options_end = false;
    for (int i = 0; i < argc; ++i) {
        const char* arg = argv[i];
        if (options_end || arg[0] != '-' || arg[1] == '\0') {
            if (run.verb.empty())
                run.verb = arg;
            else
                run.args.push_back(arg);
            continue;
        }
        if (strcmp(arg, "--") == 0) {
            options_end = true;
        } else if (strcmp(arg, "--help") == 0 || strcmp(arg, "-h") == 0) {
            run.help = true;
        } else if (strcmp(arg, "--version") == 0) {
            run.version = true;
        } else if (named(arg, "--medium")) {
            if (!take_value(arg, "--medium", argc, argv, i, run.medium) || run.medium.empty()) {
                error = "--medium needs the medium's top directory";
                return false;
            }
        } else {
            const Flag* flag = nullptr;
            for (const Flag& f : flags)
                if (f.value != nullptr ? named(arg, f.name) : strcmp(arg, f.name) == 0) flag = &f;
            if (flag == nullptr) {
                error = std::string("unknown option ") + arg;
                return false;
            }
            if (flag->value != nullptr &&
                !take_value(arg, flag->name, argc, argv, i, run.*flag->value)) {
                error = std::string(flag->name) + " needs a value";
                return false;
            }
            run.options |= flag->option;
        }
    }
    while (run.medium.size() > 1 && run.medium.back() == '/')
        run.medium.pop_back();
    return true;
}

}  // namespace obctl
