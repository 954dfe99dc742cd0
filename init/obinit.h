// obinit's run state and the operations its parts offer each other.
//
// obinit is one straight sequence in one process: the state below is set up
// by the start-up and read by the later steps (discovery, nodes, root switch,
// image preparation, maintenance). Nothing survives the process.
#pragma once

#include <stddef.h>
#include <sys/types.h>

namespace obinit {

constexpr size_t boot_device_size = 32;  // "/dev/" + partition name, at most 31 characters
constexpr size_t selection_size = 129;   // at most 128 bytes read from the selection file

struct RunState {
    int command_code = 0;
    int box_model = 1;
    char boot_device[boot_device_size] = {};
    bool menu_skipped = false;
    char selection[selection_size] = {};
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

// Boot spine.
[[noreturn]] void start_init();
bool kernel_image_present();
void load_box_modules();  // "modprobe dreambox_rc2" and the model's modules

// Boot medium discovery.
bool find_boot_medium();
void read_volume_label(const char* device);
int mount_boot_medium();

// Device nodes.
void make_mtd_nodes();
void make_device_nodes();

// Root switch.
int switch_root(const char* new_root);
[[noreturn]] void start_image_init();

// Image root preparation and flash emulation.
void prepare_image_root();

// Maintenance commands.
[[noreturn]] void run_maintenance(int command_code);

}  // namespace obinit
