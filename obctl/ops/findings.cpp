#include "findings.h"

#include <string.h>
#include <sys/stat.h>

#include "asset_probe.h"
#include "control_file.h"
#include "ext_volume.h"
#include "image_boot.h"
#include "kernel.h"
#include "medium.h"
#include "menu_settings.h"
#include "pin_digest.h"
#include "program_check.h"
#include "settings_table.h"

namespace obctl {

namespace {

constexpr const char* medium_file_system = "ext4";

using Findings = std::vector<Finding>;

void add(Findings& found, Severity severity, const std::string& subject, const std::string& text) {
    found.push_back({severity, subject, text});
}

}  // namespace

void file_system_findings(const MediumInfo& info, Findings& found) {
    if (info.device.empty()) return;
    const std::string device = info.device;
    if (info.file_system != "ext4" && info.file_system != "ext3")
        add(found, Severity::error, "medium",
            device + " holds " + info.file_system + ": obinit mounts the medium as " +
                medium_file_system);
    if (!info.volume_read) {
        add(found, Severity::note, "medium",
            "cannot read the superblock of " + device + " (" + info.volume_error +
                "): its label and features are not checked");
        return;
    }
    if (!info.volume.magic) return;
    if (strncmp(info.volume.label, ob::medium_label_prefix, strlen(ob::medium_label_prefix)) != 0)
        add(found, Severity::error, "medium",
            device + " is labelled \"" + info.volume.label +
                "\": obinit finds only a medium whose label begins with ob");
    const std::string problem = ob::ext_mount_problem(info.volume, ob::oldest_box_kernel);
    if (!problem.empty())
        add(found, Severity::error, "medium",
            "cannot mount " + device + " on " + ob::medium_mount + ": it " + problem + " (" +
                ob::ext_fix_command(info.volume, ob::oldest_box_kernel, device.c_str()) + ")");
}

namespace {

// The menu program as the shell of the flash starts it. Its program
// interpreter lies in the flash root, which obctl does not see, so only
// what the kernel asks of the file itself counts.
void menu_program_findings(const Medium& medium, Findings& found) {
    const std::string subject = shown(ob::menu_program);
    const ob::ProgramCheck check = ob::check_program("", medium.path(ob::menu_program));
    const std::string no_menu = ": no menu, obinit boots the stored choice";
    if (!check.present)
        add(found, Severity::warning, subject, "missing" + no_menu);
    else if (!check.startable && check.problem.compare(0, 6, "needs ") != 0)
        add(found, Severity::warning, subject, check.problem + no_menu);
    if (!ob::path_exists(medium.path(ob::medium_tune2fs).c_str()))
        add(found, Severity::note, shown(ob::medium_tune2fs),
            "missing: obinit 90 checks the file system but cannot reset its UUID");
    if (!ob::path_exists(medium.path(ob::medium_marker).c_str()))
        add(found, Severity::warning, shown(ob::medium_marker),
            "missing: the medium never counts as mounted");
}

void asset_findings(const Medium& medium, Findings& found) {
    const std::string logo = start_logo_problem(medium);
    if (!logo.empty()) add(found, Severity::warning, shown(ob::default_logo), logo);
    const std::string font = font_problem(medium);
    if (!font.empty())
        add(found, Severity::warning, shown(ob::default_font),
            font + ": no menu, obinit boots the stored choice");
}

void setting_findings(const Medium& medium, Findings& found) {
    for (size_t i = 0; i < setting_file_count; ++i) {
        const SettingFile& setting = setting_files[i];
        std::string text;
        if (setting.kind != SettingFile::value || !setting_text(medium, setting, text)) continue;
        if (setting.takes(text)) continue;
        add(found, Severity::warning, shown(setting.box_path),
            "holds \"" + text + "\", taken as " + setting.effective(medium) + " (" +
                setting.accepted + ")");
    }
}

bool is_digest(const char* text) {
    for (size_t i = 0; i < ob::pin_digest_digits; ++i)
        if (!((text[i] >= '0' && text[i] <= '9') || (text[i] >= 'a' && text[i] <= 'f')))
            return false;
    return true;
}

void lock_findings(const Medium& medium, Findings& found) {
    const std::string path = medium.path(ob::lock_file);
    struct stat st;
    if (!ob::pin_lock_set(medium.top)) {
        if (ob::kernel().lstat(path.c_str(), &st) == 0)
            add(found, Severity::warning, shown(ob::lock_file), "not a regular file: no PIN lock");
        return;
    }
    char digest[ob::pin_digest_digits + 1];
    ob::read_control_file(path.c_str(), digest, sizeof digest, ob::pin_digest_digits);
    if (strlen(digest) < ob::pin_digest_digits || !is_digest(digest))
        add(found, Severity::warning, shown(ob::lock_file),
            "holds no MD5 digest of a PIN: no PIN matches, three tries boot Flash");
}

// A chosen name that is no entry of the image directory (or a hidden one).
void unlisted_choice(const Medium& medium, const std::string& subject, const std::string& name,
                     Findings& found) {
    const std::string problem = boot_problem(medium, name);
    if (!problem.empty()) add(found, Severity::error, subject, "names " + name + ": " + problem);
}

void choice_findings(const Medium& medium, const MediumView& view, Findings& found) {
    const Choice& choice = view.choice;
    const std::string selection = shown(ob::selection_file);
    if (!ob::path_exists(medium.path(ob::selection_file).c_str()))
        add(found, Severity::warning, selection,
            "missing: the menu stores no choice (it never creates the file), obinit boots Flash");
    else if (choice.stored_kind == ob::BootSelection::invalid)
        add(found, Severity::warning, selection,
            std::string("invalid image name in ") + ob::selection_file + ", booting Flash");
    // A name that the image list reports on is not reported again.
    if (choice.stored_kind == ob::BootSelection::named &&
        find_image(view, choice.stored) == nullptr)
        unlisted_choice(medium, selection, choice.stored, found);
    const std::string preselected =
        choice.preselected == 0
            ? std::string(ob::flash_name)
            : view.images[static_cast<size_t>(choice.preselected - 1)].entry.name;
    if (preselected != choice.stored)
        add(found, Severity::warning, selection,
            "the menu preselects " + preselected + ", obinit boots " + choice.stored);
    if (!choice.one_shot) return;
    const std::string one_shot = shown(ob::one_shot_file);
    if (choice.one_shot_kind != ob::BootSelection::named)
        add(found, Severity::warning, one_shot,
            std::string("no image name in ") + ob::one_shot_file + ", not honoured");
    else
        add(found, Severity::note, one_shot,
            "obinit boots " + choice.one_shot_name + " once at the next start, without the menu");
    if (choice.one_shot_kind == ob::BootSelection::named &&
        find_image(view, choice.one_shot_name) == nullptr)
        unlisted_choice(medium, one_shot, choice.one_shot_name, found);
}

// A numbered image whose .obinfo yields nothing is shown with the path.
void label_findings(const ImageState& image, Findings& found) {
    const std::string label_path = image.entry.name + " (" + ob::images_dir + "/";
    if (image.index > 0 && image.entry.label.compare(0, label_path.size(), label_path) == 0)
        add(found, Severity::warning, shown_image(image.entry.name),
            ".obinfo names no label: the menu shows " + image.entry.label);
}

void mount_point_findings(const Medium& medium, const ImageState& image, Findings& found) {
    std::string missing;
    for (const ob::MountPoint& point : ob::image_mount_points) {
        struct stat st;
        if (ob::kernel().lstat((medium.image(image.entry.name) + point.path).c_str(), &st) != 0)
            missing += (missing.empty() ? "" : ", ") + std::string(point.path + 1);
    }
    if (!missing.empty())
        add(found, Severity::note, shown_image(image.entry.name),
            "obinit makes the missing mount points at its next boot: " + missing);
}

}  // namespace

const char* severity_name(Severity severity) {
    switch (severity) {
        case Severity::error:
            return "error";
        case Severity::warning:
            return "warning";
        case Severity::note:
            break;
    }
    return "note";
}

Findings medium_findings(const Medium& medium, const MediumView& view, const MediumInfo& info) {
    Findings found;
    file_system_findings(info, found);
    menu_program_findings(medium, found);
    asset_findings(medium, found);
    setting_findings(medium, found);
    lock_findings(medium, found);
    choice_findings(medium, view, found);
    return found;
}

Findings image_findings(const Medium& medium, const MediumView& view, const ImageState& image,
                        bool named) {
    Findings found;
    const std::string subject = shown_image(image.entry.name);
    if (image.index < 0)
        add(found, Severity::warning, subject, ob::verdict_words(image.entry.verdict));
    label_findings(image, found);
    if (!image.boot_problem.empty()) {
        const bool chosen = view.choice.stored == image.entry.name ||
                            (view.choice.one_shot && view.choice.one_shot_name == image.entry.name);
        add(found, image.index > 0 || chosen || named ? Severity::error : Severity::warning,
            subject, image.boot_problem);
        return found;
    }
    mount_point_findings(medium, image, found);
    return found;
}

void print_findings(const std::vector<Finding>& found) {
    for (const Finding& finding : found)
        ob::printf_to(1, "%-8s %s: %s\n", severity_name(finding.severity), finding.subject.c_str(),
                      finding.text.c_str());
}

}  // namespace obctl
