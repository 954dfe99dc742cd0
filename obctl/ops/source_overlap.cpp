#include "source_overlap.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <utility>
#include <vector>

#include "kernel.h"
#include "mount_roots.h"

namespace obctl {

namespace {

using Identity = std::pair<dev_t, ino_t>;

// More directories above one than any tree has: the walk up ends here
// even if ".." should never reach a fixed point.
constexpr int deepest = 4096;

constexpr int up_flags = O_RDONLY | O_DIRECTORY | O_NONBLOCK | O_CLOEXEC;

Identity identity(const struct stat& st) { return {st.st_dev, st.st_ino}; }

// The directory fd and every one above it, up to the process's root.
std::vector<Identity> upwards(int fd) {
    std::vector<Identity> chain;
    struct stat st;
    int here = ob::kernel().openat(fd, ".", up_flags);
    while (here >= 0 && ob::kernel().fstat(here, &st) == 0 &&
           static_cast<int>(chain.size()) < deepest) {
        if (!chain.empty() && chain.back() == identity(st)) break;
        chain.push_back(identity(st));
        const int up = ob::kernel().openat(here, "..", up_flags);
        ob::kernel().close(here);
        here = up;
    }
    if (here >= 0) ob::kernel().close(here);
    return chain;
}

bool in(const std::vector<Identity>& chain, const Identity& id) {
    for (const Identity& one : chain)
        if (one == id) return true;
    return false;
}

// Whether id is one of the image directories (the root a shell on the box
// runs in).
bool is_an_image(const Medium& medium, const Identity& id) {
    DirHandle images;
    std::string ignored;
    std::vector<std::string> names;
    if (!medium.images(images, ignored) || ob::kernel().list_dir_at(images.fd(), names) != 0)
        return false;
    for (const std::string& name : names) {
        struct stat st;
        if (images.stat(name, st) && S_ISDIR(st.st_mode) && identity(st) == id) return true;
    }
    return false;
}

}  // namespace

std::string source_overlap(const Medium& medium, const std::string& path) {
    const int fd = ob::kernel().open(path.c_str(), up_flags);
    if (fd < 0) return "";  // the source's own opening says why
    const std::vector<Identity> source = upwards(fd);
    ob::kernel().close(fd);
    const std::vector<Identity> top = upwards(medium.top_dir.fd());
    std::vector<Identity> medium_dirs = {top.front()};
    DirHandle images;
    std::string ignored;
    struct stat st;
    if (medium.images(images, ignored) && images.stat_self(st)) medium_dirs.push_back(identity(st));
    if (!source.empty() && in(medium_dirs, source.front()))
        return path + " is the medium's " +
               (source.front() == top.front() ? "top directory" : "image directory");
    for (const Identity& id : medium_dirs)
        if (in(source, id)) return path + " lies in the medium (" + medium.top + ")";
    if (!source.empty() && in(top, source.front()))
        return path + " holds the medium (" + medium.top + ")";
    if (!source.empty() && is_an_image(medium, source.back()))
        return path + " lies in an image of the medium (the one this shell runs in)";
    // A directory above the source that is the root of a mount of the
    // medium's own file system, but no mount the medium's top lies in: a
    // bind mount of some part of the medium.
    const MountRoots mounts(top.front().first);
    for (const Identity& id : source) {
        struct stat probe = {};
        probe.st_dev = id.first;
        probe.st_ino = id.second;
        if (mounts.holds(probe) && !in(top, id))
            return path + " lies in another mount of the medium's file system (a bind mount)";
    }
    return "";
}

}  // namespace obctl
