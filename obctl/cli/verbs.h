// The verbs of obctl, one function each, and the table that names them.
#pragma once

#include <string>

#include "invocation.h"
#include "medium_dir.h"
#include "outcome.h"

namespace obctl {

using VerbFunction = int (*)(const Invocation& run, const Medium& medium);

struct Verb {
    const char* name;
    VerbFunction function;
    int min_args, max_args;     // max_args -1: any number
    unsigned options;           // the Option flags it takes
    bool writes;                // takes the medium's lock exclusively
    const char* usage;          // its arguments, after its name
    const char* summary;        // one line for `obctl help`
    const char* help;           // the rest of `obctl VERB --help`
    bool lays_out = false;      // its first argument is the medium to be, not --medium
    bool locks_itself = false;  // takes the medium's lock itself, for each change (serve)
};

const Verb* find_verb(const std::string& name);

// Exit statuses.
constexpr int done = 0;
constexpr int failed = 1;
constexpr int usage_error = 2;

// Reports a failure in one line on standard error ("obctl: VERB: text") and
// returns `failed`.
int fail(const Invocation& run, const std::string& text);
// The exit status of an operation's outcome: its message on standard error
// as fail() writes it when it failed (a malformed request is a usage error),
// on standard output when it succeeded with something to say.
int report(const Invocation& run, const Outcome& result);

int verb_status(const Invocation& run, const Medium& medium);
int verb_list(const Invocation& run, const Medium& medium);
int verb_check(const Invocation& run, const Medium& medium);
int verb_set_default(const Invocation& run, const Medium& medium);
int verb_set_oneshot(const Invocation& run, const Medium& medium);
int verb_set(const Invocation& run, const Medium& medium);
int verb_unset(const Invocation& run, const Medium& medium);
int verb_pin(const Invocation& run, const Medium& medium);
int verb_remove(const Invocation& run, const Medium& medium);
int verb_rename(const Invocation& run, const Medium& medium);
int verb_label(const Invocation& run, const Medium& medium);
int verb_add(const Invocation& run, const Medium& medium);
int verb_prepare(const Invocation& run, const Medium& medium);
int verb_serve(const Invocation& run, const Medium& medium);
int verb_web(const Invocation& run, const Medium& medium);

}  // namespace obctl
