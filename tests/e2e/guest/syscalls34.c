/* Gives every program started after it the system-call table of the boxes'
 * 3.4 kernels instead of this board's 6.1 one.
 *
 * The C library calls newer system calls first (64-bit times, statx, ...) and
 * falls back when the kernel answers ENOSYS. On this board's kernel the new
 * calls just work, so a program that needs one without a fallback would pass
 * here and fail on a box. A seccomp filter, inherited across fork and execve,
 * answers ENOSYS for every MIPS o32 call number that Linux 3.4 lacks (its
 * table ends at process_vm_writev), then the rest of the command line runs.
 * Usage: syscalls34 PROGRAM [ARG...]
 */
#include <errno.h>
#include <fcntl.h>
#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <stddef.h>
#include <stdio.h>
#include <sys/prctl.h>
#include <unistd.h>

extern char** environ;

enum { last_call_of_3_4 = 4346, statx_call = 4366 }; /* __NR_Linux + 346, + 366 */

int main(int argc, char** argv) {
    if (argc < 2) {
        fprintf(stderr, "usage: syscalls34 PROGRAM [ARG...]\n");
        return 2;
    }
    struct sock_filter code[] = {
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(struct seccomp_data, arch)),
        /* A MIPS32 kernel has the o32 calls only: anything else is a mistake. */
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, AUDIT_ARCH_MIPSEL, 1, 0),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_KILL),
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(struct seccomp_data, nr)),
        BPF_JUMP(BPF_JMP | BPF_JGT | BPF_K, last_call_of_3_4, 0, 1),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | ENOSYS),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
    };
    struct sock_fprog program = {sizeof code / sizeof code[0], code};
    /* Without the filter the run would not show what it is meant to: stop
     * (process 1 ending makes the kernel panic, which fails every boot). */
    if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 ||
        prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program, 0, 0) != 0) {
        perror("syscalls34: seccomp filter");
        return 1;
    }
    /* statx (Linux 4.11) stands for every later call. */
    errno = 0;
    if (syscall(statx_call, AT_FDCWD, "/", 0, 0, NULL) != -1 || errno != ENOSYS) {
        fprintf(stderr, "syscalls34: the filter let statx through\n");
        return 1;
    }
    printf("e2e: seccomp filter on: system calls above %d answer ENOSYS, as on a 3.4 kernel\n",
           last_call_of_3_4);
    fflush(stdout);
    execve(argv[1], argv + 1, environ);
    perror(argv[1]);
    return 1;
}
