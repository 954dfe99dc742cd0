// Whether obinit would boot an image directory: what it checks before it
// switches root into one (so that a directory it cannot use boots Flash
// untouched), with the words it reports them in. obctl asks the same of
// every image on a medium mounted anywhere.
#pragma once

#include <sys/stat.h>

#include <string>

#include "medium.h"

namespace ob {

// Init programs that mount the kernel file systems themselves, in order of
// preference; the classic /sbin/init after them needs them mounted.
constexpr const char* self_mounting_inits[] = {"/sbin/init.sysvinit", "/lib/systemd/systemd"};
constexpr const char* plain_init = "/sbin/init";

// Mount points of the carried trees and of the preparation's kernel file
// systems that an image unpacked from a plain archive often lacks, parents
// first. obinit makes the missing ones before it enters the image.
struct MountPoint {
    const char* path;
    mode_t mode;
};
constexpr MountPoint image_mount_points[] = {
    {"/media", 0755}, {medium_mount, 0755}, {"/sys", 0555},
    {"/dev", 0755},   {"/proc", 0555},      {"/tmp", 01777},
};

struct ImageBootProblem {
    enum Kind {
        none,
        cannot_enter,  // detail: why ("No such file or directory", "it is the running root")
        outside,       // a link out of the image directory
        no_init,       // none of the init programs is there
        init_refused,  // detail: the first one there and why the kernel would not start it
    } kind = none;
    std::string detail;
};

// What keeps obinit from booting the directory image_root, an entry of
// images_dir. running_root, when given, is the root obinit runs from: an
// entry leading there is never entered (the preparation would edit it).
ImageBootProblem image_boot_problem(const std::string& images_dir, const std::string& image_root,
                                    const struct stat* running_root);

// obinit's line for the problem, without its line feed ("Orbiel: image
// directory /media/ob/ob/x holds no init program"), naming the directories
// as given.
std::string image_boot_message(const ImageBootProblem& problem, const std::string& image_root,
                               const std::string& images_dir);

}  // namespace ob
