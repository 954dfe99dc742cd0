#include "linux_kernel.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/mount.h>
#include <sys/swap.h>
#include <sys/sysmacros.h>
#include <time.h>
#include <unistd.h>

namespace ob {

int LinuxKernel::open(const char* path, int flags, mode_t mode) {
    return ::open(path, flags, mode);
}
int LinuxKernel::close(int fd) { return ::close(fd); }
ssize_t LinuxKernel::read(int fd, void* buf, size_t count) { return ::read(fd, buf, count); }
ssize_t LinuxKernel::write(int fd, const void* buf, size_t count) {
    return ::write(fd, buf, count);
}
off_t LinuxKernel::lseek(int fd, off_t offset, int whence) { return ::lseek(fd, offset, whence); }
int LinuxKernel::ftruncate(int fd, off_t length) { return ::ftruncate(fd, length); }
int LinuxKernel::fsync(int fd) { return ::fsync(fd); }
int LinuxKernel::fstat(int fd, struct stat* st) { return ::fstat(fd, st); }
int LinuxKernel::fchmod(int fd, mode_t mode) { return ::fchmod(fd, mode); }
int LinuxKernel::fchown(int fd, uid_t owner, gid_t group) { return ::fchown(fd, owner, group); }
int LinuxKernel::fcntl(int fd, int cmd, long arg) { return ::fcntl(fd, cmd, arg); }
int LinuxKernel::flock(int fd, int operation) { return ::flock(fd, operation); }
int LinuxKernel::dup2(int oldfd, int newfd) { return ::dup2(oldfd, newfd); }
int LinuxKernel::ioctl(int fd, unsigned long request, void* arg) {
    return ::ioctl(fd, request, arg);
}
int LinuxKernel::poll(struct pollfd* fds, nfds_t nfds, int timeout_ms) {
    return ::poll(fds, nfds, timeout_ms);
}
void* LinuxKernel::mmap(void* addr, size_t length, int prot, int flags, int fd, off_t offset) {
    return ::mmap(addr, length, prot, flags, fd, offset);
}
int LinuxKernel::munmap(void* addr, size_t length) { return ::munmap(addr, length); }

int LinuxKernel::stat(const char* path, struct stat* st) { return ::stat(path, st); }
int LinuxKernel::statvfs(const char* path, struct statvfs* st) { return ::statvfs(path, st); }
int LinuxKernel::lstat(const char* path, struct stat* st) { return ::lstat(path, st); }
ssize_t LinuxKernel::readlink(const char* path, char* buf, size_t size) {
    return ::readlink(path, buf, size);
}
int LinuxKernel::mkdir(const char* path, mode_t mode) { return ::mkdir(path, mode); }
int LinuxKernel::rmdir(const char* path) { return ::rmdir(path); }
int LinuxKernel::unlink(const char* path) { return ::unlink(path); }
int LinuxKernel::rename(const char* from, const char* to) { return ::rename(from, to); }
int LinuxKernel::link(const char* from, const char* to) { return ::link(from, to); }
int LinuxKernel::symlink(const char* target, const char* linkpath) {
    return ::symlink(target, linkpath);
}
int LinuxKernel::mknod(const char* path, mode_t mode, dev_t dev) {
    return ::mknod(path, mode, dev);
}
mode_t LinuxKernel::umask(mode_t mask) { return ::umask(mask); }

namespace {

// Reads the names of dir and closes it.
int read_names(DIR* dir, std::vector<std::string>& names) {
    names.clear();
    if (dir == nullptr) return -1;
    // The 64-bit entry reader: a 32-bit build run under qemu-user on a 64-bit
    // host sees 64-bit directory offsets, which plain readdir() refuses.
    while (struct dirent64* entry = ::readdir64(dir)) {
        if (strcmp(entry->d_name, ".") == 0 || strcmp(entry->d_name, "..") == 0) continue;
        names.emplace_back(entry->d_name);
    }
    ::closedir(dir);
    return 0;
}

}  // namespace

int LinuxKernel::list_dir(const char* path, std::vector<std::string>& names) {
    return read_names(::opendir(path), names);
}

int LinuxKernel::openat(int dirfd, const char* name, int flags, mode_t mode) {
    return ::openat(dirfd, name, flags, mode);
}
int LinuxKernel::fstatat(int dirfd, const char* name, struct stat* st, int flags) {
    return ::fstatat(dirfd, name, st, flags);
}
ssize_t LinuxKernel::readlinkat(int dirfd, const char* name, char* buf, size_t size) {
    return ::readlinkat(dirfd, name, buf, size);
}
int LinuxKernel::mkdirat(int dirfd, const char* name, mode_t mode) {
    return ::mkdirat(dirfd, name, mode);
}
int LinuxKernel::unlinkat(int dirfd, const char* name, int flags) {
    return ::unlinkat(dirfd, name, flags);
}
int LinuxKernel::renameat(int olddirfd, const char* oldname, int newdirfd, const char* newname) {
    return ::renameat(olddirfd, oldname, newdirfd, newname);
}
int LinuxKernel::list_dir_at(int dirfd, std::vector<std::string>& names) {
    // A description of its own: fdopendir would take over dirfd and its
    // position.
    const int own = ::openat(dirfd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (own < 0) return -1;
    DIR* dir = ::fdopendir(own);
    if (dir == nullptr) ::close(own);
    return read_names(dir, names);
}
int LinuxKernel::fchdir(int fd) { return ::fchdir(fd); }
int LinuxKernel::syncfs(int fd) { return ::syncfs(fd); }

int LinuxKernel::mount(const char* source, const char* target, const char* type,
                       unsigned long flags, const void* data) {
    return ::mount(source, target, type, flags, data);
}
int LinuxKernel::umount(const char* target) { return ::umount(target); }
int LinuxKernel::chdir(const char* path) { return ::chdir(path); }
int LinuxKernel::chroot(const char* path) { return ::chroot(path); }
int LinuxKernel::swapon(const char* path, int flags) { return ::swapon(path, flags); }
int LinuxKernel::swapoff(const char* path) { return ::swapoff(path); }
void LinuxKernel::sync() { ::sync(); }

int LinuxKernel::uname(struct utsname* name) { return ::uname(name); }
pid_t LinuxKernel::getpid() { return ::getpid(); }
int LinuxKernel::execve(const char* path, char* const argv[], char* const envp[]) {
    return ::execve(path, argv, envp);
}
int LinuxKernel::system(const char* command) { return ::system(command); }
pid_t LinuxKernel::fork() { return ::fork(); }
void LinuxKernel::exit(int status) { ::exit(status); }
void LinuxKernel::exit_now(int status) { ::_exit(status); }

void LinuxKernel::sleep_us(unsigned long microseconds) {
    struct timespec left = {static_cast<time_t>(microseconds / 1000000),
                            static_cast<long>(microseconds % 1000000) * 1000};
    while (::nanosleep(&left, &left) != 0 && errno == EINTR) {
    }
}
time_t LinuxKernel::time() { return ::time(nullptr); }
int64_t LinuxKernel::monotonic_ms() {
    struct timespec now;
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

std::string LinuxKernel::host_path(const char* path) { return path; }

namespace {
LinuxKernel real_kernel;
Kernel* current = &real_kernel;
}  // namespace

Kernel& kernel() { return *current; }

Kernel* set_kernel(Kernel* k) {
    Kernel* previous = current;
    current = k != nullptr ? k : &real_kernel;
    return previous;
}

bool write_all(int fd, const char* data, size_t size) {
    while (size > 0) {
        const ssize_t n = kernel().write(fd, data, size);
        if (n <= 0) return false;
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

void print_to(int fd, const char* text) { write_all(fd, text, strlen(text)); }

void printf_to(int fd, const char* format, ...) {
    char small[512];
    va_list args;
    va_start(args, format);
    int needed = vsnprintf(small, sizeof small, format, args);
    va_end(args);
    if (needed < 0) return;
    if (static_cast<size_t>(needed) < sizeof small) {
        print_to(fd, small);
        return;
    }
    std::string big(static_cast<size_t>(needed) + 1, '\0');
    va_start(args, format);
    vsnprintf(&big[0], big.size(), format, args);
    va_end(args);
    print_to(fd, big.c_str());
}

void print_error(const char* prefix) {
    const int saved = errno;
    printf_to(2, "%s: %s\n", prefix, strerror(saved));
    errno = saved;
}

}  // namespace ob
