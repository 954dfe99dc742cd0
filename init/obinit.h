// obinit's run state and the operations its parts offer each other.
//
// obinit is one straight sequence in one process: the state below is set up
// by the start-up and read by the later steps (discovery, nodes, root switch,
// image preparation, maintenance). Nothing survives the process.
#pragma once

#include <stddef.h>
#include <sys/types.h>

#include <string>

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

// Boot spine.
[[noreturn]] void start_init();
bool kernel_image_present();
void load_box_modules();  // "modprobe dreambox_rc2" and the model's modules

// The start-up's decisions, each a small rule of its own.
int command_code_from(const char* argument);  // "start..." 900, "link" 999, else its number
bool gate_passes(int command_code, pid_t pid);
bool release_supported(const char* release);  // a 3.4 or 3.14 kernel
// The first line of a file, of any length, without its line feed ("" when
// the file does not open).
std::string read_first_line(const char* path);

// Box set-up before the menu, and the menu itself.
void apply_box_settings();  // video mode, colour format, remote-control mask
void run_menu();

// The selection: read from the medium into state().selection; anything that
// is not a plain directory name becomes "Flash".
void read_selection();
bool plain_image_name(const char* name);

// Boot medium discovery.
struct Partition {
    int major = 0;
    int minor = 0;
    char device[boot_device_size] = {};  // "/dev/" and the name
};
// One line of /proc/partitions (without its line feed): true when it is a
// partition that may carry the boot medium (disk partitions of major 8,
// card partitions of major 179) and its device path fits boot_device.
bool boot_candidate(const char* line, Partition& out);
bool find_boot_medium();
void read_volume_label(const char* device);
int mount_boot_medium();

// Device nodes.
void make_mtd_nodes();
void make_device_nodes();

// Root switch.
int switch_root(const char* new_root);
[[noreturn]] void start_image_init();

// Image root preparation (file edits: file_edit.h).
void prepare_image_root();
int comment_out_fstab();    // 0 rewritten, 1 when /etc/fstab cannot be read or rewritten
int patch_systemd_units();  // 0

// Flash emulation: a loop device over a file in /var/volatile in place of one
// flash device. Both return 0 in every case.
int emulate_mtd(int partition, int loop, int blocks);
int emulate_mmcblk(int device, int loop, int blocks);
// False (after its message, if any) when the loop device was not set up.
bool attach_backing_file(const char* backing_file, const char* loop_node, const char* name,
                         int blocks);

// Maintenance commands.
[[noreturn]] void run_maintenance(int command_code);
void swapoff_listed();
int prepare_medium_remount();  // 1 inside an image root, else 0

}  // namespace obinit
