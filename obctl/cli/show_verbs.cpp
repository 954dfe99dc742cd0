// status, list and check: the medium as the boot programs see it, for
// people or (--json) for scripts, from the same data.
#include <stdio.h>

#include "control_file.h"
#include "findings.h"
#include "kernel.h"
#include "medium.h"
#include "medium_info.h"
#include "medium_report.h"
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

}  // namespace

int verb_status(const Invocation& run, const Medium& medium) {
    if ((run.options & takes_json) != 0) {
        ob::print_to(1, json_line(status_report(medium)).c_str());
        return done;
    }
    const MediumView view = look_at(medium);
    const MediumInfo info = medium_info(medium);
    print_status(medium, view, info, all_findings(medium, view, info));
    return done;
}

int verb_list(const Invocation& run, const Medium& medium) {
    if ((run.options & takes_json) != 0) {
        ob::print_to(1, json_line(list_report(medium)).c_str());
        return done;
    }
    print_entries(look_at(medium));
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
