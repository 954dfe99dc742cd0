// A recording fake of the kernel seam for unit and sequence tests.
//
// The box's file tree lives in a fresh temporary directory (fake_tree.h):
// every box path is resolved inside it, following chroot, chdir and bind/move
// mounts, so the real obinit and orbiel sequences run unchanged. Privileged calls are
// recorded with their exact arguments in `calls`; everything written to
// descriptors 1 and 2 is captured. Devices (framebuffer, input, front panel,
// video decoder, loop, ...) are objects registered under a box path.
//
// Creating a FakeKernel installs it as ob::kernel(); destroying it restores
// the real kernel and removes the temporary tree.
#pragma once

#include <linux/input.h>
#include <stdint.h>
#include <string.h>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "kernel.h"

namespace ob_test {

// A message line as the programs print a failed call: the prefix, a colon, a
// blank, the C library's own text for err and a line feed. Tests build the
// expected line with it, because the texts differ between C libraries.
inline std::string error_line(const std::string& prefix, int err) {
    return prefix + ": " + strerror(err) + "\n";
}

// Thrown by FakeKernel::execve when the program exists: the exec "worked"
// and the calling code would be gone.
struct ExecCalled {
    std::string path;
    std::vector<std::string> argv;
    std::vector<std::string> envp;
};

// Thrown by FakeKernel::exit and exit_now.
struct ExitCalled {
    int status;
    bool immediate;  // exit_now (_exit) rather than exit
};

// A character or block device behind a box path. Defaults behave like a
// device that accepts writes and answers every ioctl with ENOTTY.
class FakeDevice {
public:
    virtual ~FakeDevice() = default;
    virtual ssize_t read(void* buf, size_t count);         // default: -1 EAGAIN
    virtual ssize_t write(const void* buf, size_t count);  // default: appended to `written`
    virtual int ioctl(unsigned long request, void* arg);   // default: -1 ENOTTY
    virtual void* mmap(size_t length, off_t offset);       // default: MAP_FAILED, EINVAL
    // True when a read would return data at the current virtual time.
    virtual bool readable(int64_t now_ms);
    // Virtual time of the next data, or -1 when none is scheduled.
    virtual int64_t next_ready_ms();

    std::string written;                // every byte written, in order
    std::vector<unsigned long> ioctls;  // every request made through the fake kernel
    int opens = 0;
    int closes = 0;  // last close of an open (dup2 copies share one)
};

class FakeKernel : public ob::Kernel {
public:
    FakeKernel();
    ~FakeKernel() override;
    FakeKernel(const FakeKernel&) = delete;
    FakeKernel& operator=(const FakeKernel&) = delete;

    // ---- Preparing the box's tree (box paths, parents created as needed) ----
    // These helpers see the tree as prepared: the temporary directory is "/",
    // whatever chroot or mounts the code under test has done since. They
    // throw std::runtime_error when the host refuses.
    std::string host_root() const;  // the temporary directory that is the box's "/"
    void write_file(const std::string& path, const std::string& content, mode_t mode = 0644);
    void make_dir(const std::string& path);
    void make_symlink(const std::string& target, const std::string& path);
    // A real FIFO with no writer: a blocking open of it never returns.
    void make_fifo(const std::string& path);
    std::string read_file(const std::string& path) const;  // "" when missing
    bool exists(const std::string& path) const;            // lstat succeeds
    // A device object under path (the path needs no file). The fake keeps it
    // (a device registered again under the same path replaces the old one for
    // later opens). Lookups go by the file the path names, so the device is
    // found through chroot and moved mounts as well.
    template <typename D>
    D& add_device(const std::string& path, std::unique_ptr<D> device) {
        D& ref = *device;
        std::unique_ptr<FakeDevice>& slot = devices_[path];
        if (slot) retired_.push_back(std::move(slot));
        slot = std::move(device);
        on_device_added(ref);
        return ref;
    }
    FakeDevice* device(const std::string& path);

    // ---- Knobs ----
    pid_t pid = 1;
    std::string release = "3.14.28-1.12-dm900";
    bool uname_fails = false;
    // What a shell command does; the default records it and returns 0.
    std::function<int(const std::string& command)> on_system;
    // The child side of fork() is taken when fork_result is 0.
    pid_t fork_result = 4242;
    // Bytes that a node made by mknod at this box path (of the tree as
    // prepared) holds, like a disk partition whose node appears only when
    // the code under test creates it.
    std::map<std::string, std::string> node_content;
    // Runs after every sleep_us (the clock already advanced), e.g. to plug in
    // a late device between two passes of a scan.
    std::function<void(unsigned long microseconds)> on_sleep;
    // Makes the next `times` calls whose recorded line starts with `prefix`
    // fail with `err` (times < 0: every such call).
    void fail(const std::string& prefix, int err, int times = -1);
    // Makes open() of this box path fail with err (the path as passed, or
    // the same path inside the root of the time).
    void fail_open(const std::string& path, int err);
    // The same for opens that ask to write (a file on a read-only medium).
    void fail_open_for_writing(const std::string& path, int err);
    // Declares target (a box path) as mounted already, e.g. "/dev" when the
    // kernel mounted devtmpfs itself; only umount looks at it.
    void add_mount(const std::string& target);

    // ---- What happened ----
    // Privileged calls, one line each, in order, recorded before the call is
    // carried out (so failed calls are recorded too). Paths appear exactly as
    // the caller passed them; strings are in double quotes, a null pointer is
    // NULL; modes are octal with their type bits ("%#o"); open, mount and
    // swapon flags by their names, joined by '|' (bits without a name in hex,
    // no flags at all 0); requests and device numbers hex ("0x%x"); lengths
    // and times decimal:
    //   open("/dev/console", O_RDWR)     opens of devices and the console only
    //   close: not recorded              ioctl("/dev/fb0", 0x4600)  any descriptor
    //   dup2(0, 1)   ftruncate("/path", 0)   fsync("/path")   (path as opened)
    //   flock("/path", LOCK_EX)
    //   mkdir("/media/ob", 0777)   rmdir("/x")   unlink("/x")   umask(0)  umask(022)
    //   rename("a", "b")   link("a", "b")   symlink("target", "path")
    //   mknod("/dev/fb0", 020660, 0x1d00)
    //   mount("/dev/sda1", "/media/ob", "ext4", MS_MGC_VAL|MS_NOATIME|MS_NODIRATIME,
    //         "barrier=1,data=journal")
    //   mount("proc", "/proc", "proc", 0, NULL)   umount("/media/ob")
    //   chdir("/media/ob/ob/img")   chroot(".")
    //   swapon("/media/ob/swapfile", SWAP_FLAG_PREFER)   swapoff("/x")   sync()
    //   system("modprobe lcd")   execve("/sbin/init")   fork()   exit(0)   _exit(6)
    //   sleep(1000000)                   microseconds
    //   mkdirat("/media/ob/ob", ".obadd-1", 0755)   unlinkat("/m/ob", "x", AT_REMOVEDIR)
    //   renameat("/m/ob", "a", "/m/ob", "b")   fchdir("/m/ob/x")   syncfs("/m/ob")
    //                                    the directories as their descriptors were opened
    // Flag names make the traces the same on every platform (O_NONBLOCK, for
    // one, is 0x800 on x86 and 0x80 on mipsel).
    //
    // How the calls behave:
    // - Paths: relative to the fake working directory; "." and ".." folded,
    //   ".." stops at the fake root; symbolic links are followed inside the
    //   box (an absolute target starts at the fake root), never out of it.
    // - Mounts: MS_BIND and MS_MOVE make the target directory show the
    //   source's tree (longest mounted prefix wins); the target and the source
    //   must exist (ENOENT otherwise). A bind or move onto "/" is recorded but
    //   changes nothing: the new root comes into effect through chroot. Other
    //   mounts (proc, sysfs, ext4 of a device, ...) only need an existing
    //   target directory: the test puts their content in the tree itself.
    //   umount of a target that is not mounted fails with EINVAL; add_mount
    //   declares mounts made before the code under test runs.
    // - The *at calls act on the host directory behind the descriptor, one
    //   name below it: mounts made through the fake are not seen there, and
    //   AT_FDCWD is refused (EBADF). openat records nothing, like open.
    // - mknod creates an empty file (EEXIST when the name exists); stat and
    //   lstat report the recorded type, permissions and st_rdev.
    // - execve of an existing file throws ExecCalled, else -1 ENOENT; exit and
    //   exit_now throw ExitCalled; system() calls on_system (0 when unset);
    //   swapon needs an existing file; swapoff always succeeds.
    // - flock locks the host file (so two descriptors of one file exclude
    //   each other as on the box); statvfs reports the host's file system.
    // - Descriptors 0, 1 and 2 start as the console; so does any open of
    //   "/dev/console" (unless a device is registered there).
    std::vector<std::string> calls;
    // false: no call is recorded (nor made to fail by fail()), for
    // measurements, where the fake's bookkeeping is not the measured code's
    // cost.
    bool recording = true;
    // Calls whose line starts with prefix, in order.
    std::vector<std::string> calls_starting(const std::string& prefix) const;
    // Bytes written through a console descriptor: all of them in
    // console_text, in order; those written through descriptor 1 also in
    // stdout_text, through descriptor 2 also in stderr_text.
    std::string stdout_text;
    std::string stderr_text;
    std::string console_text;
    // Recorded mknod: box path (inside the root of the time) -> {mode with
    // type bits, as passed, device number}.
    struct Node {
        mode_t mode;
        dev_t dev;
    };
    std::map<std::string, Node> nodes;

    // ---- Virtual clock ----
    // Starts at 2026-12-07 00:00:00 UTC; sleep_us and poll advance it.
    // time() is now_ms / 1000, monotonic_ms() is now_ms. poll() waits by
    // moving the clock to the next scheduled device data or to its time-out;
    // a wait without time-out for data that never comes fails with EDEADLK.
    int64_t now_ms;
    void advance_ms(int64_t ms) { now_ms += ms; }
    // Every time() and monotonic_ms() call first advances the clock by this
    // much, so that a loop that only watches the clock ends (0: frozen).
    int64_t clock_step_ms = 0;

    // ---- The seam ----
    int open(const char* path, int flags, mode_t mode = 0) override;
    int close(int fd) override;
    ssize_t read(int fd, void* buf, size_t count) override;
    ssize_t write(int fd, const void* buf, size_t count) override;
    off_t lseek(int fd, off_t offset, int whence) override;
    int ftruncate(int fd, off_t length) override;
    int fsync(int fd) override;
    int fstat(int fd, struct stat* st) override;
    int fchmod(int fd, mode_t mode) override;
    int fchown(int fd, uid_t owner, gid_t group) override;
    int fcntl(int fd, int cmd, long arg = 0) override;
    int flock(int fd, int operation) override;
    int dup2(int oldfd, int newfd) override;
    int ioctl(int fd, unsigned long request, void* arg) override;
    int poll(struct pollfd* fds, nfds_t nfds, int timeout_ms) override;
    void* mmap(void* addr, size_t length, int prot, int flags, int fd, off_t offset) override;
    int munmap(void* addr, size_t length) override;
    int stat(const char* path, struct stat* st) override;
    int statvfs(const char* path, struct statvfs* st) override;
    int lstat(const char* path, struct stat* st) override;
    ssize_t readlink(const char* path, char* buf, size_t size) override;
    int mkdir(const char* path, mode_t mode) override;
    int rmdir(const char* path) override;
    int unlink(const char* path) override;
    int rename(const char* from, const char* to) override;
    int link(const char* from, const char* to) override;
    int symlink(const char* target, const char* linkpath) override;
    int mknod(const char* path, mode_t mode, dev_t dev) override;
    mode_t umask(mode_t mask) override;
    int list_dir(const char* path, std::vector<std::string>& names) override;
    int openat(int dirfd, const char* name, int flags, mode_t mode = 0) override;
    int fstatat(int dirfd, const char* name, struct stat* st, int flags) override;
    ssize_t readlinkat(int dirfd, const char* name, char* buf, size_t size) override;
    int mkdirat(int dirfd, const char* name, mode_t mode) override;
    int unlinkat(int dirfd, const char* name, int flags) override;
    int renameat(int olddirfd, const char* oldname, int newdirfd, const char* newname) override;
    int list_dir_at(int dirfd, std::vector<std::string>& names) override;
    int fchdir(int fd) override;
    int syncfs(int fd) override;
    int mount(const char* source, const char* target, const char* type, unsigned long flags,
              const void* data) override;
    int umount(const char* target) override;
    int chdir(const char* path) override;
    int chroot(const char* path) override;
    int swapon(const char* path, int flags) override;
    int swapoff(const char* path) override;
    void sync() override;
    int uname(struct utsname* name) override;
    pid_t getpid() override;
    int execve(const char* path, char* const argv[], char* const envp[]) override;
    int system(const char* command) override;
    pid_t fork() override;
    [[noreturn]] void exit(int status) override;
    [[noreturn]] void exit_now(int status) override;
    void sleep_us(unsigned long microseconds) override;
    time_t time() override;
    int64_t monotonic_ms() override;
    std::string host_path(const char* path) override;

private:
    void on_device_added(FakeDevice& device);
    struct Impl;
    std::unique_ptr<Impl> impl_;
    std::map<std::string, std::unique_ptr<FakeDevice>> devices_;
    std::vector<std::unique_ptr<FakeDevice>> retired_;  // replaced, maybe still open
};

// A scripted input event device (/dev/input/eventN): events become readable
// at their virtual time, one struct input_event per read.
class FakeInputDevice : public FakeDevice {
public:
    explicit FakeInputDevice(std::string name = "dreambox remote control")
        : name(std::move(name)) {}
    // A key press and its release, both readable from virtual time at_ms on
    // (press first): one key stroke is two reads.
    void key(int64_t at_ms, uint16_t code);
    // Events become readable in time order; events of the same time in the
    // order they were added. A read shorter than one event fails with EINVAL.
    void event(int64_t at_ms, uint16_t type, uint16_t code, int32_t value);
    ssize_t read(void* buf, size_t count) override;
    int ioctl(unsigned long request, void* arg) override;  // EVIOCGNAME, EVIOCGID
    bool readable(int64_t now_ms) override;
    int64_t next_ready_ms() override;
    std::string name;
    struct input_id id = {0x19, 0x1, 0x1, 0x100};  // answer to EVIOCGID (BUS_HOST)
    FakeKernel* kernel = nullptr;  // set by the fake when registered; gives the time
    size_t pending() const { return queue_.size(); }

private:
    struct Pending {
        int64_t at_ms;
        struct input_event ev;
    };
    std::vector<Pending> queue_;
};

// An in-memory Linux framebuffer honouring FBIOGET_FSCREENINFO,
// FBIOGET_VSCREENINFO, FBIOPUT_VSCREENINFO (granting `grant_bpp` when set),
// FBIOPUTCMAP, FBIOPAN_DISPLAY, FBIOBLANK and the manual-blit request, and
// mmap of up to smem_len bytes at offset 0.
// A mode change takes xres, yres, the virtual sizes (at least the visible
// ones) and the depth (8, 16 or 32; at most 4096 x 4096), answers with the
// granted mode written back, and sets line_length = xres_virtual * bpp / 8,
// smem_len = line_length * yres_virtual. Colour fields: at 32 bpp those asked
// for (red 0, green 8, blue 16, transp 24 when 32 was not asked), at 16 bpp
// RGB565, at 8 bpp a palette. Every mode gets fresh zeroed memory; memory of
// earlier modes stays allocated, so old mappings never dangle.
class FakeFramebuffer : public FakeDevice {
public:
    FakeFramebuffer(unsigned xres = 1280, unsigned yres = 720, unsigned bpp = 32);
    ~FakeFramebuffer() override;
    int ioctl(unsigned long request, void* arg) override;
    void* mmap(size_t length, off_t offset) override;
    unsigned grant_bpp = 0;  // 0: grant what is asked
    bool fail_put = false;
    // Pixel at (x, y) of the current mode as 32 bits (for 32 bpp), the raw
    // 16-bit value, or the 8-bit index.
    uint32_t pixel(unsigned x, unsigned y) const;
    const uint8_t* memory() const;
    size_t memory_size() const;
    unsigned xres() const;
    unsigned yres() const;
    unsigned bpp() const;
    unsigned line_length() const;
    // Writes the visible screen (32 bpp) to a PNG file for review.
    bool save_png(const std::string& host_file) const;
    std::vector<uint16_t> cmap_red, cmap_green, cmap_blue, cmap_transp;  // last FBIOPUTCMAP
    unsigned cmap_start = 0;
    int manual_blit = -1;  // last FBIO_SET_MANUAL_BLIT argument, -1: never set
    int mode_changes = 0;  // successful FBIOPUT_VSCREENINFO requests

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace ob_test
