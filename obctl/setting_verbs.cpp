// set and unset: the settings files, each written whole or removed.
#include "kernel.h"
#include "medium.h"
#include "medium_write.h"
#include "settings_table.h"
#include "verbs.h"

namespace obctl {

namespace {

std::string keys() {
    std::string list;
    for (size_t i = 0; i < setting_file_count; ++i)
        list += (i == 0 ? "" : ", ") + std::string(setting_files[i].key);
    return list;
}

const SettingFile* setting_of(const Invocation& run) {
    const SettingFile* setting = find_setting(run.args[0]);
    if (setting == nullptr)
        ob::printf_to(2, "obctl: %s: no setting %s (the settings: %s)\n", run.verb.c_str(),
                      run.args[0].c_str(), keys().c_str());
    return setting;
}

}  // namespace

int verb_set(const Invocation& run, const Medium& medium) {
    const SettingFile* setting = setting_of(run);
    if (setting == nullptr) return usage_error;
    const std::string& value = run.args[1];
    const std::string path = medium.path(setting->box_path);
    std::string error;
    if (setting->kind == SettingFile::on_off) {
        if (value != "on" && value != "off")
            return fail(run, setting->key + std::string(" takes ") + setting->accepted);
        const bool present = (value == "on") == setting->present_means_on;
        const bool written = present ? write_medium_file(medium, path, "", error)
                                     : remove_medium_file(medium, path, error);
        return written ? done : fail(run, error);
    }
    if (!setting->takes(value))
        return fail(run, "\"" + value + "\" is not taken as it is: " + setting->key + " takes " +
                             setting->accepted);
    return write_medium_file(medium, path, value + "\n", error) ? done : fail(run, error);
}

int verb_unset(const Invocation& run, const Medium& medium) {
    const SettingFile* setting = setting_of(run);
    if (setting == nullptr) return usage_error;
    std::string error;
    return remove_medium_file(medium, medium.path(setting->box_path), error) ? done
                                                                             : fail(run, error);
}

}  // namespace obctl
