// The real kernel: every call goes straight to the system call of its name.
#pragma once

#include "kernel.h"

namespace ob {

class LinuxKernel : public Kernel {
public:
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
};

}  // namespace ob
