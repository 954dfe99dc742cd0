// add: an image from a directory or an archive, unpacked under a hidden name
// and given its name only once it is complete and obinit would boot it.
#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/statvfs.h>

#include "findings.h"
#include "image_boot.h"
#include "image_names.h"
#include "image_source.h"
#include "image_unpack.h"
#include "kernel.h"
#include "leftovers.h"
#include "medium.h"
#include "medium_info.h"
#include "medium_view.h"
#include "medium_write.h"
#include "tree_removal.h"
#include "verbs.h"

namespace obctl {

namespace {

volatile sig_atomic_t stop_requested = 0;

void request_stop(int) { stop_requested = 1; }

// Ctrl-C, a closed terminal or a kill end the unpack between two blocks,
// so that what was unpacked is removed before obctl exits.
class StopSignals {
public:
    StopSignals() {
        stop_requested = 0;
        struct sigaction action = {};
        action.sa_handler = request_stop;
        action.sa_flags = SA_RESTART;
        sigemptyset(&action.sa_mask);
        for (size_t i = 0; i < count; ++i)
            sigaction(signals[i], &action, &before_[i]);
    }
    ~StopSignals() {
        for (size_t i = 0; i < count; ++i)
            sigaction(signals[i], &before_[i], nullptr);
    }
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

private:
    static constexpr int signals[] = {SIGINT, SIGTERM, SIGHUP};
    static constexpr size_t count = sizeof signals / sizeof signals[0];
    struct sigaction before_[count];
};

// The directory name and the label the new image gets.
struct Target {
    std::string name;
    std::string label;
};

bool choose_target(const Invocation& run, Target& target, std::string& error) {
    target.name = run.args[0];
    if (run.options & takes_slot) {
        if (run.slot.size() != 1 || run.slot[0] < '1' || run.slot[0] > '8') {
            error = "--slot takes a number from 1 to 8";
            return false;
        }
        target.name = run.slot;
    }
    target.label = run.options & takes_label ? run.label : run.args[0];
    error = refused_image_name(target.name);
    if (error.empty()) error = refused_label(target.label);
    return error.empty();
}

bool medium_takes_images(const Medium& medium, std::string& error) {
    const MediumInfo info = medium_info(medium);
    const std::string& type = info.file_system;
    if (type.empty() || type == "ext2" || type == "ext3" || type == "ext4") return true;
    error =
        "the medium's file system is " + type + "; the boxes boot images from ext2, ext3 or ext4";
    return false;
}

bool room_for(const Medium& medium, const ImageSource& source, const std::string& path,
              std::string& error) {
    struct statvfs st;
    if (ob::kernel().statvfs(medium.top.c_str(), &st) != 0) return true;
    const uint64_t free_bytes = static_cast<uint64_t>(st.f_bavail) * st.f_frsize;
    if (source.least_room() <= free_bytes) return true;
    error = path + " needs at least " + megabytes(source.least_room()) + ", the medium has " +
            megabytes(free_bytes) + " free";
    return false;
}

// The mount points obinit would otherwise make at every boot.
void add_mount_points(const std::string& root) {
    for (const ob::MountPoint& point : ob::image_mount_points) {
        const std::string path = root + point.path;
        struct stat st;
        if (ob::kernel().lstat(path.c_str(), &st) == 0 || errno != ENOENT ||
            ob::kernel().mkdir(path.c_str(), point.mode) != 0)
            continue;
        // Past the umask: /tmp is 1777.
        const int fd = ob::kernel().open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW);
        if (fd < 0) continue;
        ob::kernel().fchmod(fd, point.mode);
        ob::kernel().close(fd);
    }
}

// obinit's verdict on the unpacked tree, in its words for the image's name.
std::string boot_refusal(const Medium& medium, const std::string& root, const std::string& name) {
    struct stat running;
    const bool known = ob::kernel().stat("/", &running) == 0;
    const ob::ImageBootProblem problem =
        ob::image_boot_problem(medium.path(ob::images_dir), root, known ? &running : nullptr);
    if (problem.kind == ob::ImageBootProblem::none) return "";
    return ob::image_boot_message(problem, box_image(name), ob::images_dir);
}

bool rename_flushed(const std::string& from, const std::string& to, std::string& error) {
    if (ob::kernel().rename(from.c_str(), to.c_str()) != 0) {
        error = to + ": " + strerror(errno);
        return false;
    }
    flush_directory(to);
    return true;
}

// The complete tree takes the name. A replaced image keeps a hidden name
// until then, so that a cut in between leaves it to be put back.
bool put_in_place(const Medium& medium, const std::string& tree, const std::string& name,
                  bool replacing, std::string& error) {
    const std::string image = medium.image(name);
    const std::string old = medium.image(replaced_prefix + name);
    if (replacing && !rename_flushed(image, old, error)) return false;
    if (!rename_flushed(tree, image, error)) {
        if (replacing) rename_flushed(old, image, error);
        return false;
    }
    if (replacing && !remove_tree(old, error)) {
        error = "the old image is left in " + shown_path(medium, old) + ": " + error;
        return false;
    }
    flush_directory(old);
    return true;
}

int unpack_and_place(const Invocation& run, const Medium& medium, ImageSource& source,
                     const Target& target, bool replacing) {
    const std::string tree = medium.image(unused_hidden_name(medium, adding_prefix));
    if (ob::kernel().mkdir(tree.c_str(), 0755) != 0)
        return fail(run, shown_path(medium, tree) + ": " + strerror(errno));
    std::string error;
    Unpacked made;
    bool complete;
    {
        StopSignals signals;
        Progress progress("add " + target.name, source.input_size());
        complete = unpack_into(source, tree, progress, stop_requested, made, error);
        progress.finish();
    }
    if (complete) {
        add_mount_points(tree);
        complete = write_medium_file(medium, tree + "/.obinfo", target.label + "\n", error);
    }
    if (complete) {
        error = boot_refusal(medium, tree, target.name);
        complete = error.empty();
    }
    if (complete) complete = put_in_place(medium, tree, target.name, replacing, error);
    if (!complete) {
        std::string ignored;
        remove_tree(tree, ignored);
        flush_directory(tree);
        return fail(run, error + "; nothing added");
    }
    ob::printf_to(1, "added %s from %s: %s in %llu files\n", shown_image(target.name).c_str(),
                  source.kind().c_str(), megabytes(made.bytes).c_str(),
                  static_cast<unsigned long long>(made.files));
    const MediumView view = look_at(medium);
    if (const ImageState* image = find_image(view, target.name))
        print_findings(image_findings(medium, view, *image, true));
    return done;
}

// A directory that holds the medium's images would take in the image being
// made as it is copied.
bool outside_the_images(const Medium& medium, const std::string& source, std::string& error) {
    char* real_source = realpath(source.c_str(), nullptr);
    char* real_images = realpath(medium.path(ob::images_dir).c_str(), nullptr);
    const bool holds =
        real_source != nullptr && real_images != nullptr &&
        (std::string(real_images) + "/")
                .compare(0, strlen(real_source) + 1, std::string(real_source) + "/") == 0;
    free(real_source);
    free(real_images);
    if (holds) error = source + " holds the medium's images (" + shown(ob::images_dir) + ")";
    return !holds;
}

}  // namespace

int verb_add(const Invocation& run, const Medium& medium) {
    Target target;
    std::string error;
    if (!choose_target(run, target, error)) return fail(run, error);
    const std::string& path = run.args[1];
    struct stat st;
    const bool in_use = ob::kernel().lstat(medium.image(target.name).c_str(), &st) == 0;
    if (in_use && !(run.options & takes_replace))
        return fail(run, shown_image(target.name) +
                             " is there already (--replace puts the new image in its place once "
                             "it is complete)");
    if (in_use && is_running_root(medium.image(target.name)))
        return fail(run, target.name + " is the image the box runs from; it is left as it is");
    if (!medium_takes_images(medium, error) || !outside_the_images(medium, path, error))
        return fail(run, error);
    for (const std::string& line : clean_leftovers(medium))
        ob::printf_to(1, "%s\n", line.c_str());
    ImageSource source;
    if (!source.open(path, error) || !room_for(medium, source, path, error))
        return fail(run, error);
    return unpack_and_place(run, medium, source, target, in_use);
}

}  // namespace obctl
