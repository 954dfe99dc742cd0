/* A stand-in process 1 that checks the emulated box itself: the patched
 * kernel release, the console, and power-off. The harness runs it before any
 * scenario so that a broken board is not mistaken for a broken init. */
#include <stdio.h>
#include <sys/reboot.h>
#include <sys/utsname.h>
#include <unistd.h>

int main(int argc, char** argv) {
    struct utsname u;
    uname(&u);
    printf("E2E-TESTINIT pid=%d release=%s argc=%d argv0=%s\n", (int)getpid(), u.release, argc, argv[0]);
    fflush(stdout);
    sync();
    reboot(RB_POWER_OFF);
    return 1;
}
