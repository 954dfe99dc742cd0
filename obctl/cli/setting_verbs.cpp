// set, unset, set-default, set-oneshot: one operation each.
#include "operations.h"
#include "verbs.h"

namespace obctl {

int verb_set(const Invocation& run, const Medium& medium) {
    return report(run, set_setting(medium, run.args[0], run.args[1]));
}

int verb_unset(const Invocation& run, const Medium& medium) {
    return report(run, unset_setting(medium, run.args[0]));
}

int verb_set_default(const Invocation& run, const Medium& medium) {
    return report(run, set_default(medium, run.args[0]));
}

int verb_set_oneshot(const Invocation& run, const Medium& medium) {
    return report(run, set_oneshot(medium, run.args[0]));
}

}  // namespace obctl
