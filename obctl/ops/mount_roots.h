// Where something is mounted on one file system. A mount point shows the
// root of what is mounted there, so it is known by that root's device and
// inode; a bind mount of the same file system shows no other device number
// and is found only this way (the boxes' oldest kernel, Linux 3.4, tells no
// mount of a descriptor).
#pragma once

#include <sys/stat.h>

#include <utility>
#include <vector>

namespace obctl {

class MountRoots {
public:
    // The mounts of the file system `device` in /proc/self/mountinfo.
    explicit MountRoots(dev_t device);
    // Whether the directory st describes is the root of one of them.
    bool holds(const struct stat& st) const;

private:
    std::vector<std::pair<dev_t, ino_t>> roots_;
};

}  // namespace obctl
