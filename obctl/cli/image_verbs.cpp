// remove, rename and label: one operation each; remove asks first.
#include "operations.h"
#include "terminal.h"
#include "verbs.h"

namespace obctl {

int verb_remove(const Invocation& run, const Medium& medium) {
    const std::string& name = run.args[0];
    const Outcome allowed = removable_image(medium, name);
    if (!allowed.ok()) return report(run, allowed);
    if ((run.options & takes_yes) == 0 &&
        !confirmed("Delete the image " + name + " and all its files from " + medium.top + "?"))
        return fail(run, "not removed (--yes removes without asking)");
    return report(run, remove_image(medium, name));
}

int verb_rename(const Invocation& run, const Medium& medium) {
    return report(run, rename_image(medium, run.args[0], run.args[1]));
}

int verb_label(const Invocation& run, const Medium& medium) {
    return report(run, label_image(medium, run.args[0], run.args[1]));
}

}  // namespace obctl
