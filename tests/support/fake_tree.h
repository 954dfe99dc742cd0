// The fake kernel's file tree: a fresh host directory that is the box's "/",
// the root and working directory of the code under test, and its bind and
// move mounts. Paths are resolved the way the kernel does it, name by name.
#pragma once

#include <deque>
#include <string>
#include <vector>

namespace ob_test {

class FakeTree {
public:
    // A box path worked out: the tree path (before mounts), the host file,
    // and the path as seen inside the root of the time.
    struct Resolved {
        std::string tree;
        std::string host;
        std::string box;
    };

    FakeTree();   // makes the temporary directory; throws when the host refuses
    ~FakeTree();  // removes it with everything below
    FakeTree(const FakeTree&) = delete;
    FakeTree& operator=(const FakeTree&) = delete;

    const std::string& host_root() const { return temp_; }

    // A path of the code under test: fake root, working directory, mounts.
    // False with errno set when it does not resolve.
    bool resolve(const char* path, bool follow_last, Resolved& out) const;
    // A path of the test: the tree as prepared, whatever the code under test
    // has done since. False when it does not resolve; prepared() throws then.
    bool find_prepared(const std::string& path, bool follow_last, Resolved& out) const;
    Resolved prepared(const std::string& path, bool follow_last) const;

    // What mount, umount, chdir and chroot do to the tree, with the results
    // of the system calls (-1 with errno set on failure). MS_BIND and MS_MOVE
    // make the target show the source's tree; other mounts only need an
    // existing target directory.
    int mount(const char* source, const char* target, unsigned long flags);
    int umount(const char* target);
    int chdir(const char* path);
    int chroot(const char* path);
    // Declares a mount made before the code under test runs.
    void add_mount(const std::string& target);

private:
    // A mount: target and source are paths of the box tree (the temporary
    // directory being "/"). Only binds and moves show another tree.
    struct Mount {
        std::string target;
        std::string source;  // tree path shown at target; empty: shows itself
    };

    bool walk(const char* path, bool follow_last, const std::string& top, const std::string& here,
              bool use_mounts, Resolved& out) const;
    std::string shown(const std::string& tree, bool use_mounts) const;
    std::string host_of(const std::string& tree, bool use_mounts) const;
    std::string box_of(const std::string& tree) const;
    std::vector<Mount>::iterator mounted_at(const std::string& tree);
    // A path of the code under test that must be a directory.
    bool resolve_dir(const char* path, Resolved& out) const;

    std::string temp_;
    std::string root_ = "/";
    std::string cwd_ = "/";
    std::vector<Mount> mounts_;
};

// The names of a path, empty ones (from "//" or a trailing "/") left out.
std::deque<std::string> split_names(const std::string& path);
// "/" for "/x" and for a name without a slash.
std::string parent_of(const std::string& path);

}  // namespace ob_test
