// obinit's entry: the start-up that every invocation runs, its gates, and the
// boot stage that ends in the flash's or an image's init program. Below the
// shared headers come the parts of the boot spine, start-up first.
#include <string.h>
#include <sys/mount.h>
#include <sys/utsname.h>

#include <string>

#include "box_model.h"
#include "build_info.h"
#include "control_file.h"
#include "kernel.h"
#include "medium.h"
#include "obinit.h"
// start-up
#include "device_nodes.h"
#include "line_reader.h"
#include "maintenance.h"
#include "medium_discovery.h"
// boot stage
#include "box_setup.h"
#include "image_root.h"
#include "init_program.h"
#include "root_switch.h"
#include "selection.h"

namespace obinit {

namespace {

constexpr const char* product_name = "Orbiel";
constexpr int version_major = 12;
constexpr int version_minor = 45;
constexpr const char* credit_text = "by the Orbiel developers";

// The kernel command line word that lets the boot manager run inside an
// image root.
constexpr const char* boot_manager_request = "obinit";

RunState run_state;

void print_banner() {
    ob::printf_to(2, "\n%s V%d.%d %s Build %s %s\n\n", product_name, version_major, version_minor,
                  credit_text, ob::build_date, ob::build_time);
}

void make_mount_points() {
    for (const char* dir : {ob::medium_mount, ob::hdd_mount})
        if (!ob::path_exists(dir)) ob::kernel().mkdir(dir, 0777);
}

bool release_supported(const char* release) {
    return strncmp(release, "3.4", 3) == 0 || strncmp(release, "3.14", 4) == 0;
}

// Finds the box model in the kernel release and accepts only the kernel
// series the boxes ship.
bool platform_accepted() {
    struct utsname name;
    if (ob::kernel().uname(&name) != 0) return false;
    const char* model_text = ob::find_model_text(name.release);
    if (model_text == nullptr) return false;
    state().box_model = ob::box_model_from_text(model_text);
    return release_supported(name.release);
}

int command_code_from(const char* argument) {
    if (strncmp(argument, "start", 5) == 0) return start_command;
    if (strcmp(argument, "link") == 0) return link_command;
    return ob::control_number(argument);
}

// Without a command only process 1 boots; small numbers are runlevels meant
// for the real init; 90 and above are obinit's own commands.
bool gate_passes(int command_code, pid_t pid) {
    if (command_code == 0) return pid == 1;
    return command_code >= check_command;
}

// Steps 1 to 9 of every run: banner, gates, flash nodes, /proc, the medium.
void start_up(int argc, char** argv) {
    RunState& s = state();
    print_banner();
    make_mount_points();
    if (argc > 1) {
        s.command_code = command_code_from(argv[1]);
        ob::kernel().sync();
    }
    if (!gate_passes(s.command_code, ob::kernel().getpid())) start_init();
    if (!platform_accepted()) start_init();
    make_mtd_nodes();
    ob::kernel().mount("proc", "/proc", "proc", 0, nullptr);  // already there is fine too
    ob::print_to(2, "\n");
    if (!find_boot_medium()) start_init();
    ob::printf_to(2, "Orbiel found on device %s ...\n\n", s.boot_device);
    // An image's start-up may already have the medium mounted (its marker shows).
    if (!ob::path_exists(ob::medium_marker) && mount_boot_medium() != 0)
        report_unmountable_medium();
}

// Inside an image root the boot manager runs only when the kernel command
// line asks for it; otherwise that image simply boots on.
bool boot_manager_wanted() {
    if (!kernel_image_present()) return false;
    const std::string cmdline = read_first_line(ob::kernel_cmdline);
    return !ob::path_exists(ob::image_marker) ||
           cmdline.find(boot_manager_request) != std::string::npos;
}

void mount_sysfs() {
    if (ob::path_exists("/sys/kernel")) return;
    if (ob::kernel().mount("sysfs", "/sys", "sysfs", MS_MGC_VAL | MS_NOSUID | MS_NODEV,
                           "mode=755") != 0)
        ob::print_error("/sys");
}

void prepare_box_and_run_menu() {
    mount_sysfs();
    make_device_nodes();
    load_box_modules();
    apply_box_settings();
    run_menu();
    state().menu_skipped = false;
}

[[noreturn]] void boot_flash() {
    swap_on_medium_if_present();
    start_init();
}

[[noreturn]] void boot_image(const char* name) {
    const std::string root = std::string(ob::images_dir) + "/" + name;
    if (switch_root(root.c_str()) != 0) {
        ob::print_to(2, "Orbiel is booting Flash instead ...\n");
        boot_flash();
    }
    prepare_image_root();
    start_image_init();
}

// Steps 11 to 18; a one-shot choice goes before the menu and the stored
// choice.
[[noreturn]] void boot_stage() {
    RunState& s = state();
    if (!boot_manager_wanted()) start_init();
    if (take_one_shot()) {
        s.menu_skipped = true;
    } else {
        if (ob::path_exists(ob::no_boot_manager_file)) {
            ob::print_to(2, "Orbiel Bootmanager is disabled ...\n");
            s.menu_skipped = true;
        } else {
            prepare_box_and_run_menu();
        }
        read_selection();
    }
    ob::printf_to(2, "Orbiel is booting Image %s ...\n", s.selection);
    if (strcmp(s.selection, ob::flash_name) == 0) boot_flash();
    boot_image(s.selection);
}

}  // namespace

RunState& state() { return run_state; }

int obinit_main(int argc, char** argv, char** envp) {
    RunState& s = state();
    s = RunState();
    s.argv = argv;
    s.envp = envp;
    start_up(argc, argv);
    if (is_maintenance(s.command_code)) run_maintenance(s.command_code);
    boot_stage();
}

}  // namespace obinit
