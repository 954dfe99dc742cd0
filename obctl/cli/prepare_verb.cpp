// prepare: lays out a medium from the release's medium tree, on a mounted
// ext file system that obinit would find and the boxes' kernels mount.
// Settings and images are never touched; --upgrade replaces the programs.
#include <errno.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "choice.h"
#include "control_file.h"
#include "findings.h"
#include "kernel.h"
#include "medium.h"
#include "medium_bundle.h"
#include "medium_info.h"
#include "medium_write.h"
#include "program_check.h"
#include "verbs.h"

namespace obctl {

namespace {

// The file system obinit would find and mount, in the words of check.
bool volume_fits(const Medium& medium, std::string& error) {
    const MediumInfo info = medium_info(medium);
    if (info.device.empty()) {
        error = medium.top + " lies on no mounted file system";
        return false;
    }
    if (!info.volume_read) {
        error = "cannot read the label of " + info.device + ": " + info.volume_error +
                (geteuid() != 0 ? " (run obctl prepare as root)" : "");
        return false;
    }
    std::vector<Finding> found;
    file_system_findings(info, found);
    if (!info.volume.magic)
        found.push_back({Severity::error, "medium", info.device + " holds no ext file system"});
    for (const Finding& finding : found) {
        if (finding.severity != Severity::error) continue;
        error = finding.text;
        return false;
    }
    return true;
}

bool same_file(const Medium& medium, const BundleFile& file) {
    struct stat st;
    const std::string path = medium.top + "/" + file.path;
    if (ob::kernel().lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) ||
        (st.st_mode & 07777) != file.mode || st.st_size != static_cast<off_t>(file.content.size()))
        return false;
    std::string old;
    old.resize(file.content.size() + 1);
    const long got =
        ob::read_control_file(path.c_str(), &old[0], old.size(), file.content.size() + 1);
    return got == static_cast<long>(file.content.size()) &&
           old.compare(0, file.content.size(), file.content) == 0;
}

bool exists(const std::string& path) {
    struct stat st;
    return ob::kernel().lstat(path.c_str(), &st) == 0;
}

// A directory of the layout, made below the top's handle, never through a
// link.
bool make_directory(const Medium& medium, const BundleFile& dir, std::string& error) {
    const size_t slash = dir.path.rfind('/');
    const std::string name = slash == std::string::npos ? dir.path : dir.path.substr(slash + 1);
    DirHandle parent;
    if (!medium.open_dir(slash == std::string::npos ? "" : dir.path.substr(0, slash), parent,
                         error))
        return false;
    struct stat st;
    if (parent.stat(name, st)) {
        if (S_ISDIR(st.st_mode)) return true;
        error = dir.path + " is there, but not as a directory";
        return false;
    }
    if (ob::kernel().mkdirat(parent.fd(), name.c_str(), dir.mode) == 0) {
        flush_directory(parent);
        return true;
    }
    error = handle_failure(dir.path, errno);
    return false;
}

bool lay_out(const Medium& medium, const Bundle& bundle, bool upgrade, int& written,
             std::string& error) {
    for (const BundleFile& file : bundle.files) {
        const std::string path = medium.top + "/" + file.path;
        if (file.directory) {
            if (!make_directory(medium, file, error)) return false;
            continue;
        }
        const bool program = is_program(file);
        if (program ? same_file(medium, file) : (upgrade || exists(path))) continue;
        const size_t slash = file.path.rfind('/');
        BundleFile parent;
        parent.directory = true;
        parent.mode = 0755;
        parent.path = file.path.substr(0, slash == std::string::npos ? 0 : slash);
        if (!parent.path.empty() && !make_directory(medium, parent, error)) return false;
        if (!write_medium_file(medium, file.path, file.content, error, file.mode)) return false;
        ++written;
    }
    return true;
}

// The programs are for the boxes: a tree installed by a PC's own build
// carries a menu for the PC.
std::string foreign_program(const Bundle& bundle) {
    for (const BundleFile& file : bundle.files) {
        if (file.directory || file.path.compare(0, 4, "bin/") != 0 ||
            file.content.compare(0, 4,
                                 "\x7f"
                                 "ELF") != 0)
            continue;
        const std::string problem = ob::elf_header_problem(
            reinterpret_cast<const unsigned char*>(file.content.data()), file.content.size());
        if (!problem.empty())
            return bundle.from + ": " + file.path + " " + problem + "; no medium can use it";
    }
    return "";
}

// A medium with programs other than the bundle's: only --upgrade changes
// them.
std::string other_programs(const Medium& medium, const Bundle& bundle) {
    for (const BundleFile& file : bundle.files)
        if (is_program(file) && exists(medium.top + "/" + file.path) && !same_file(medium, file))
            return file.path;
    return "";
}

}  // namespace

int verb_prepare(const Invocation& run, const Medium& medium) {
    const bool upgrade = (run.options & takes_upgrade) != 0;
    std::string error;
    if (!volume_fits(medium, error)) return fail(run, error);
    Bundle bundle;
    if (!read_bundle(run.from, bundle, error)) return fail(run, error);
    error = foreign_program(bundle);
    if (!error.empty()) return fail(run, error);
    const bool prepared = exists(medium.path(ob::medium_marker));
    if (upgrade && !prepared)
        return fail(run, medium.top + " holds no Orbiel medium to upgrade (no ob.sh)");
    const std::string differs = prepared && !upgrade ? other_programs(medium, bundle) : "";
    if (!differs.empty())
        return fail(run, medium.top + " holds other Orbiel programs (" + differs +
                             " differs); --upgrade replaces them and keeps every setting and "
                             "image");
    int written = 0;
    if (!lay_out(medium, bundle, upgrade, written, error)) return fail(run, error);
    if (!upgrade && !exists(medium.path(ob::selection_file))) {
        if (!store_choice(medium, ob::selection_file, ob::flash_name, error))
            return fail(run, error);
        ++written;
    }
    ob::printf_to(1, "%s %s from %s: %d files written\n", upgrade ? "upgraded" : "prepared",
                  medium.top.c_str(), bundle.from.c_str(), written);
    return done;
}

}  // namespace obctl
