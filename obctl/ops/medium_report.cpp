#include "medium_report.h"

#include "control_file.h"
#include "medium.h"
#include "menu_settings.h"
#include "settings_table.h"

namespace obctl {

namespace {

// Text when there is some, null otherwise.
Json text_or_null(bool known, const std::string& text) {
    return known ? json_text(text) : Json(nullptr);
}

void add_problem(Json& entry, const ImageState& image) {
    entry["boots"] = image.boot_problem.empty();
    if (!image.boot_problem.empty()) entry["problem"] = json_text(image.boot_problem);
}

Json entries(const MediumView& view) {
    Json listed = Json::array();
    listed.push_back({{"index", 0},
                      {"name", ob::flash_name},
                      {"label", ob::flash_name},
                      {"preselected", view.choice.preselected == 0},
                      {"boots", true}});
    Json left_out = Json::array();
    for (const ImageState& image : view.images) {
        Json entry;
        if (image.index >= 0) {
            entry["index"] = image.index;
            entry["name"] = json_text(image.entry.name);
            entry["label"] = json_text(image.entry.label);
            entry["preselected"] = image.index == view.choice.preselected;
            add_problem(entry, image);
            listed.push_back(std::move(entry));
        } else {
            entry["name"] = json_text(image.entry.name);
            entry["reason"] = ob::verdict_words(image.entry.verdict);
            add_problem(entry, image);
            left_out.push_back(std::move(entry));
        }
    }
    return {{"entries", std::move(listed)}, {"not_listed", std::move(left_out)}};
}

Json medium_part(const Medium& medium, const MediumInfo& info) {
    const bool mounted = !info.device.empty();
    const bool labelled = info.volume_read && info.volume.magic;
    Json part;
    part["directory"] = json_text(medium.top);
    part["device"] = text_or_null(mounted, info.device);
    part["file_system"] = text_or_null(mounted, info.file_system);
    part["label"] = text_or_null(labelled, labelled ? info.volume.label : "");
    part["free_bytes"] = info.space_known ? Json(info.free_bytes) : Json(nullptr);
    part["size_bytes"] = info.space_known ? Json(info.size_bytes) : Json(nullptr);
    return part;
}

Json choice_part(const Choice& choice) {
    const bool one_shot = choice.one_shot && choice.one_shot_kind == ob::BootSelection::named;
    return {{"stored", json_text(choice.stored)},
            {"one_shot", text_or_null(one_shot, choice.one_shot_name)}};
}

Json settings_part(const Medium& medium) {
    const ob::Resolution resolution = ob::read_resolution(medium.top);
    const std::string boot_color = box_setting(medium, ob::boot_color_file);
    const std::string mask = box_setting(medium, ob::mask_file);
    Json part;
    part["timeout"] = ob::read_menu_timeout(medium.top);
    part["pin"] = ob::pin_lock_set(medium.top);
    part["color"] = ob::read_accent_level(medium.top);
    part["resolution"] = std::to_string(resolution.width) + "x" + std::to_string(resolution.height);
    part["progress"] = ob::progress_bar_shown(medium.top);
    part["menu"] = !ob::path_exists(medium.path(ob::no_boot_manager_file).c_str());
    part["bootcolor"] = text_or_null(!boot_color.empty(), boot_color);
    part["mask"] = text_or_null(!mask.empty(), mask);
    return part;
}

}  // namespace

Json findings_report(const std::vector<Finding>& found) {
    Json all = Json::array();
    for (const Finding& finding : found)
        all.push_back({{"severity", severity_name(finding.severity)},
                       {"subject", json_text(finding.subject)},
                       {"text", json_text(finding.text)}});
    return all;
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

Json status_report(const Medium& medium) {
    const MediumView view = look_at(medium);
    const MediumInfo info = medium_info(medium);
    Json report;
    report["medium"] = medium_part(medium, info);
    report["orbiel_version"] = text_or_null(!info.orbiel_version.empty(), info.orbiel_version);
    report["choice"] = choice_part(view.choice);
    report["settings"] = settings_part(medium);
    Json listed = entries(view);
    report["entries"] = std::move(listed["entries"]);
    report["not_listed"] = std::move(listed["not_listed"]);
    report["findings"] = findings_report(all_findings(medium, view, info));
    return report;
}

Json list_report(const Medium& medium) { return entries(look_at(medium)); }

}  // namespace obctl
