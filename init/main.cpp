#include "kernel.h"
#include "obinit.h"

int main(int argc, char** argv, char** envp) {
    ob::kernel().exit(obinit::obinit_main(argc, argv, envp));
}
