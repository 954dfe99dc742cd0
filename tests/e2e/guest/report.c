/* The init program of the flash and of every image on the emulated box.
 *
 * A shell script cannot show its own argv[0] (the kernel replaces it with the
 * script's path), so this small program reports exactly what it was started
 * with, then runs the role's script: /etc/e2e-init.sh in the same root, with
 * the role's name (first word of /etc/e2e-role) as its argument.
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

extern char** environ;

static int by_text(const void* a, const void* b) {
    return strcmp(*(char* const*)a, *(char* const*)b);
}

int main(int argc, char** argv) {
    char role[32] = "UNKNOWN";
    FILE* f = fopen("/etc/e2e-role", "r");
    if (f) {
        if (fscanf(f, "%31s", role) != 1) strcpy(role, "UNKNOWN");
        fclose(f);
    }
    printf("%s-INIT pid=%d argv0=%s args=[", role, (int)getpid(), argv[0]);
    for (int i = 1; i < argc; ++i) printf(i > 1 ? " %s" : "%s", argv[i]);
    printf("]\n%s-ENV", role);
    int n = 0;
    while (environ[n]) ++n;
    char** sorted = calloc(n + 1, sizeof *sorted);
    if (sorted) {
        memcpy(sorted, environ, n * sizeof *sorted);
        qsort(sorted, n, sizeof *sorted, by_text);
        for (int i = 0; i < n; ++i) printf(" %s", sorted[i]);
    }
    printf("\n");
    fflush(stdout);
    execl("/bin/sh", "sh", "/etc/e2e-init.sh", role, (char*)NULL);
    perror("/bin/sh");
    return 1;
}
