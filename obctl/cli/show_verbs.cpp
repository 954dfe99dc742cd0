// status, list and check: the medium as the boot programs see it, for
// people or (--json) for scripts, from the same data.
#include <stdio.h>

#include "control_file.h"
#include "findings.h"
#include "json.h"
#include "kernel.h"
#include "medium.h"
#include "medium_info.h"
#include "medium_view.h"
#include "menu_settings.h"
#include "operations.h"
#include "settings_table.h"
#include "verbs.h"

namespace obctl {

namespace {

std::string entry_problem(const ImageState& image) {
    return image.boot_problem.empty() ? "boots" : "would not boot: " + image.boot_problem;
}

void print_entries(const MediumView& view) {
    const int preselected = view.choice.preselected;
    ob::printf_to(1, " %s 0  %-30s boots\n", preselected == 0 ? "*" : " ", ob::flash_name);
    for (const ImageState& image : view.images) {
        if (image.index < 0) continue;
        ob::printf_to(1, " %s%2d  %-30s %s\n", image.index == preselected ? "*" : " ", image.index,
                      image.entry.label.c_str(), entry_problem(image).c_str());
    }
    bool heading = false;
    for (const ImageState& image : view.images) {
        if (image.index >= 0) continue;
        if (!heading) ob::print_to(1, "not listed:\n");
        heading = true;
        ob::printf_to(1, "      %-30s %s\n", image.entry.name.c_str(),
                      ob::verdict_words(image.entry.verdict));
    }
}

void entries_json(Json& json, const MediumView& view) {
    json.key("entries").begin_array();
    json.begin_object().key("index").number(0).key("name").string(ob::flash_name);
    json.key("label")
        .string(ob::flash_name)
        .key("preselected")
        .boolean(view.choice.preselected == 0);
    json.key("boots").boolean(true).end_object();
    for (const ImageState& image : view.images) {
        if (image.index < 0) continue;
        json.begin_object().key("index").number(image.index).key("name").string(image.entry.name);
        json.key("label").string(image.entry.label);
        json.key("preselected").boolean(image.index == view.choice.preselected);
        json.key("boots").boolean(image.boot_problem.empty());
        if (!image.boot_problem.empty()) json.key("problem").string(image.boot_problem);
        json.end_object();
    }
    json.end_array().key("not_listed").begin_array();
    for (const ImageState& image : view.images) {
        if (image.index >= 0) continue;
        json.begin_object().key("name").string(image.entry.name);
        json.key("reason").string(ob::verdict_words(image.entry.verdict));
        json.key("boots").boolean(image.boot_problem.empty());
        if (!image.boot_problem.empty()) json.key("problem").string(image.boot_problem);
        json.end_object();
    }
    json.end_array();
}

std::vector<Finding> all_findings(const Medium& medium, const MediumView& view,
                                  const MediumInfo& info) {
    std::vector<Finding> found = medium_findings(medium, view, info);
    for (const ImageState& image : view.images) {
        const std::vector<Finding> more = image_findings(medium, view, image);
        found.insert(found.end(), more.begin(), more.end());
    }
    return found;
}

std::string size_text(uint64_t bytes) {
    const char* units[] = {"bytes", "KiB", "MiB", "GiB", "TiB"};
    double value = static_cast<double>(bytes);
    size_t unit = 0;
    while (value >= 1024 && unit + 1 < sizeof units / sizeof units[0]) {
        value /= 1024;
        ++unit;
    }
    char text[32];
    snprintf(text, sizeof text, unit == 0 ? "%.0f %s" : "%.1f %s", value, units[unit]);
    return text;
}

std::string medium_line(const Medium& medium, const MediumInfo& info) {
    std::string line = medium.top;
    if (!info.device.empty()) line += ": " + info.device + ", " + info.file_system;
    if (info.volume_read && info.volume.magic)
        line += std::string(", label \"") + info.volume.label + "\"";
    if (info.space_known)
        line += ", " + size_text(info.free_bytes) + " free of " + size_text(info.size_bytes);
    return line;
}

std::string one_shot_text(const Choice& choice) {
    if (!choice.one_shot) return "none";
    if (choice.one_shot_kind != ob::BootSelection::named) return "not honoured (no image name)";
    return choice.one_shot_name + " at the next start";
}

void print_status(const Medium& medium, const MediumView& view, const MediumInfo& info,
                  const std::vector<Finding>& found) {
    ob::printf_to(1, "%-13s %s\n", "medium", medium_line(medium, info).c_str());
    ob::printf_to(1, "%-13s %s\n", "orbiel",
                  info.orbiel_version.empty()
                      ? "unknown (no menu log yet)"
                      : (info.orbiel_version + " (the menu's last log)").c_str());
    ob::printf_to(1, "%-13s %s\n", "choice", view.choice.stored.c_str());
    ob::printf_to(1, "%-13s %s\n", "one-shot", one_shot_text(view.choice).c_str());
    ob::printf_to(1, "%-13s %s\n", "pin", ob::pin_lock_set(medium.top) ? "on" : "off");
    for (size_t i = 0; i < setting_file_count; ++i)
        ob::printf_to(1, "%-13s %s\n", setting_files[i].key,
                      setting_files[i].effective(medium).c_str());
    ob::printf_to(1, "entries (%d images listed):\n", view.listed);
    print_entries(view);
    if (!found.empty()) ob::print_to(1, "check:\n");
    print_findings(found);
}

void findings_json(Json& json, const std::vector<Finding>& found) {
    json.key("findings").begin_array();
    for (const Finding& finding : found)
        json.begin_object()
            .key("severity")
            .string(severity_name(finding.severity))
            .key("subject")
            .string(finding.subject)
            .key("text")
            .string(finding.text)
            .end_object();
    json.end_array();
}

void medium_json(Json& json, const Medium& medium, const MediumInfo& info) {
    json.key("medium").begin_object().key("directory").string(medium.top);
    json.key("device");
    info.device.empty() ? json.null() : json.string(info.device);
    json.key("file_system");
    info.device.empty() ? json.null() : json.string(info.file_system);
    json.key("label");
    info.volume_read&& info.volume.magic ? json.string(info.volume.label) : json.null();
    json.key("free_bytes");
    info.space_known ? json.number(static_cast<int64_t>(info.free_bytes)) : json.null();
    json.key("size_bytes");
    info.space_known ? json.number(static_cast<int64_t>(info.size_bytes)) : json.null();
    json.end_object().key("orbiel_version");
    info.orbiel_version.empty() ? json.null() : json.string(info.orbiel_version);
}

void choice_json(Json& json, const MediumView& view) {
    const Choice& choice = view.choice;
    json.key("choice").begin_object().key("stored").string(choice.stored);
    json.key("one_shot");
    choice.one_shot&& choice.one_shot_kind == ob::BootSelection::named
        ? json.string(choice.one_shot_name)
        : json.null();
    json.end_object();
}

void settings_json(Json& json, const Medium& medium) {
    const ob::Resolution resolution = ob::read_resolution(medium.top);
    const std::string boot_color = box_setting(medium, ob::boot_color_file);
    const std::string mask = box_setting(medium, ob::mask_file);
    json.key("settings").begin_object();
    json.key("timeout").number(ob::read_menu_timeout(medium.top));
    json.key("pin").boolean(ob::pin_lock_set(medium.top));
    json.key("color").number(ob::read_accent_level(medium.top));
    json.key("resolution")
        .string(std::to_string(resolution.width) + "x" + std::to_string(resolution.height));
    json.key("progress").boolean(ob::progress_bar_shown(medium.top));
    json.key("menu").boolean(!ob::path_exists(medium.path(ob::no_boot_manager_file).c_str()));
    json.key("bootcolor");
    boot_color.empty() ? json.null() : json.string(boot_color);
    json.key("mask");
    mask.empty() ? json.null() : json.string(mask);
    json.end_object();
}

}  // namespace

int verb_status(const Invocation& run, const Medium& medium) {
    const MediumView view = look_at(medium);
    const MediumInfo info = medium_info(medium);
    const std::vector<Finding> found = all_findings(medium, view, info);
    if ((run.options & takes_json) == 0) {
        print_status(medium, view, info, found);
        return done;
    }
    Json json;
    json.begin_object();
    medium_json(json, medium, info);
    choice_json(json, view);
    settings_json(json, medium);
    entries_json(json, view);
    findings_json(json, found);
    ob::print_to(1, json.end_object().text().c_str());
    return done;
}

int verb_list(const Invocation& run, const Medium& medium) {
    const MediumView view = look_at(medium);
    if ((run.options & takes_json) == 0) {
        print_entries(view);
        return done;
    }
    Json json;
    json.begin_object();
    entries_json(json, view);
    ob::print_to(1, json.end_object().text().c_str());
    return done;
}

int verb_check(const Invocation& run, const Medium& medium) {
    for (const std::string& line : finish_interrupted(medium))
        ob::printf_to(1, "note     %s\n", line.c_str());
    const std::vector<Finding> found = check_findings(medium, run.args);
    print_findings(found);
    size_t errors = 0;
    for (const Finding& finding : found)
        if (finding.severity == Severity::error) ++errors;
    if (errors == 0) {
        if (found.empty()) ob::print_to(1, "no findings\n");
        return done;
    }
    return fail(run, std::to_string(errors) + (errors == 1 ? " error" : " errors"));
}

}  // namespace obctl
