#include "tree_removal.h"

#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>

#include <vector>

#include "kernel.h"
#include "mount_roots.h"

namespace obctl {

namespace {

// A directory on the way down: its names still to look at, and which
// directory it is, so that the way back up through ".." is known to lead to
// it again.
struct Level {
    std::string name;  // in the level above
    dev_t dev;
    ino_t ino;
    std::vector<std::string> names;
    size_t next = 0;
};

// The longest path a message shows; the middle of a deeper one is left out.
constexpr size_t shown_limit = 160;

constexpr int up_flags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;

class Removal {
public:
    Removal(const DirHandle& parent, dev_t device) : parent_(parent), mounts_(device) {}

    void run(const std::string& name, const struct stat& st);
    const std::string& error() const { return error_; }

private:
    std::string shown(const std::string& name) const;
    void note(const std::string& name, const std::string& why);
    // The first failure, from errno.
    void failed(const std::string& name) {
        if (error_.empty()) error_ = handle_failure(shown(name), errno);
    }
    bool enter(const DirHandle& from, const std::string& name, const struct stat& st);
    void next_name();
    bool leave();

    const DirHandle& parent_;
    MountRoots mounts_;
    std::vector<Level> levels_;
    DirHandle here_;  // the directory of levels_.back()
    std::string error_;
};

std::string Removal::shown(const std::string& name) const {
    std::string path;
    for (const Level& level : levels_)
        path += level.name + "/";
    path = parent_.shown(path + name);
    if (path.size() > shown_limit)
        path = path.substr(0, shown_limit / 2) + "..." + path.substr(path.size() - shown_limit / 2);
    return path;
}

void Removal::note(const std::string& name, const std::string& why) {
    if (error_.empty()) error_ = shown(name) + ": " + why;
}

// Opens the directory `name` of `from` (st, as fstatat saw it) as the next
// level, unless it is a mount point.
bool Removal::enter(const DirHandle& from, const std::string& name, const struct stat& st) {
    const dev_t device = levels_.empty() ? st.st_dev : levels_.back().dev;
    if (st.st_dev != device || mounts_.holds(st)) {
        note(name, "a mount point; left in place, with what holds it");
        return false;
    }
    DirHandle below;
    struct stat opened;
    if (!from.open_below(name, below) || !below.stat_self(opened)) {
        failed(name);
        return false;
    }
    if (opened.st_dev != st.st_dev || opened.st_ino != st.st_ino) {
        note(name, "changed while it was removed; left");
        return false;
    }
    Level level;
    level.name = name;
    level.dev = st.st_dev;
    level.ino = st.st_ino;
    if (ob::kernel().list_dir_at(below.fd(), level.names) != 0) failed(name);
    levels_.push_back(std::move(level));
    here_ = std::move(below);
    return true;
}

// Removes the next name of the current level, or enters it.
void Removal::next_name() {
    Level& level = levels_.back();
    const std::string name = level.names[level.next++];
    struct stat st;
    if (!here_.stat(name, st)) {
        if (errno != ENOENT) failed(name);
        return;
    }
    if (!S_ISDIR(st.st_mode)) {
        if (ob::kernel().unlinkat(here_.fd(), name.c_str(), 0) != 0 && errno != ENOENT)
            failed(name);
        return;
    }
    DirHandle from = std::move(here_);
    if (!enter(from, name, st)) here_ = std::move(from);
}

// Goes back up from a finished level and removes its directory. False when
// the way up does not lead where the way down came from.
bool Removal::leave() {
    const Level done = std::move(levels_.back());
    levels_.pop_back();
    if (levels_.empty()) {
        here_.close();
        if (ob::kernel().unlinkat(parent_.fd(), done.name.c_str(), AT_REMOVEDIR) != 0 &&
            error_.empty())
            failed(done.name);
        return true;
    }
    const int up = ob::kernel().openat(here_.fd(), "..", up_flags);
    struct stat st;
    const bool same = up >= 0 && ob::kernel().fstat(up, &st) == 0 &&
                      st.st_dev == levels_.back().dev && st.st_ino == levels_.back().ino;
    if (!same) {
        if (up >= 0) ob::kernel().close(up);
        note(done.name, "moved while it was removed; left");
        return false;
    }
    here_.adopt(up, "");
    if (ob::kernel().unlinkat(here_.fd(), done.name.c_str(), AT_REMOVEDIR) != 0 && error_.empty())
        failed(done.name);
    return true;
}

void Removal::run(const std::string& name, const struct stat& st) {
    if (!enter(parent_, name, st)) return;
    while (!levels_.empty()) {
        if (levels_.back().next < levels_.back().names.size())
            next_name();
        else if (!leave())
            return;
    }
}

}  // namespace

bool remove_tree(const DirHandle& parent, const std::string& name, std::string& error) {
    error.clear();
    struct stat st;
    if (!parent.stat(name, st)) {
        error = handle_failure(parent.shown(name), errno);
        return false;
    }
    if (!S_ISDIR(st.st_mode)) {
        if (ob::kernel().unlinkat(parent.fd(), name.c_str(), 0) == 0) return true;
        error = handle_failure(parent.shown(name), errno);
        return false;
    }
    Removal removal(parent, st.st_dev);
    removal.run(name, st);
    error = removal.error();
    return error.empty();
}

}  // namespace obctl
