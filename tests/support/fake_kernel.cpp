#include "fake_kernel.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdio.h>
#include <string.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/swap.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <stdexcept>

#include "fake_tree.h"

namespace ob_test {

namespace {

// 2026-12-07 00:00:00 UTC.
constexpr int64_t kStartMs = 1796601600000LL;
constexpr int kMaxFds = 1024;

std::string format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
std::string format(const char* fmt, ...) {
    va_list args;
    va_start(args, fmt);
    char small[256];
    int needed = vsnprintf(small, sizeof small, fmt, args);
    va_end(args);
    if (needed < 0) return std::string();
    if (static_cast<size_t>(needed) < sizeof small) return small;
    std::string big(static_cast<size_t>(needed) + 1, '\0');
    va_start(args, fmt);
    vsnprintf(&big[0], big.size(), fmt, args);
    va_end(args);
    big.resize(static_cast<size_t>(needed));
    return big;
}

// Flags written by their names, joined by '|'; bits without a name follow in
// hex. Where a group of bits is one value (an access mode, the magic upper
// half of mount flags), `mask` picks the bits and `value` is what they hold.
struct FlagName {
    unsigned long mask;
    unsigned long value;
    const char* name;
};

template <size_t N>
std::string flag_names(unsigned long flags, const FlagName (&names)[N], const char* none) {
    std::string text;
    for (const FlagName& f : names) {
        if ((flags & f.mask) != f.value || (f.value == 0 && !text.empty())) continue;
        text += (text.empty() ? "" : "|") + std::string(f.name);
        flags &= ~f.mask;
    }
    if (flags != 0) text += (text.empty() ? "" : "|") + format("0x%lx", flags);
    return text.empty() ? none : text;
}

constexpr FlagName mount_flags[] = {
    {0xffff0000ul, MS_MGC_VAL, "MS_MGC_VAL"},
    {MS_RDONLY, MS_RDONLY, "MS_RDONLY"},
    {MS_NOSUID, MS_NOSUID, "MS_NOSUID"},
    {MS_NODEV, MS_NODEV, "MS_NODEV"},
    {MS_NOEXEC, MS_NOEXEC, "MS_NOEXEC"},
    {MS_REMOUNT, MS_REMOUNT, "MS_REMOUNT"},
    {MS_NOATIME, MS_NOATIME, "MS_NOATIME"},
    {MS_NODIRATIME, MS_NODIRATIME, "MS_NODIRATIME"},
    {MS_BIND, MS_BIND, "MS_BIND"},
    {MS_MOVE, MS_MOVE, "MS_MOVE"},
};

constexpr FlagName open_flags[] = {
    {O_ACCMODE, O_RDONLY, "O_RDONLY"},
    {O_ACCMODE, O_WRONLY, "O_WRONLY"},
    {O_ACCMODE, O_RDWR, "O_RDWR"},
    {O_CREAT, O_CREAT, "O_CREAT"},
    {O_EXCL, O_EXCL, "O_EXCL"},
    {O_TRUNC, O_TRUNC, "O_TRUNC"},
    {O_APPEND, O_APPEND, "O_APPEND"},
    {O_NONBLOCK, O_NONBLOCK, "O_NONBLOCK"},
    {O_NOFOLLOW, O_NOFOLLOW, "O_NOFOLLOW"},
    {O_CLOEXEC, O_CLOEXEC, "O_CLOEXEC"},
};

constexpr FlagName lock_operations[] = {
    {LOCK_SH, LOCK_SH, "LOCK_SH"},
    {LOCK_EX, LOCK_EX, "LOCK_EX"},
    {LOCK_UN, LOCK_UN, "LOCK_UN"},
    {LOCK_NB, LOCK_NB, "LOCK_NB"},
};

constexpr FlagName swap_flags[] = {
    {SWAP_FLAG_PREFER, SWAP_FLAG_PREFER, "SWAP_FLAG_PREFER"},
};

std::string quoted(const char* text) {
    return text != nullptr ? "\"" + std::string(text) + "\"" : "NULL";
}

int fail_with(int err) {
    errno = err;
    return -1;
}

}  // namespace

// ---- Default device behaviour ----

ssize_t FakeDevice::read(void*, size_t) { return fail_with(EAGAIN); }
ssize_t FakeDevice::write(const void* buf, size_t count) {
    written.append(static_cast<const char*>(buf), count);
    return static_cast<ssize_t>(count);
}
int FakeDevice::ioctl(unsigned long, void*) { return fail_with(ENOTTY); }
void* FakeDevice::mmap(size_t, off_t) {
    errno = EINVAL;
    return MAP_FAILED;
}
bool FakeDevice::readable(int64_t) { return false; }
int64_t FakeDevice::next_ready_ms() { return -1; }

// ---- The fake's state ----

struct FakeKernel::Impl {
    // One open file description; dup2 copies share it.
    struct Entry {
        enum Kind { kConsole, kFile, kDevice } kind;
        std::string path;  // as passed to open (the registered path for devices)
        std::string host;  // the host file behind it
        int host_fd = -1;
        FakeDevice* device = nullptr;
        int flags = 0;
        ~Entry() {
            if (host_fd >= 0) ::close(host_fd);
            if (device != nullptr) ++device->closes;
        }
    };
    struct FailRule {
        std::string prefix;
        int err;
        int times;
    };
    using Resolved = FakeTree::Resolved;

    FakeKernel& self;
    FakeTree tree;
    std::vector<std::shared_ptr<Entry>> fds;
    std::map<std::string, Node> host_nodes;  // host file -> recorded node
    std::vector<FailRule> fail_rules;
    std::map<std::string, int> open_failures;
    std::map<std::string, int> write_open_failures;
    std::map<void*, size_t> host_maps;
    mode_t mask = 022;
    unsigned long spare_us = 0;
    ob::Kernel* previous = nullptr;

    explicit Impl(FakeKernel& k) : self(k) {}

    // Records a call; returns the error to fail it with, or 0.
    int note(const std::string& line) {
        if (!self.recording) return 0;
        self.calls.push_back(line);
        for (FailRule& rule : fail_rules) {
            if (rule.times == 0 || line.compare(0, rule.prefix.size(), rule.prefix) != 0) continue;
            if (rule.times > 0) --rule.times;
            return rule.err;
        }
        return 0;
    }

    // Records a call and resolves its path: false (errno set) when the call
    // is to fail or the path does not resolve.
    bool enter(const std::string& line, const char* path, bool follow_last, Resolved& out) {
        if (int err = note(line)) {
            errno = err;
            return false;
        }
        return tree.resolve(path, follow_last, out);
    }

    FakeDevice* device_at(const std::string& host) const {
        for (const auto& entry : self.devices_) {
            Resolved r;
            if (tree.find_prepared(entry.first, true, r) && r.host == host)
                return entry.second.get();
        }
        return nullptr;
    }
    std::string device_path(const FakeDevice* device) const {
        for (const auto& entry : self.devices_)
            if (entry.second.get() == device) return entry.first;
        return std::string();
    }

    Entry* entry(int fd) const {
        if (fd < 0 || static_cast<size_t>(fd) >= fds.size()) return nullptr;
        return fds[static_cast<size_t>(fd)].get();
    }

    int install(std::shared_ptr<Entry> e, int lowest = 0) {
        for (int fd = lowest; fd < kMaxFds; ++fd) {
            if (static_cast<size_t>(fd) >= fds.size()) fds.resize(static_cast<size_t>(fd) + 1);
            if (!fds[static_cast<size_t>(fd)]) {
                fds[static_cast<size_t>(fd)] = std::move(e);
                return fd;
            }
        }
        return fail_with(EMFILE);
    }

    std::shared_ptr<Entry> console() const {
        auto e = std::make_shared<Entry>();
        e->kind = Entry::kConsole;
        e->path = "/dev/console";
        e->flags = O_RDWR;
        return e;
    }

    // Overlays a recorded node on what the host says about its stand-in file.
    void overlay_node(const std::string& host, struct stat* st) const {
        auto node = host_nodes.find(host);
        if (node == host_nodes.end()) return;
        st->st_mode = (node->second.mode & S_IFMT) | (node->second.mode & 07777 & ~mask);
        st->st_rdev = node->second.dev;
    }

    int stat_host(const std::string& host, struct stat* st, bool follow) const {
        int rc = follow ? ::stat(host.c_str(), st) : ::lstat(host.c_str(), st);
        if (rc == 0) {
            overlay_node(host, st);
            return 0;
        }
        if (device_at(host) == nullptr) return -1;
        memset(st, 0, sizeof *st);
        st->st_mode = S_IFCHR | 0660;
        return 0;
    }
};

// ---- Life cycle ----

FakeKernel::FakeKernel() : now_ms(kStartMs), impl_(new Impl(*this)) {
    for (int fd = 0; fd < 3; ++fd)
        impl_->install(impl_->console());
    impl_->previous = ob::set_kernel(this);
}

FakeKernel::~FakeKernel() {
    ob::set_kernel(impl_->previous);
    impl_->fds.clear();
    for (const auto& map : impl_->host_maps)
        ::munmap(map.first, map.second);
}

void FakeKernel::on_device_added(FakeDevice& device) {
    if (auto* input = dynamic_cast<FakeInputDevice*>(&device)) input->kernel = this;
}

// ---- Preparing the tree ----

std::string FakeKernel::host_root() const { return impl_->tree.host_root(); }

void FakeKernel::make_dir(const std::string& path) {
    std::string so_far;
    for (const std::string& name : split_names(path)) {
        so_far += "/" + name;
        Impl::Resolved r = impl_->tree.prepared(so_far, true);
        if (::mkdir(r.host.c_str(), 0755) != 0 && errno != EEXIST)
            throw std::runtime_error("fake kernel: mkdir " + so_far + ": " + strerror(errno));
    }
}

void FakeKernel::write_file(const std::string& path, const std::string& content, mode_t mode) {
    make_dir(parent_of(path));
    Impl::Resolved r = impl_->tree.prepared(path, true);
    int fd = ::open(r.host.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    bool ok = fd >= 0;
    for (size_t done = 0; ok && done < content.size();) {
        ssize_t n = ::write(fd, content.data() + done, content.size() - done);
        ok = n > 0;
        if (ok) done += static_cast<size_t>(n);
    }
    if (fd >= 0) ok = ::fchmod(fd, mode) == 0 && ok;
    if (fd >= 0) ::close(fd);
    if (!ok) throw std::runtime_error("fake kernel: write " + path + ": " + strerror(errno));
}

void FakeKernel::make_symlink(const std::string& target, const std::string& path) {
    make_dir(parent_of(path));
    Impl::Resolved r = impl_->tree.prepared(path, false);
    if (::symlink(target.c_str(), r.host.c_str()) != 0)
        throw std::runtime_error("fake kernel: symlink " + path + ": " + strerror(errno));
}

void FakeKernel::make_fifo(const std::string& path) {
    make_dir(parent_of(path));
    Impl::Resolved r = impl_->tree.prepared(path, false);
    if (::mkfifo(r.host.c_str(), 0644) != 0)
        throw std::runtime_error("fake kernel: mkfifo " + path + ": " + strerror(errno));
}

std::string FakeKernel::read_file(const std::string& path) const {
    Impl::Resolved r;
    if (!impl_->tree.find_prepared(path, true, r)) return std::string();
    int fd = ::open(r.host.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return std::string();
    std::string content;
    char buf[4096];
    ssize_t n;
    while ((n = ::read(fd, buf, sizeof buf)) > 0)
        content.append(buf, static_cast<size_t>(n));
    ::close(fd);
    return content;
}

bool FakeKernel::exists(const std::string& path) const {
    Impl::Resolved r;
    struct stat st;
    return impl_->tree.find_prepared(path, false, r) && ::lstat(r.host.c_str(), &st) == 0;
}

FakeDevice* FakeKernel::device(const std::string& path) {
    auto found = devices_.find(path);
    return found != devices_.end() ? found->second.get() : nullptr;
}

// ---- Knobs and records ----

void FakeKernel::fail(const std::string& prefix, int err, int times) {
    impl_->fail_rules.push_back({prefix, err, times});
}

void FakeKernel::fail_open(const std::string& path, int err) { impl_->open_failures[path] = err; }
void FakeKernel::fail_open_for_writing(const std::string& path, int err) {
    impl_->write_open_failures[path] = err;
}

void FakeKernel::add_mount(const std::string& target) { impl_->tree.add_mount(target); }

std::vector<std::string> FakeKernel::calls_starting(const std::string& prefix) const {
    std::vector<std::string> found;
    for (const std::string& line : calls)
        if (line.compare(0, prefix.size(), prefix) == 0) found.push_back(line);
    return found;
}

// ---- Descriptors ----

int FakeKernel::open(const char* path, int flags, mode_t mode) {
    using Entry = Impl::Entry;
    Impl::Resolved r;
    if (!impl_->tree.resolve(path, (flags & O_NOFOLLOW) == 0, r)) return -1;
    FakeDevice* dev = impl_->device_at(r.host);
    bool console = dev == nullptr && r.box == "/dev/console";
    if ((dev != nullptr || console) && recording) {
        const std::string line =
            format("open(\"%s\", %s)", path, flag_names(flags, open_flags, "0").c_str());
        if (int err = impl_->note(line)) return fail_with(err);
    }
    for (const std::string& name : {std::string(path), r.box}) {
        auto failure = impl_->open_failures.find(name);
        if (failure != impl_->open_failures.end()) return fail_with(failure->second);
        failure = impl_->write_open_failures.find(name);
        if (failure != impl_->write_open_failures.end() && (flags & O_ACCMODE) != O_RDONLY)
            return fail_with(failure->second);
    }
    if (console) {
        auto e = impl_->console();
        e->flags = flags;
        return impl_->install(e);
    }
    auto e = std::make_shared<Entry>();
    e->path = path;
    e->host = r.host;
    e->flags = flags;
    if (dev != nullptr) {
        e->kind = Entry::kDevice;
        e->path = impl_->device_path(dev);
        e->device = dev;
        ++dev->opens;
        return impl_->install(e);
    }
    struct stat before;
    bool existed = ::lstat(r.host.c_str(), &before) == 0;
    e->kind = Entry::kFile;
    e->host_fd = ::open(r.host.c_str(), flags | O_CLOEXEC, mode);
    if (e->host_fd < 0) return -1;
    if (!existed && (flags & O_CREAT) != 0) ::fchmod(e->host_fd, mode & 07777 & ~impl_->mask);
    return impl_->install(e);
}

int FakeKernel::close(int fd) {
    if (impl_->entry(fd) == nullptr) return fail_with(EBADF);
    impl_->fds[static_cast<size_t>(fd)].reset();
    return 0;
}

ssize_t FakeKernel::read(int fd, void* buf, size_t count) {
    Impl::Entry* e = impl_->entry(fd);
    if (e == nullptr) return fail_with(EBADF);
    switch (e->kind) {
        case Impl::Entry::kConsole:
            return 0;
        case Impl::Entry::kFile:
            return ::read(e->host_fd, buf, count);
        case Impl::Entry::kDevice:
            return e->device->read(buf, count);
    }
    return fail_with(EBADF);
}

ssize_t FakeKernel::write(int fd, const void* buf, size_t count) {
    Impl::Entry* e = impl_->entry(fd);
    if (e == nullptr) return fail_with(EBADF);
    switch (e->kind) {
        case Impl::Entry::kConsole: {
            const char* bytes = static_cast<const char*>(buf);
            console_text.append(bytes, count);
            if (fd == 1) stdout_text.append(bytes, count);
            if (fd == 2) stderr_text.append(bytes, count);
            return static_cast<ssize_t>(count);
        }
        case Impl::Entry::kFile:
            return ::write(e->host_fd, buf, count);
        case Impl::Entry::kDevice:
            return e->device->write(buf, count);
    }
    return fail_with(EBADF);
}

off_t FakeKernel::lseek(int fd, off_t offset, int whence) {
    Impl::Entry* e = impl_->entry(fd);
    if (e == nullptr) return fail_with(EBADF);
    if (e->kind != Impl::Entry::kFile) return fail_with(ESPIPE);
    return ::lseek(e->host_fd, offset, whence);
}

int FakeKernel::ftruncate(int fd, off_t length) {
    Impl::Entry* e = impl_->entry(fd);
    if (e == nullptr) return fail_with(EBADF);
    std::string line =
        format("ftruncate(\"%s\", %lld)", e->path.c_str(), static_cast<long long>(length));
    if (int err = impl_->note(line)) return fail_with(err);
    if (e->kind != Impl::Entry::kFile) return fail_with(EINVAL);
    return ::ftruncate(e->host_fd, length);
}

int FakeKernel::fsync(int fd) {
    Impl::Entry* e = impl_->entry(fd);
    if (e == nullptr) return fail_with(EBADF);
    if (int err = impl_->note(format("fsync(\"%s\")", e->path.c_str()))) return fail_with(err);
    return e->kind == Impl::Entry::kFile ? ::fsync(e->host_fd) : 0;
}

int FakeKernel::fstat(int fd, struct stat* st) {
    Impl::Entry* e = impl_->entry(fd);
    if (e == nullptr) return fail_with(EBADF);
    if (e->kind == Impl::Entry::kFile) {
        if (::fstat(e->host_fd, st) != 0) return -1;
        impl_->overlay_node(e->host, st);
        return 0;
    }
    memset(st, 0, sizeof *st);
    st->st_mode = S_IFCHR | 0600;
    if (e->kind == Impl::Entry::kConsole) st->st_rdev = makedev(5, 1);
    impl_->overlay_node(e->host, st);
    return 0;
}

int FakeKernel::fchmod(int fd, mode_t mode) {
    Impl::Entry* e = impl_->entry(fd);
    if (e == nullptr) return fail_with(EBADF);
    return e->kind == Impl::Entry::kFile ? ::fchmod(e->host_fd, mode) : 0;
}

int FakeKernel::fchown(int fd, uid_t, gid_t) {
    // Ownership is not modelled: the tests need not run as root.
    return impl_->entry(fd) != nullptr ? 0 : fail_with(EBADF);
}

int FakeKernel::fcntl(int fd, int cmd, long arg) {
    Impl::Entry* e = impl_->entry(fd);
    if (e == nullptr) return fail_with(EBADF);
    if (cmd == F_DUPFD || cmd == F_DUPFD_CLOEXEC) {
        if (arg < 0 || arg >= kMaxFds) return fail_with(EINVAL);
        return impl_->install(impl_->fds[static_cast<size_t>(fd)], static_cast<int>(arg));
    }
    if (e->kind == Impl::Entry::kFile && cmd != F_GETFD && cmd != F_SETFD)
        return ::fcntl(e->host_fd, cmd, arg);
    if (cmd == F_GETFL) return e->flags;
    if (cmd == F_SETFL) e->flags = (e->flags & O_ACCMODE) | (static_cast<int>(arg) & ~O_ACCMODE);
    return 0;
}

int FakeKernel::flock(int fd, int operation) {
    Impl::Entry* e = impl_->entry(fd);
    if (e == nullptr) return fail_with(EBADF);
    const std::string line =
        format("flock(\"%s\", %s)", e->path.c_str(),
               flag_names(static_cast<unsigned>(operation), lock_operations, "0").c_str());
    if (int err = impl_->note(line)) return fail_with(err);
    return e->kind == Impl::Entry::kFile ? ::flock(e->host_fd, operation) : 0;
}

int FakeKernel::dup2(int oldfd, int newfd) {
    if (int err = impl_->note(format("dup2(%d, %d)", oldfd, newfd))) return fail_with(err);
    if (impl_->entry(oldfd) == nullptr || newfd < 0 || newfd >= kMaxFds) return fail_with(EBADF);
    if (oldfd == newfd) return newfd;
    if (static_cast<size_t>(newfd) >= impl_->fds.size())
        impl_->fds.resize(static_cast<size_t>(newfd) + 1);
    impl_->fds[static_cast<size_t>(newfd)] = impl_->fds[static_cast<size_t>(oldfd)];
    return newfd;
}

int FakeKernel::ioctl(int fd, unsigned long request, void* arg) {
    Impl::Entry* e = impl_->entry(fd);
    if (e == nullptr) return fail_with(EBADF);
    if (recording) {
        if (int err = impl_->note(format("ioctl(\"%s\", 0x%lx)", e->path.c_str(), request)))
            return fail_with(err);
    }
    switch (e->kind) {
        case Impl::Entry::kConsole:
            return 0;
        case Impl::Entry::kFile:
            return fail_with(ENOTTY);
        case Impl::Entry::kDevice:
            e->device->ioctls.push_back(request);
            return e->device->ioctl(request, arg);
    }
    return fail_with(EBADF);
}

int FakeKernel::poll(struct pollfd* fds, nfds_t nfds, int timeout_ms) {
    for (;;) {
        int ready = 0;
        int64_t next = -1;
        for (nfds_t i = 0; i < nfds; ++i) {
            struct pollfd& p = fds[i];
            p.revents = 0;
            if (p.fd < 0) continue;
            Impl::Entry* e = impl_->entry(p.fd);
            if (e == nullptr) {
                p.revents = POLLNVAL;
            } else if (e->kind == Impl::Entry::kFile) {
                p.revents = static_cast<short>(p.events & (POLLIN | POLLOUT));
            } else if (e->kind == Impl::Entry::kConsole) {
                p.revents = static_cast<short>(p.events & POLLOUT);
            } else {
                short in = e->device->readable(now_ms) ? POLLIN : 0;
                p.revents = static_cast<short>(p.events & (in | POLLOUT));
                int64_t at = e->device->next_ready_ms();
                if (at > now_ms && (next < 0 || at < next)) next = at;
            }
            if (p.revents != 0) ++ready;
        }
        if (ready > 0 || timeout_ms == 0) return ready;
        int64_t deadline = timeout_ms > 0 ? now_ms + timeout_ms : -1;
        if (next >= 0 && (deadline < 0 || next < deadline)) {
            if (deadline >= 0) timeout_ms = static_cast<int>(deadline - next);
            now_ms = next;
        } else if (deadline >= 0) {
            now_ms = deadline;
            timeout_ms = 0;  // one last look at the deadline itself
        } else {
            return fail_with(EDEADLK);  // would wait forever
        }
    }
}

void* FakeKernel::mmap(void* addr, size_t length, int prot, int flags, int fd, off_t offset) {
    Impl::Entry* e = impl_->entry(fd);
    if (e == nullptr) {
        errno = EBADF;
        return MAP_FAILED;
    }
    if (e->kind == Impl::Entry::kDevice) return e->device->mmap(length, offset);
    if (e->kind == Impl::Entry::kConsole) {
        errno = ENODEV;
        return MAP_FAILED;
    }
    void* at = ::mmap(addr, length, prot, flags, e->host_fd, offset);
    if (at != MAP_FAILED) impl_->host_maps[at] = length;
    return at;
}

int FakeKernel::munmap(void* addr, size_t length) {
    auto found = impl_->host_maps.find(addr);
    if (found == impl_->host_maps.end()) return 0;  // device memory: the device owns it
    impl_->host_maps.erase(found);
    return ::munmap(addr, length);
}

// ---- Names ----

int FakeKernel::stat(const char* path, struct stat* st) {
    Impl::Resolved r;
    if (!impl_->tree.resolve(path, true, r)) return -1;
    return impl_->stat_host(r.host, st, true);
}

int FakeKernel::statvfs(const char* path, struct statvfs* st) {
    Impl::Resolved r;
    if (!impl_->tree.resolve(path, true, r)) return -1;
    return ::statvfs(r.host.c_str(), st);
}

int FakeKernel::lstat(const char* path, struct stat* st) {
    Impl::Resolved r;
    if (!impl_->tree.resolve(path, false, r)) return -1;
    return impl_->stat_host(r.host, st, false);
}

ssize_t FakeKernel::readlink(const char* path, char* buf, size_t size) {
    Impl::Resolved r;
    if (!impl_->tree.resolve(path, false, r)) return -1;
    return ::readlink(r.host.c_str(), buf, size);
}

int FakeKernel::mkdir(const char* path, mode_t mode) {
    Impl::Resolved r;
    if (!impl_->enter(format("mkdir(%s, %#o)", quoted(path).c_str(), mode), path, false, r))
        return -1;
    if (::mkdir(r.host.c_str(), 0700) != 0) return -1;
    ::chmod(r.host.c_str(), mode & 07777 & ~impl_->mask);
    return 0;
}

int FakeKernel::rmdir(const char* path) {
    Impl::Resolved r;
    if (!impl_->enter(format("rmdir(%s)", quoted(path).c_str()), path, false, r)) return -1;
    return ::rmdir(r.host.c_str());
}

int FakeKernel::unlink(const char* path) {
    Impl::Resolved r;
    if (!impl_->enter(format("unlink(%s)", quoted(path).c_str()), path, false, r)) return -1;
    if (::unlink(r.host.c_str()) != 0) return -1;
    impl_->host_nodes.erase(r.host);
    return 0;
}

int FakeKernel::rename(const char* from, const char* to) {
    std::string line = format("rename(%s, %s)", quoted(from).c_str(), quoted(to).c_str());
    Impl::Resolved a, b;
    if (!impl_->enter(line, from, false, a) || !impl_->tree.resolve(to, false, b)) return -1;
    if (::rename(a.host.c_str(), b.host.c_str()) != 0) return -1;
    auto node = impl_->host_nodes.find(a.host);
    impl_->host_nodes.erase(b.host);
    if (node != impl_->host_nodes.end()) {
        impl_->host_nodes[b.host] = node->second;
        impl_->host_nodes.erase(a.host);
    }
    return 0;
}

int FakeKernel::link(const char* from, const char* to) {
    std::string line = format("link(%s, %s)", quoted(from).c_str(), quoted(to).c_str());
    Impl::Resolved a, b;
    if (!impl_->enter(line, from, false, a) || !impl_->tree.resolve(to, false, b)) return -1;
    return ::link(a.host.c_str(), b.host.c_str());
}

int FakeKernel::symlink(const char* target, const char* linkpath) {
    std::string line = format("symlink(%s, %s)", quoted(target).c_str(), quoted(linkpath).c_str());
    if (int err = impl_->note(line)) return fail_with(err);
    if (target == nullptr) return fail_with(EFAULT);
    Impl::Resolved r;
    if (!impl_->tree.resolve(linkpath, false, r)) return -1;
    return ::symlink(target, r.host.c_str());
}

int FakeKernel::mknod(const char* path, mode_t mode, dev_t dev) {
    std::string line = format("mknod(%s, %#o, 0x%llx)", quoted(path).c_str(), mode,
                              static_cast<unsigned long long>(dev));
    Impl::Resolved r;
    if (!impl_->enter(line, path, false, r)) return -1;
    int fd = ::open(r.host.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) return -1;
    for (const auto& content : node_content) {
        Impl::Resolved c;
        if (!impl_->tree.find_prepared(content.first, true, c) || c.host != r.host) continue;
        if (::write(fd, content.second.data(), content.second.size()) !=
            static_cast<ssize_t>(content.second.size()))
            throw std::runtime_error("fake kernel: node content of " + content.first);
    }
    ::close(fd);
    impl_->host_nodes[r.host] = {mode, dev};
    nodes[r.box] = {mode, dev};
    return 0;
}

mode_t FakeKernel::umask(mode_t mask) {
    impl_->note(format("umask(%#o)", mask));
    mode_t old = impl_->mask;
    impl_->mask = mask & 0777;
    return old;
}

int FakeKernel::list_dir(const char* path, std::vector<std::string>& names) {
    names.clear();
    Impl::Resolved r;
    if (!impl_->tree.resolve(path, true, r)) return -1;
    DIR* dir = ::opendir(r.host.c_str());
    if (dir == nullptr) return -1;
    while (struct dirent64* entry = ::readdir64(dir)) {
        if (strcmp(entry->d_name, ".") == 0 || strcmp(entry->d_name, "..") == 0) continue;
        names.emplace_back(entry->d_name);
    }
    ::closedir(dir);
    return 0;
}

// ---- Names below an open directory ----

int FakeKernel::openat(int dirfd, const char* name, int flags, mode_t mode) {
    Impl::Entry* dir = impl_->entry(dirfd);
    if (dir == nullptr || dir->kind != Impl::Entry::kFile) return fail_with(EBADF);
    auto e = std::make_shared<Impl::Entry>();
    e->kind = Impl::Entry::kFile;
    e->path = dir->path;
    e->host = dir->host;
    if (strcmp(name, "..") == 0) {
        e->path = e->path.substr(0, e->path.rfind('/'));
        e->host = e->host.substr(0, e->host.rfind('/'));
    } else if (strcmp(name, ".") != 0) {
        e->path += std::string("/") + name;
        e->host += std::string("/") + name;
    }
    e->flags = flags;
    struct stat before;
    const bool existed = ::fstatat(dir->host_fd, name, &before, AT_SYMLINK_NOFOLLOW) == 0;
    e->host_fd = ::openat(dir->host_fd, name, flags | O_CLOEXEC, mode);
    if (e->host_fd < 0) return -1;
    if (!existed && (flags & O_CREAT) != 0) ::fchmod(e->host_fd, mode & 07777 & ~impl_->mask);
    return impl_->install(e);
}

int FakeKernel::fstatat(int dirfd, const char* name, struct stat* st, int flags) {
    Impl::Entry* dir = impl_->entry(dirfd);
    if (dir == nullptr || dir->kind != Impl::Entry::kFile) return fail_with(EBADF);
    if (::fstatat(dir->host_fd, name, st, flags) != 0) return -1;
    impl_->overlay_node(dir->host + "/" + name, st);
    return 0;
}

ssize_t FakeKernel::readlinkat(int dirfd, const char* name, char* buf, size_t size) {
    Impl::Entry* dir = impl_->entry(dirfd);
    if (dir == nullptr || dir->kind != Impl::Entry::kFile) return fail_with(EBADF);
    return ::readlinkat(dir->host_fd, name, buf, size);
}

int FakeKernel::mkdirat(int dirfd, const char* name, mode_t mode) {
    Impl::Entry* dir = impl_->entry(dirfd);
    if (dir == nullptr || dir->kind != Impl::Entry::kFile) return fail_with(EBADF);
    if (int err = impl_->note(format("mkdirat(%s, %s, %#o)", quoted(dir->path.c_str()).c_str(),
                                     quoted(name).c_str(), mode)))
        return fail_with(err);
    if (::mkdirat(dir->host_fd, name, 0700) != 0) return -1;
    ::fchmodat(dir->host_fd, name, mode & 07777 & ~impl_->mask, 0);
    return 0;
}

int FakeKernel::unlinkat(int dirfd, const char* name, int flags) {
    Impl::Entry* dir = impl_->entry(dirfd);
    if (dir == nullptr || dir->kind != Impl::Entry::kFile) return fail_with(EBADF);
    if (int err = impl_->note(format("unlinkat(%s, %s, %s)", quoted(dir->path.c_str()).c_str(),
                                     quoted(name).c_str(),
                                     (flags & AT_REMOVEDIR) != 0 ? "AT_REMOVEDIR" : "0")))
        return fail_with(err);
    if (::unlinkat(dir->host_fd, name, flags) != 0) return -1;
    impl_->host_nodes.erase(dir->host + "/" + name);
    return 0;
}

int FakeKernel::renameat(int olddirfd, const char* oldname, int newdirfd, const char* newname) {
    Impl::Entry* from = impl_->entry(olddirfd);
    Impl::Entry* to = impl_->entry(newdirfd);
    if (from == nullptr || to == nullptr || from->kind != Impl::Entry::kFile ||
        to->kind != Impl::Entry::kFile)
        return fail_with(EBADF);
    if (int err = impl_->note(format("renameat(%s, %s, %s, %s)", quoted(from->path.c_str()).c_str(),
                                     quoted(oldname).c_str(), quoted(to->path.c_str()).c_str(),
                                     quoted(newname).c_str())))
        return fail_with(err);
    return ::renameat(from->host_fd, oldname, to->host_fd, newname);
}

int FakeKernel::list_dir_at(int dirfd, std::vector<std::string>& names) {
    names.clear();
    Impl::Entry* dir = impl_->entry(dirfd);
    if (dir == nullptr || dir->kind != Impl::Entry::kFile) return fail_with(EBADF);
    const int own = ::openat(dir->host_fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* listing = own >= 0 ? ::fdopendir(own) : nullptr;
    if (listing == nullptr) {
        if (own >= 0) ::close(own);
        return -1;
    }
    while (struct dirent64* entry = ::readdir64(listing)) {
        if (strcmp(entry->d_name, ".") == 0 || strcmp(entry->d_name, "..") == 0) continue;
        names.emplace_back(entry->d_name);
    }
    ::closedir(listing);
    return 0;
}

int FakeKernel::fchdir(int fd) {
    Impl::Entry* dir = impl_->entry(fd);
    if (dir == nullptr || dir->kind != Impl::Entry::kFile) return fail_with(EBADF);
    if (int err = impl_->note(format("fchdir(%s)", quoted(dir->path.c_str()).c_str())))
        return fail_with(err);
    return impl_->tree.chdir(dir->path.c_str());
}

int FakeKernel::syncfs(int fd) {
    Impl::Entry* e = impl_->entry(fd);
    if (e == nullptr) return fail_with(EBADF);
    if (int err = impl_->note(format("syncfs(%s)", quoted(e->path.c_str()).c_str())))
        return fail_with(err);
    return 0;
}

// ---- Mounts, root and swap ----

int FakeKernel::mount(const char* source, const char* target, const char* type, unsigned long flags,
                      const void* data) {
    std::string line =
        format("mount(%s, %s, %s, %s, %s)", quoted(source).c_str(), quoted(target).c_str(),
               quoted(type).c_str(), flag_names(flags, mount_flags, "0").c_str(),
               quoted(static_cast<const char*>(data)).c_str());
    if (int err = impl_->note(line)) return fail_with(err);
    return impl_->tree.mount(source, target, flags);
}

int FakeKernel::umount(const char* target) {
    if (int err = impl_->note(format("umount(%s)", quoted(target).c_str()))) return fail_with(err);
    return impl_->tree.umount(target);
}

int FakeKernel::chdir(const char* path) {
    if (int err = impl_->note(format("chdir(%s)", quoted(path).c_str()))) return fail_with(err);
    return impl_->tree.chdir(path);
}

int FakeKernel::chroot(const char* path) {
    if (int err = impl_->note(format("chroot(%s)", quoted(path).c_str()))) return fail_with(err);
    return impl_->tree.chroot(path);
}

int FakeKernel::swapon(const char* path, int flags) {
    std::string line = format("swapon(%s, %s)", quoted(path).c_str(),
                              flag_names(static_cast<unsigned>(flags), swap_flags, "0").c_str());
    Impl::Resolved r;
    struct stat st;
    if (!impl_->enter(line, path, true, r) || ::stat(r.host.c_str(), &st) != 0) return -1;
    return 0;
}

int FakeKernel::swapoff(const char* path) {
    if (int err = impl_->note(format("swapoff(%s)", quoted(path).c_str()))) return fail_with(err);
    return 0;
}

void FakeKernel::sync() { impl_->note("sync()"); }

// ---- System and processes ----

int FakeKernel::uname(struct utsname* name) {
    if (uname_fails) return fail_with(EFAULT);
    memset(name, 0, sizeof *name);
    snprintf(name->sysname, sizeof name->sysname, "%s", "Linux");
    snprintf(name->nodename, sizeof name->nodename, "%s", "dreambox");
    snprintf(name->release, sizeof name->release, "%s", release.c_str());
    snprintf(name->version, sizeof name->version, "%s", "#1 SMP");
    snprintf(name->machine, sizeof name->machine, "%s", "mips");
    return 0;
}

pid_t FakeKernel::getpid() { return pid; }

int FakeKernel::execve(const char* path, char* const argv[], char* const envp[]) {
    Impl::Resolved r;
    if (!impl_->enter(format("execve(%s)", quoted(path).c_str()), path, true, r)) return -1;
    struct stat st;
    if (::stat(r.host.c_str(), &st) != 0) return fail_with(ENOENT);
    if (!S_ISREG(st.st_mode)) return fail_with(EACCES);
    ExecCalled exec{path, {}, {}};
    for (char* const* a = argv; a != nullptr && *a != nullptr; ++a)
        exec.argv.emplace_back(*a);
    for (char* const* e = envp; e != nullptr && *e != nullptr; ++e)
        exec.envp.emplace_back(*e);
    throw exec;
}

int FakeKernel::system(const char* command) {
    if (int err = impl_->note(format("system(%s)", quoted(command).c_str()))) return fail_with(err);
    if (command == nullptr) return 1;  // "a shell is available"
    return on_system ? on_system(command) : 0;
}

pid_t FakeKernel::fork() {
    if (int err = impl_->note("fork()")) return fail_with(err);
    return fork_result;
}

void FakeKernel::exit(int status) {
    impl_->note(format("exit(%d)", status));
    throw ExitCalled{status, false};
}

void FakeKernel::exit_now(int status) {
    impl_->note(format("_exit(%d)", status));
    throw ExitCalled{status, true};
}

// ---- Time ----

void FakeKernel::sleep_us(unsigned long microseconds) {
    impl_->note(format("sleep(%lu)", microseconds));
    impl_->spare_us += microseconds % 1000;
    now_ms += static_cast<int64_t>(microseconds / 1000 + impl_->spare_us / 1000);
    impl_->spare_us %= 1000;
    if (on_sleep) on_sleep(microseconds);
}

time_t FakeKernel::time() {
    now_ms += clock_step_ms;
    return static_cast<time_t>(now_ms / 1000);
}

int64_t FakeKernel::monotonic_ms() {
    now_ms += clock_step_ms;
    return now_ms;
}

std::string FakeKernel::host_path(const char* path) {
    Impl::Resolved r;
    return impl_->tree.resolve(path, true, r) ? r.host : impl_->tree.host_root() + "/.unresolvable";
}

}  // namespace ob_test
