#include "api.h"

#include <vector>

#include "box_restart.h"
#include "medium_report.h"
#include "menu_settings.h"
#include "operations.h"
#include "settings_table.h"
#include "upload.h"

namespace obctl {

namespace {

using Texts = std::vector<std::string>;

// The members a change reads from its body, and what it does with them.
struct Change {
    const char* name;
    const char* fields[2];  // nullptr: none
    Outcome (*run)(const Medium& medium, const Texts& in, Json& out, std::string& restart);
};

Outcome boot_now(const Medium& medium, const Texts& in, Json&, std::string& restart) {
    Outcome can = can_restart(medium, restart);
    if (!can.ok()) return can;
    const Outcome stored = set_oneshot(medium, in[0]);
    if (!stored.ok()) {
        restart.clear();
        return stored;
    }
    return succeeded(in[0] + " boots at the next start; the box restarts now");
}

Outcome check_all(const Medium& medium, const Texts&, Json& out, std::string&) {
    Json notes = Json::array();
    for (const std::string& line : finish_interrupted(medium))
        notes.push_back(json_text(line));
    out["notes"] = std::move(notes);
    out["findings"] = findings_report(check_findings(medium, {}));
    return succeeded();
}

const Change changes[] = {
    {"default",
     {"name", nullptr},
     [](const Medium& m, const Texts& in, Json&, std::string&) { return set_default(m, in[0]); }},
    {"oneshot",
     {"name", nullptr},
     [](const Medium& m, const Texts& in, Json&, std::string&) { return set_oneshot(m, in[0]); }},
    {"boot", {"name", nullptr}, boot_now},
    {"set",
     {"key", "value"},
     [](const Medium& m, const Texts& in, Json&, std::string&) {
         return set_setting(m, in[0], in[1]);
     }},
    {"unset",
     {"key", nullptr},
     [](const Medium& m, const Texts& in, Json&, std::string&) { return unset_setting(m, in[0]); }},
    {"pin",
     {"pin", nullptr},
     [](const Medium& m, const Texts& in, Json&, std::string&) { return set_pin(m, in[0]); }},
    {"pin-off",
     {nullptr, nullptr},
     [](const Medium& m, const Texts&, Json&, std::string&) { return remove_pin(m); }},
    {"rename",
     {"name", "to"},
     [](const Medium& m, const Texts& in, Json&, std::string&) {
         return rename_image(m, in[0], in[1]);
     }},
    {"label",
     {"name", "label"},
     [](const Medium& m, const Texts& in, Json&, std::string&) {
         return label_image(m, in[0], in[1]);
     }},
    {"remove",
     {"name", nullptr},
     [](const Medium& m, const Texts& in, Json&, std::string&) { return remove_image(m, in[0]); }},
    {"check", {nullptr, nullptr}, check_all},
};

const Change* find_change(const std::string& name) {
    for (const Change& change : changes)
        if (name == change.name) return &change;
    return nullptr;
}

// The strings a change reads, or why the body has none of them.
bool body_texts(const Change& change, const std::string& body, Texts& in, std::string& error) {
    const Json parsed = Json::parse(body.empty() ? "{}" : body, nullptr, false);
    if (parsed.is_discarded() || !parsed.is_object()) {
        error = "the request's body is no JSON object";
        return false;
    }
    for (const char* field : change.fields) {
        if (field == nullptr) continue;
        const auto member = parsed.find(field);
        if (member == parsed.end() || !member->is_string()) {
            error = std::string(field) + " is missing (a string)";
            return false;
        }
        const std::string& text = member->get_ref<const std::string&>();
        // A command line cannot carry a NUL byte, and a path would end at one.
        if (text.find('\0') != std::string::npos) {
            error = std::string(field) + " holds a NUL byte";
            return false;
        }
        in.push_back(text);
    }
    return true;
}

// The page's fields for a setting: the bounds the programs clamp to, or
// the values they pick from.
Json setting_hints(const SettingFile& setting) {
    Json hints;
    hints["key"] = setting.key;
    hints["on_off"] = setting.kind == SettingFile::on_off;
    hints["accepted"] = setting.accepted;
    const std::string key = setting.key;
    if (key == "timeout") {
        hints["min"] = ob::shortest_menu_timeout;
        hints["max"] = ob::longest_menu_timeout;
    } else if (key == "color") {
        hints["min"] = 0;
        hints["max"] = ob::brightest_accent_level;
    } else if (key == "resolution") {
        Json choices = Json::array();
        for (const ob::Resolution& r : ob::resolutions)
            choices.push_back({{"value", std::to_string(r.setting)},
                               {"text", std::to_string(r.width) + "x" + std::to_string(r.height)}});
        hints["choices"] = std::move(choices);
    }
    return hints;
}

}  // namespace

Reply error_reply(int status, const std::string& message) {
    Reply reply;
    reply.status = status;
    reply.body = {{"error", json_text(message)}};
    return reply;
}

Reply outcome_reply(const Outcome& result) {
    if (!result.ok()) return error_reply(http_status(result), result.message);
    Reply reply;
    reply.body = {{"message", json_text(result.message)}};
    return reply;
}

bool read_medium(const Medium& medium, const std::string& name, Reply& reply) {
    if (name == "status") {
        reply.body = status_report(medium);
    } else if (name == "list") {
        reply.body = list_report(medium);
    } else if (name == "settings") {
        reply.body = Json::array();
        for (size_t i = 0; i < setting_file_count; ++i)
            reply.body.push_back(setting_hints(setting_files[i]));
    } else {
        return false;
    }
    return true;
}

bool is_change(const std::string& name) { return find_change(name) != nullptr; }

Reply change_medium(const Medium& medium, const std::string& name, const std::string& body,
                    std::string& restart) {
    const Change* change = find_change(name);
    if (change == nullptr) return error_reply(404, "no action " + name);
    Texts in;
    std::string error;
    if (!body_texts(*change, body, in, error)) return error_reply(400, error);
    Json out;
    const Outcome result = change->run(medium, in, out, restart);
    Reply reply = outcome_reply(result);
    if (result.ok())
        for (auto& member : out.items())
            reply.body[member.key()] = member.value();
    return reply;
}

Reply check_setting(const std::string& key, const std::string& value) {
    const SettingFile* setting = find_setting(key);
    if (setting == nullptr) return error_reply(404, "no setting " + key);
    if (setting->kind == SettingFile::on_off)
        return error_reply(400, key + " takes " + setting->accepted);
    Reply reply;
    reply.body = {{"takes", setting->takes(value)}, {"accepted", setting->accepted}};
    return reply;
}

}  // namespace obctl
