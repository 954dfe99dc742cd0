// Adding an image: unpacked under a hidden name and given its name only once
// it is complete and obinit would boot it.
#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/statvfs.h>

#include "dir_handle.h"
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

// The mount points obinit would otherwise make at every boot, each made
// where the image has nothing of that name. A link there is the image's own
// arrangement (its /media elsewhere, say): obinit resolves it inside the
// image at boot, and obctl follows none.
void add_mount_points(const DirHandle& tree) {
    for (const ob::MountPoint& point : ob::image_mount_points) {
        std::string parent = point.path + 1;
        const size_t slash = parent.rfind('/');
        const std::string name = slash == std::string::npos ? parent : parent.substr(slash + 1);
        parent = slash == std::string::npos ? "" : parent.substr(0, slash);
        DirHandle dir;
        struct stat st;
        if (!tree.open_path(parent, dir) || dir.stat(name, st) || errno != ENOENT ||
            ob::kernel().mkdirat(dir.fd(), name.c_str(), point.mode) != 0)
            continue;
        // Past the umask: /tmp is 1777.
        DirHandle made;
        if (dir.open_below(name, made)) ob::kernel().fchmod(made.fd(), point.mode);
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

bool rename_flushed(const DirHandle& images, const std::string& from, const std::string& to,
                    std::string& error) {
    if (ob::kernel().renameat(images.fd(), from.c_str(), images.fd(), to.c_str()) != 0) {
        error = handle_failure(images.shown(to), errno);
        return false;
    }
    flush_directory(images);
    return true;
}

// The complete tree takes the name. A replaced image keeps a hidden name
// until then, so that a cut in between leaves it to be put back; once the
// new image has the name, the add is done, and an old image that cannot be
// deleted is a leftover for the next add or check.
bool put_in_place(const DirHandle& images, const std::string& tree, const std::string& name,
                  bool replacing, AddWatch& watch, std::string& error) {
    const std::string old = replaced_prefix + name;
    if (replacing && !rename_flushed(images, name, old, error)) return false;
    if (!rename_flushed(images, tree, name, error)) {
        std::string ignored;
        if (replacing) rename_flushed(images, old, name, ignored);
        return false;
    }
    std::string left;
    if (replacing && !remove_tree(images, old, left))
        watch.note("warning: the old image is left in " + images.shown(old) + " (" + left +
                   "); the next obctl add or check removes it");
    flush_directory(images);
    return true;
}

// The unpacked tree made an image, or why not.
Outcome finish_tree(const Medium& medium, const DirHandle& images, const DirHandle& tree,
                    const std::string& tree_name, const Target& target, bool replacing,
                    AddWatch& watch) {
    std::string error;
    watch.phase(AddWatch::Phase::checking);
    add_mount_points(tree);
    if (!write_file_in(tree, ".obinfo", target.label + "\n", error))
        return outcome(Outcome::failed, error);
    error = boot_refusal(medium, medium.image(tree_name), target.name);
    if (!error.empty()) return outcome(Outcome::refused, error);
    watch.phase(AddWatch::Phase::placing);
    if (!put_in_place(images, tree_name, target.name, replacing, watch, error))
        return outcome(Outcome::failed, error);
    return succeeded();
}

}  // namespace

Outcome room_for(const Medium& medium, const std::string& source, uint64_t least_room) {
    struct statvfs st;
    if (least_room == 0 || ob::kernel().statvfs(medium.top.c_str(), &st) != 0) return succeeded();
    const uint64_t free_bytes = static_cast<uint64_t>(st.f_bavail) * st.f_frsize;
    if (least_room <= free_bytes) return succeeded();
    return outcome(Outcome::too_large, source + " needs at least " + megabytes(least_room) +
                                           ", the medium has " + megabytes(free_bytes) + " free");
}

Outcome add_can_start(const Medium& medium, const AddRequest& request, AddWatch& watch) {
    Target target;
    const Outcome named = choose_target(request, target);
    if (!named.ok()) return named;
    std::string error;
    if (!medium_takes_images(medium, error)) return outcome(Outcome::refused, error);
    // Whether the name is in use is decided only once the leftovers of an
    // interrupted replace are put back.
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
    const Outcome room = room_for(medium, source.name(), source.least_room());
    if (!room.ok()) return room;
    std::string error;
    DirHandle images;
    if (!medium.images(images, error, true)) return outcome(Outcome::failed, error);
    struct stat st;
    const bool replacing = images.stat(target.name, st);
    if (replacing && !request.replace)
        return outcome(Outcome::in_use, images.shown(target.name) + " is there already");
    const std::string tree_name = unused_hidden_name(images, adding_prefix);
    DirHandle tree;
    if (ob::kernel().mkdirat(images.fd(), tree_name.c_str(), 0755) != 0 ||
        !images.open_below(tree_name, tree))
        return outcome(Outcome::failed, handle_failure(images.shown(tree_name), errno));
    Unpacked made;
    watch.phase(AddWatch::Phase::unpacking);
    Outcome result = unpack_into(source, tree, watch, stop, made, error)
                         ? finish_tree(medium, images, tree, tree_name, target, replacing, watch)
                         : outcome(Outcome::refused, error);
    if (!result.ok()) {
        tree.close();
        std::string ignored;
        remove_tree(images, tree_name, ignored);
        flush_directory(images);
        result.message += "; nothing added";
        return result;
    }
    return succeeded("added " + images.shown(target.name) + " from " + source.kind() + ": " +
                     megabytes(made.bytes) + " in " + std::to_string(made.files) + " files");
}

}  // namespace obctl
