#include "fake_tree.h"

#include <dirent.h>
#include <errno.h>
#include <limits.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <iterator>
#include <stdexcept>

namespace ob_test {

namespace {

constexpr int kMaxLinks = 40;

// True when path is dir or lies below it (both absolute and folded).
bool is_within(const std::string& path, const std::string& dir) {
    if (dir == "/") return true;
    return path.compare(0, dir.size(), dir) == 0 &&
           (path.size() == dir.size() || path[dir.size()] == '/');
}

std::string child_of(const std::string& dir, const std::string& name) {
    return dir == "/" ? "/" + name : dir + "/" + name;
}

bool refuse(int err) {
    errno = err;
    return false;
}

// Removes a host tree, making directories writable first so that modes the
// code under test chose never leave debris behind.
//
// Directory entries are read with the 64-bit interface here (and in the fake
// kernel's list_dir): a 32-bit program under qemu-user on a 64-bit host gets
// 64-bit directory offsets, which plain readdir() rejects with EOVERFLOW (an
// empty listing).
void remove_tree(const std::string& host) {
    struct stat st;
    if (::lstat(host.c_str(), &st) != 0) return;
    if (S_ISDIR(st.st_mode)) {
        ::chmod(host.c_str(), 0700);
        if (DIR* dir = ::opendir(host.c_str())) {
            std::vector<std::string> names;
            while (struct dirent64* entry = ::readdir64(dir)) {
                if (strcmp(entry->d_name, ".") != 0 && strcmp(entry->d_name, "..") != 0)
                    names.emplace_back(entry->d_name);
            }
            ::closedir(dir);
            for (const std::string& name : names)
                remove_tree(host + "/" + name);
        }
        ::rmdir(host.c_str());
    } else {
        ::unlink(host.c_str());
    }
}

}  // namespace

std::deque<std::string> split_names(const std::string& path) {
    std::deque<std::string> names;
    size_t at = 0;
    while (at < path.size()) {
        size_t end = path.find('/', at);
        if (end == std::string::npos) end = path.size();
        if (end > at) names.push_back(path.substr(at, end - at));
        at = end + 1;
    }
    return names;
}

std::string parent_of(const std::string& path) {
    size_t slash = path.rfind('/');
    return slash == 0 || slash == std::string::npos ? "/" : path.substr(0, slash);
}

FakeTree::FakeTree() {
    const char* tmp = getenv("TMPDIR");
    std::string pattern =
        std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/orbiel-fake-XXXXXX";
    if (::mkdtemp(&pattern[0]) == nullptr)
        throw std::runtime_error("fake kernel: mkdtemp " + pattern + ": " + strerror(errno));
    temp_ = pattern;
}

FakeTree::~FakeTree() { remove_tree(temp_); }

// The tree path shown at `tree`: the longest mounted prefix is replaced once
// by the tree it shows.
std::string FakeTree::shown(const std::string& tree, bool use_mounts) const {
    if (!use_mounts) return tree;
    const Mount* best = nullptr;
    for (const Mount& m : mounts_) {
        if (m.source.empty() || !is_within(tree, m.target)) continue;
        if (best == nullptr || m.target.size() >= best->target.size()) best = &m;
    }
    if (best == nullptr) return tree;
    std::string rest = tree.substr(best->target.size());
    if (best->source == "/") return rest.empty() ? "/" : rest;
    return best->source + rest;
}

std::string FakeTree::host_of(const std::string& tree, bool use_mounts) const {
    std::string t = shown(tree, use_mounts);
    return t == "/" ? temp_ : temp_ + t;
}

std::string FakeTree::box_of(const std::string& tree) const {
    if (root_ == "/" || !is_within(tree, root_)) return tree;
    return tree.size() == root_.size() ? "/" : tree.substr(root_.size());
}

// Walks a path name by name, as the kernel does: ".." stops at the root,
// symbolic links are read from the host tree and followed inside it.
bool FakeTree::walk(const char* path, bool follow_last, const std::string& top,
                    const std::string& here, bool use_mounts, Resolved& out) const {
    if (path == nullptr) return refuse(EFAULT);
    if (*path == '\0') return refuse(ENOENT);
    std::string tree = path[0] == '/' ? top : here;
    std::deque<std::string> names = split_names(path);
    int links = 0;
    while (!names.empty()) {
        std::string name = names.front();
        names.pop_front();
        if (name == ".") continue;
        if (name == "..") {
            if (tree != top && tree != "/") tree = parent_of(tree);
            continue;
        }
        tree = child_of(tree, name);
        if (names.empty() && !follow_last) break;
        std::string host = host_of(tree, use_mounts);
        struct stat st;
        if (::lstat(host.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) continue;
        if (++links > kMaxLinks) return refuse(ELOOP);
        char target[PATH_MAX];
        ssize_t n = ::readlink(host.c_str(), target, sizeof target - 1);
        if (n <= 0) continue;
        target[n] = '\0';
        tree = target[0] == '/' ? top : parent_of(tree);
        std::deque<std::string> more = split_names(target);
        names.insert(names.begin(), more.begin(), more.end());
    }
    out.tree = tree;
    out.host = host_of(tree, use_mounts);
    out.box = box_of(tree);
    return true;
}

bool FakeTree::resolve(const char* path, bool follow_last, Resolved& out) const {
    return walk(path, follow_last, root_, cwd_, true, out);
}

bool FakeTree::find_prepared(const std::string& path, bool follow_last, Resolved& out) const {
    return walk(path.c_str(), follow_last, "/", "/", false, out);
}

FakeTree::Resolved FakeTree::prepared(const std::string& path, bool follow_last) const {
    Resolved out;
    if (!find_prepared(path, follow_last, out))
        throw std::runtime_error("fake kernel: cannot resolve " + path);
    return out;
}

bool FakeTree::resolve_dir(const char* path, Resolved& out) const {
    if (!resolve(path, true, out)) return false;
    struct stat st;
    if (::stat(out.host.c_str(), &st) != 0) return false;
    return S_ISDIR(st.st_mode) || refuse(ENOTDIR);
}

std::vector<FakeTree::Mount>::iterator FakeTree::mounted_at(const std::string& tree) {
    for (auto m = mounts_.rbegin(); m != mounts_.rend(); ++m)
        if (m->target == tree) return std::prev(m.base());
    return mounts_.end();
}

int FakeTree::mount(const char* source, const char* target, unsigned long flags) {
    Resolved t;
    if (!resolve_dir(target, t)) return -1;
    if ((flags & MS_REMOUNT) != 0) {
        if (mounted_at(t.tree) != mounts_.end()) return 0;
        errno = EINVAL;
        return -1;
    }
    if ((flags & (MS_BIND | MS_MOVE)) == 0) {
        mounts_.push_back({t.tree, std::string()});
        return 0;
    }
    Resolved s;
    if (!resolve(source, true, s)) return -1;
    struct stat st;
    if (::stat(s.host.c_str(), &st) != 0) return -1;
    std::string shows = shown(s.tree, true);
    if ((flags & MS_MOVE) != 0) {
        auto old = mounted_at(s.tree);
        if (old != mounts_.end()) mounts_.erase(old);
    }
    // A mount onto "/" does not change what the process sees as its root;
    // only the chroot that follows does.
    mounts_.push_back({t.tree, t.tree == "/" ? std::string() : shows});
    return 0;
}

int FakeTree::umount(const char* target) {
    Resolved t;
    if (!resolve(target, true, t)) return -1;
    auto m = mounted_at(t.tree);
    if (m != mounts_.end()) {
        mounts_.erase(m);
        return 0;
    }
    struct stat st;
    errno = ::stat(t.host.c_str(), &st) == 0 ? EINVAL : ENOENT;
    return -1;
}

int FakeTree::chdir(const char* path) {
    Resolved r;
    if (!resolve_dir(path, r)) return -1;
    cwd_ = r.tree;
    return 0;
}

int FakeTree::chroot(const char* path) {
    Resolved r;
    if (!resolve_dir(path, r)) return -1;
    root_ = r.tree;
    return 0;
}

void FakeTree::add_mount(const std::string& target) {
    Resolved r;
    if (resolve(target.c_str(), true, r)) mounts_.push_back({r.tree, std::string()});
}

}  // namespace ob_test
