// The one seam between Orbiel and the kernel.
//
// Every file, mount, device node, ioctl, mapping, process and clock operation
// of obinit, orbiel and obctl goes through ob::kernel(). On the box it is LinuxKernel,
// a thin forwarder to the system calls. Tests install a recording fake that
// runs the same sequences inside a temporary directory.
//
// Calls mirror their POSIX namesakes: same arguments, same results, failures
// return -1 with errno set. Paths are always the box's own absolute paths.
#pragma once

#include <poll.h>
#include <stddef.h>
#include <stdint.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/types.h>
#include <sys/utsname.h>

#include <string>
#include <vector>

namespace ob {

class Kernel {
public:
    virtual ~Kernel() = default;

    // Files and descriptors.
    virtual int open(const char* path, int flags, mode_t mode = 0) = 0;
    virtual int close(int fd) = 0;
    virtual ssize_t read(int fd, void* buf, size_t count) = 0;
    virtual ssize_t write(int fd, const void* buf, size_t count) = 0;
    virtual off_t lseek(int fd, off_t offset, int whence) = 0;
    virtual int ftruncate(int fd, off_t length) = 0;
    virtual int fsync(int fd) = 0;
    virtual int fstat(int fd, struct stat* st) = 0;
    virtual int fchmod(int fd, mode_t mode) = 0;
    virtual int fchown(int fd, uid_t owner, gid_t group) = 0;
    virtual int fcntl(int fd, int cmd, long arg = 0) = 0;
    virtual int flock(int fd, int operation) = 0;
    virtual int dup2(int oldfd, int newfd) = 0;
    virtual int ioctl(int fd, unsigned long request, void* arg) = 0;
    virtual int poll(struct pollfd* fds, nfds_t nfds, int timeout_ms) = 0;
    virtual void* mmap(void* addr, size_t length, int prot, int flags, int fd, off_t offset) = 0;
    virtual int munmap(void* addr, size_t length) = 0;

    // Names in the file tree.
    virtual int stat(const char* path, struct stat* st) = 0;
    virtual int statvfs(const char* path, struct statvfs* st) = 0;
    virtual int lstat(const char* path, struct stat* st) = 0;
    virtual ssize_t readlink(const char* path, char* buf, size_t size) = 0;
    virtual int mkdir(const char* path, mode_t mode) = 0;
    virtual int rmdir(const char* path) = 0;
    virtual int unlink(const char* path) = 0;
    virtual int rename(const char* from, const char* to) = 0;
    virtual int link(const char* from, const char* to) = 0;
    virtual int symlink(const char* target, const char* linkpath) = 0;
    virtual int mknod(const char* path, mode_t mode, dev_t dev) = 0;
    virtual mode_t umask(mode_t mask) = 0;
    // Names in a directory, "." and ".." left out, in the order the file
    // system gives them. -1 with errno when the directory cannot be read.
    virtual int list_dir(const char* path, std::vector<std::string>& names) = 0;

    // Names in an open directory: one name below the directory dirfd
    // (never AT_FDCWD), so that a tree is walked by handles and no path
    // string is resolved again.
    virtual int openat(int dirfd, const char* name, int flags, mode_t mode = 0) = 0;
    virtual int fstatat(int dirfd, const char* name, struct stat* st, int flags) = 0;
    virtual ssize_t readlinkat(int dirfd, const char* name, char* buf, size_t size) = 0;
    virtual int mkdirat(int dirfd, const char* name, mode_t mode) = 0;
    virtual int unlinkat(int dirfd, const char* name, int flags) = 0;
    virtual int renameat(int olddirfd, const char* oldname, int newdirfd, const char* newname) = 0;
    // The names in the open directory, as list_dir gives them; dirfd's own
    // position is left alone.
    virtual int list_dir_at(int dirfd, std::vector<std::string>& names) = 0;
    virtual int fchdir(int fd) = 0;
    // Flushes the file system that holds fd, not every disk of the box.
    virtual int syncfs(int fd) = 0;

    // Mounts, root and swap.
    virtual int mount(const char* source, const char* target, const char* type, unsigned long flags,
                      const void* data) = 0;
    virtual int umount(const char* target) = 0;
    virtual int chdir(const char* path) = 0;
    virtual int chroot(const char* path) = 0;
    virtual int swapon(const char* path, int flags) = 0;
    virtual int swapoff(const char* path) = 0;
    virtual void sync() = 0;

    // System and processes.
    virtual int uname(struct utsname* name) = 0;
    virtual pid_t getpid() = 0;
    virtual int execve(const char* path, char* const argv[], char* const envp[]) = 0;
    virtual int system(const char* command) = 0;
    virtual pid_t fork() = 0;
    [[noreturn]] virtual void exit(int status) = 0;      // flushes stdio, like exit(3)
    [[noreturn]] virtual void exit_now(int status) = 0;  // _exit(2): for forked children

    // Time.
    virtual void sleep_us(unsigned long microseconds) = 0;
    virtual time_t time() = 0;           // seconds since the epoch
    virtual int64_t monotonic_ms() = 0;  // for waits; never goes back

    // Where a box path lives on the machine running the code, for libraries
    // that open files themselves (FreeType, stdio for the JPEG decoder).
    virtual std::string host_path(const char* path) = 0;
};

// The kernel the programs talk to. LinuxKernel unless a test installs another.
Kernel& kernel();
// Installs k (nullptr restores the real kernel); returns the previous one.
Kernel* set_kernel(Kernel* k);

// Message helpers over kernel().write: both programs print through these so
// that tests see every byte.
void print_to(int fd, const char* text);
// Writes all of data, through short writes; false when a write fails.
bool write_all(int fd, const char* data, size_t size);
void printf_to(int fd, const char* format, ...) __attribute__((format(printf, 2, 3)));
// "prefix: strerror(errno)\n" on standard error, like perror(3).
void print_error(const char* prefix);

}  // namespace ob
