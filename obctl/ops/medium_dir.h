// The medium obctl works on: a directory given by --medium (/media/ob on the
// box), its paths, the lock that keeps two obctl apart, and whether a path
// lies on it.
#pragma once

#include <sys/stat.h>

#include <string>

#include "dir_handle.h"

namespace obctl {

struct Medium {
    std::string top;    // the medium's top directory, without a trailing slash
    DirHandle top_dir;  // held open from the start: every write goes below it

    // A box path of common/medium.h as it lies on this medium.
    std::string path(const char* box_path) const;
    // The directory of the image `name`.
    std::string image(const std::string& name) const;

    // The medium's own directory at `relative` ("ob", "bin"; "" for the top),
    // opened by handles from the top. Links of the medium's own layout on
    // the way are followed as the boot programs follow them, but only while
    // they stay on the medium. False with the reason.
    bool open_dir(const std::string& relative, DirHandle& dir, std::string& error) const;
    // The image directory (ob/); with `make`, made when it is missing.
    bool images(DirHandle& dir, std::string& error, bool make = false) const;
    // The path below the top that `path` (its links resolved) names; false
    // when it lies off the medium.
    bool relative_path(const std::string& path, std::string& relative) const;
};

// A box path as the user finds it on the medium: "ob/img1", ".obtimeout".
std::string shown(const char* box_path);
std::string shown_image(const std::string& name);
// The image directory as the box names it, for obinit's words.
std::string box_image(const std::string& name);

// The medium at dir: a directory that holds an Orbiel layout (ob.sh or
// ob/). False with the reason otherwise.
bool find_medium(const std::string& dir, Medium& medium, std::string& error);

// The directory dir, which is to become a medium.
bool medium_to_be(const std::string& dir, Medium& medium, std::string& error);

// True when path (as given; the links on its way followed) lies in the
// medium's tree: the top directory or below it.
bool on_the_medium(const Medium& medium, const std::string& path);

// Whether the directory is the root obctl runs in: the image the box runs
// from, which is never removed, renamed or replaced.
bool is_running_root(const std::string& directory);
// The same for a directory as lstat describes it.
bool is_running_root(const struct stat& directory);

// One lock on the medium's top directory for the life of the object:
// shared for the verbs that only read, exclusive for those that write, so
// that two obctl never write at once and a reader never sees half a change.
// Another holder is waited for, after a line that says so.
class MediumLock {
public:
    MediumLock() = default;
    ~MediumLock();
    MediumLock(const MediumLock&) = delete;
    MediumLock& operator=(const MediumLock&) = delete;
    bool take(const Medium& medium, bool exclusive, std::string& error);
    // Takes it only when no one holds it otherwise: false at once, with who
    // does in error ("in use by obctl add img9 img9.tar.gz (process 812)").
    bool try_take(const Medium& medium, bool exclusive, std::string& error);

private:
    bool open_top(const Medium& medium, std::string& error);

    int fd_ = -1;
};

}  // namespace obctl
