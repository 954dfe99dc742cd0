// A recording fake of the kernel seam for unit and sequence tests.
//
// The box's file tree lives in a fresh temporary directory: every box path is
// resolved inside it, following chroot, chdir and bind/move mounts, so the
// real obinit and orbiel sequences run unchanged. Privileged calls are
// recorded with their exact arguments in `calls`; everything written to
// descriptors 1 and 2 is captured. Devices (framebuffer, input, front panel,
// video decoder, loop, ...) are objects registered under a box path.
//
// Creating a FakeKernel installs it as ob::kernel(); destroying it restores
// the real kernel and removes the temporary tree.
#pragma once

#include <linux/input.h>
#include <stdint.h>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "kernel.h"

namespace ob_test {

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
    virtual int ioctl(unsigned long request, void* arg);   // default: recorded, -1 ENOTTY
    virtual void* mmap(size_t length, off_t offset);       // default: MAP_FAILED, EINVAL
    // True when a read would return data at the current virtual time.
    virtual bool readable(int64_t now_ms);
    // Virtual time of the next data, or -1 when none is scheduled.
    virtual int64_t next_ready_ms();

    std::string written;                // every byte written, in order
    std::vector<unsigned long> ioctls;  // every request number, in order
    int opens = 0;
    int closes = 0;
};

class FakeKernel : public ob::Kernel {
public:
    FakeKernel();
    ~FakeKernel() override;
    FakeKernel(const FakeKernel&) = delete;
    FakeKernel& operator=(const FakeKernel&) = delete;

    // ---- Preparing the box's tree (box paths, parents created as needed) ----
    std::string host_root() const;  // the temporary directory that is the box's "/"
    void write_file(const std::string& path, const std::string& content, mode_t mode = 0644);
    void make_dir(const std::string& path);
    void make_symlink(const std::string& target, const std::string& path);
    std::string read_file(const std::string& path) const;  // "" when missing
    bool exists(const std::string& path) const;            // lstat succeeds
    // A device object under path (the path needs no file). The fake keeps it.
    template <typename D>
    D& add_device(const std::string& path, std::unique_ptr<D> device) {
        D& ref = *device;
        devices_[path] = std::move(device);
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
    // Makes the next `times` calls whose recorded line starts with `prefix`
    // fail with `err` (times < 0: every such call).
    void fail(const std::string& prefix, int err, int times = -1);
    // Makes open() of this box path fail with err.
    void fail_open(const std::string& path, int err);

    // ---- What happened ----
    // Privileged calls, one line each, exactly as made, e.g.
    //   mount("/dev/sda1", "/media/ob", "ext4", 0xc0ed0c00, "barrier=1,data=journal")
    //   mount("proc", "/proc", "proc", 0x0, NULL)
    //   umount("/media/ob")   mknod("/dev/fb0", 020660, 0x1d00)   umask(0)
    //   mkdir("/media/ob", 0777)   rmdir(..)   unlink(..)   rename("a", "b")
    //   link("a", "b")   symlink("target", "path")   chdir("/x")   chroot(".")
    //   swapon("/media/ob/swapfile", 0x8000)   swapoff("/x")   sync()
    //   system("modprobe lcd")   execve("/sbin/init")   sleep(1000000)
    //   fork()   exit(0)   _exit(6)   ioctl("/dev/fb0", 0x4600)
    //   dup2(0, 1)   open("/dev/console", 0x2)   (opens of devices only)
    //   ftruncate("/path", 0)   fsync("/path")
    // Modes are octal with their type bits, flags and device numbers hex.
    std::vector<std::string> calls;
    // Calls whose line starts with prefix, in order.
    std::vector<std::string> calls_starting(const std::string& prefix) const;
    std::string stdout_text;   // descriptor 1
    std::string stderr_text;   // descriptor 2
    std::string console_text;  // 1 and 2 interleaved in order
    // Recorded mknod: box path -> {mode with type bits, device number}.
    struct Node {
        mode_t mode;
        dev_t dev;
    };
    std::map<std::string, Node> nodes;

    // ---- Virtual clock ----
    // Starts at 2026-12-07 00:00:00 UTC; sleep_us and poll advance it.
    int64_t now_ms;
    void advance_ms(int64_t ms) { now_ms += ms; }

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
    int dup2(int oldfd, int newfd) override;
    int ioctl(int fd, unsigned long request, void* arg) override;
    int poll(struct pollfd* fds, nfds_t nfds, int timeout_ms) override;
    void* mmap(void* addr, size_t length, int prot, int flags, int fd, off_t offset) override;
    int munmap(void* addr, size_t length) override;
    int stat(const char* path, struct stat* st) override;
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
    struct Impl;
    std::unique_ptr<Impl> impl_;
    std::map<std::string, std::unique_ptr<FakeDevice>> devices_;
};

// A scripted input event device (/dev/input/eventN): events become readable
// at their virtual time, one struct input_event per read.
class FakeInputDevice : public FakeDevice {
public:
    explicit FakeInputDevice(std::string name = "dreambox remote control")
        : name(std::move(name)) {}
    // A key press and, 100 ms later, its release, at virtual time at_ms.
    void key(int64_t at_ms, uint16_t code);
    void event(int64_t at_ms, uint16_t type, uint16_t code, int32_t value);
    ssize_t read(void* buf, size_t count) override;
    int ioctl(unsigned long request, void* arg) override;  // EVIOCGNAME, EVIOCGID
    bool readable(int64_t now_ms) override;
    int64_t next_ready_ms() override;
    std::string name;
    FakeKernel* kernel = nullptr;  // set by the fake when registered; gives the time

private:
    struct Pending {
        int64_t at_ms;
        struct input_event ev;
    };
    std::vector<Pending> queue_;
};

// An in-memory Linux framebuffer honouring FBIOGET_FSCREENINFO,
// FBIOGET_VSCREENINFO, FBIOPUT_VSCREENINFO (granting `grant_bpp` when set),
// FBIOPUTCMAP and the manual-blit request, and mmap of smem_len bytes.
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

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace ob_test
