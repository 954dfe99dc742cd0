// Setting and unsetting the settings files, each written whole or removed.
#include "medium.h"
#include "medium_write.h"
#include "operations.h"
#include "settings_table.h"

namespace obctl {

namespace {

std::string keys() {
    std::string list;
    for (size_t i = 0; i < setting_file_count; ++i)
        list += (i == 0 ? "" : ", ") + std::string(setting_files[i].key);
    return list;
}

Outcome no_setting(const std::string& key) {
    return outcome(Outcome::unknown, "no setting " + key + " (the settings: " + keys() + ")");
}

Outcome written(bool ok, const std::string& error) {
    return ok ? succeeded() : outcome(Outcome::failed, error);
}

}  // namespace

Outcome set_setting(const Medium& medium, const std::string& key, const std::string& value) {
    const SettingFile* setting = find_setting(key);
    if (setting == nullptr) return no_setting(key);
    const std::string path = shown(setting->box_path);
    std::string error;
    if (setting->kind == SettingFile::on_off) {
        if (value != "on" && value != "off")
            return outcome(Outcome::refused,
                           setting->key + std::string(" takes ") + setting->accepted);
        const bool present = (value == "on") == setting->present_means_on;
        return written(present ? write_medium_file(medium, path, "", error)
                               : remove_medium_file(medium, path, error),
                       error);
    }
    if (!setting->takes(value))
        return outcome(Outcome::refused, "\"" + value + "\" is not taken as it is: " +
                                             setting->key + " takes " + setting->accepted);
    return written(write_medium_file(medium, path, value + "\n", error), error);
}

Outcome unset_setting(const Medium& medium, const std::string& key) {
    const SettingFile* setting = find_setting(key);
    if (setting == nullptr) return no_setting(key);
    std::string error;
    return written(remove_medium_file(medium, shown(setting->box_path), error), error);
}

}  // namespace obctl
