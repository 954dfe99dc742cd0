// obinit's entry and its run state.
//
// obinit is one straight sequence in one process (boot_sequence.cpp): the
// state below is set up by the start-up and read by the later steps
// (discovery, nodes, root switch, image preparation, maintenance). Nothing
// survives the process.
#pragma once

#include <stddef.h>
#include <sys/types.h>

// glibc's <sys/sysmacros.h> defines makedev() as a macro with the C library's
// own 64-bit encoding. obinit::makedev is the kernel's 32-bit encoding that
// mknod takes, so the macro must never replace its name. (Our files do not
// include sysmacros; this guards against a header that drags it in.)
#ifdef makedev
#undef makedev
#endif

namespace obinit {

constexpr size_t boot_device_size = 32;   // "/dev/" + partition name, at most 31 characters
constexpr size_t selection_size = 129;    // at most 128 bytes read from the selection file
constexpr size_t volume_label_size = 17;  // an ext volume name is 16 bytes, not always terminated

struct RunState {
    int command_code = 0;
    int box_model = 1;
    char boot_device[boot_device_size] = {};
    bool menu_skipped = false;
    char selection[selection_size] = {};
    char volume_label[volume_label_size] = {};  // label candidate of the partition scan
    bool patch_units = false;     // the image root holds the model's kernel: edit its systemd units
    char* const* argv = nullptr;  // handed unchanged to every init started
    char* const* envp = nullptr;
};

// The one instance of the run state (reset by the entry at every run, so
// sequence tests can run the entry many times in one process).
RunState& state();

// Entry: what main() does. Returns only where obinit's own rules end the
// process (the real main then exits with the returned status).
int obinit_main(int argc, char** argv, char** envp);

// Device numbers as the mknod system call takes them.
dev_t makedev(unsigned major, unsigned minor);

}  // namespace obinit
