// Adding an image: unpacked under a hidden name and given its name only once
// it is complete and obinit would boot it.
#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/statvfs.h>

#include "image_boot.h"
#include "image_names.h"
#include "image_unpack.h"
#include "kernel.h"
#include "leftovers.h"
#include "medium.h"
#include "medium_info.h"
#include "medium_write.h"
#include "operations.h"
#include "tree_removal.h"

namespace obctl {

namespace {

// The directory name and the label the new image gets.
struct Target {
    std::string name;
    std::string label;
};

Outcome choose_target(const AddRequest& request, Target& target) {
    target.name = request.name;
    if (!request.slot.empty()) {
        if (request.slot.size() != 1 || request.slot[0] < '1' || request.slot[0] > '8')
            return outcome(Outcome::refused, "--slot takes a number from 1 to 8");
        target.name = request.slot;
    }
    target.label = request.label.empty() ? request.name : request.label;
    std::string error = refused_image_name(target.name);
    if (error.empty()) error = refused_label(target.label);
    return error.empty() ? succeeded() : outcome(Outcome::refused, error);
}

bool medium_takes_images(const Medium& medium, std::string& error) {
    const MediumInfo info = medium_info(medium);
    const std::string& type = info.file_system;
    if (type.empty() || type == "ext2" || type == "ext3" || type == "ext4") return true;
    error =
        "the medium's file system is " + type + "; the boxes boot images from ext2, ext3 or ext4";
    return false;
}

bool room_for(const Medium& medium, const ImageSource& source, std::string& error) {
    struct statvfs st;
    if (ob::kernel().statvfs(medium.top.c_str(), &st) != 0) return true;
    const uint64_t free_bytes = static_cast<uint64_t>(st.f_bavail) * st.f_frsize;
    if (source.least_room() <= free_bytes) return true;
    error = source.name() + " needs at least " + megabytes(source.least_room()) +
            ", the medium has " + megabytes(free_bytes) + " free";
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

// The unpacked tree made an image, or why not.
std::string finish_tree(const Medium& medium, const std::string& tree, const Target& target,
                        bool replacing, AddWatch& watch) {
    std::string error;
    watch.phase(AddWatch::Phase::checking);
    add_mount_points(tree);
    if (!write_medium_file(medium, tree + "/.obinfo", target.label + "\n", error)) return error;
    error = boot_refusal(medium, tree, target.name);
    if (!error.empty()) return error;
    watch.phase(AddWatch::Phase::placing);
    put_in_place(medium, tree, target.name, replacing, error);
    return error;
}

}  // namespace

Outcome add_can_start(const Medium& medium, const AddRequest& request, AddWatch& watch) {
    Target target;
    const Outcome named = choose_target(request, target);
    if (!named.ok()) return named;
    std::string error;
    if (!medium_takes_images(medium, error)) return outcome(Outcome::refused, error);
    watch.phase(AddWatch::Phase::cleaning);
    for (const std::string& line : clean_leftovers(medium))
        watch.note(line);
    struct stat st;
    const bool in_use = ob::kernel().lstat(medium.image(target.name).c_str(), &st) == 0;
    if (in_use && !request.replace)
        return outcome(Outcome::in_use,
                       shown_image(target.name) +
                           " is there already (--replace puts the new image in its place once "
                           "it is complete)");
    if (in_use && is_running_root(medium.image(target.name)))
        return outcome(Outcome::refused,
                       target.name + " is the image the box runs from; it is left as it is");
    return succeeded();
}

Outcome add_image(const Medium& medium, const AddRequest& request, ImageSource& source,
                  AddWatch& watch, const volatile sig_atomic_t& stop) {
    Target target;
    const Outcome named = choose_target(request, target);
    if (!named.ok()) return named;
    std::string error;
    if (!room_for(medium, source, error)) return outcome(Outcome::too_large, error);
    struct stat st;
    const bool replacing = ob::kernel().lstat(medium.image(target.name).c_str(), &st) == 0;
    const std::string tree = medium.image(unused_hidden_name(medium, adding_prefix));
    if (ob::kernel().mkdir(tree.c_str(), 0755) != 0)
        return outcome(Outcome::failed, shown_path(medium, tree) + ": " + strerror(errno));
    Unpacked made;
    watch.phase(AddWatch::Phase::unpacking);
    if (unpack_into(source, tree, watch, stop, made, error))
        error = finish_tree(medium, tree, target, replacing, watch);
    if (!error.empty()) {
        std::string ignored;
        remove_tree(tree, ignored);
        flush_directory(tree);
        return outcome(Outcome::failed, error + "; nothing added");
    }
    return succeeded("added " + shown_image(target.name) + " from " + source.kind() + ": " +
                     megabytes(made.bytes) + " in " + std::to_string(made.files) + " files");
}

}  // namespace obctl
