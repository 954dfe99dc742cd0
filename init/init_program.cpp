#include "init_program.h"

#include <sys/stat.h>

#include "box_model.h"
#include "control_file.h"
#include "kernel.h"
#include "obinit.h"

namespace obinit {

namespace {

struct KernelFile {
    int box_model;
    const char* path;
};
constexpr KernelFile kernel_files[] = {
    {ob::model_dm520, "/boot/vmlinux.gz"},
    {ob::model_dm900, "/boot/zImage"},
};
constexpr const char* other_kernel_file = "/boot/vmlinux.bin";

}  // namespace

// Each init program that is there is tried in turn (one that is there but
// cannot be executed must not end the boot while another can); the classic
// path last, without looking.
void start_init() {
    const RunState& s = state();
    for (const char* program : self_mounting_inits)
        if (ob::path_exists(program)) ob::kernel().execve(program, s.argv, s.envp);
    ob::kernel().execve(plain_init, s.argv, s.envp);
    ob::print_to(2, "\nOrbiel booting failed :-(\n\n");
    ob::kernel().exit(0);
    __builtin_unreachable();  // the seam's exit does not return, but a virtual call hides that
}

// lstat, so that a kernel file kept as a (even dangling) link counts.
bool kernel_image_present() {
    const char* path = other_kernel_file;
    for (const KernelFile& file : kernel_files)
        if (file.box_model == state().box_model) path = file.path;
    struct stat st;
    return ob::kernel().lstat(path, &st) == 0;
}

}  // namespace obinit
