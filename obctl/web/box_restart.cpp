#include "box_restart.h"

#include <sys/stat.h>
#include <sys/utsname.h>

#include <thread>

#include "box_model.h"
#include "kernel.h"
#include "medium.h"

namespace obctl {

namespace {

const char* const reboot_commands[] = {"/sbin/reboot", "/usr/sbin/reboot", "/bin/reboot",
                                       "/usr/bin/reboot"};

}  // namespace

Outcome on_a_box() {
    struct utsname name;
    if (ob::kernel().uname(&name) == 0 && ob::find_model_text(name.release) != nullptr)
        return succeeded();
    return outcome(Outcome::refused, "this is no box: its kernel release names no box model");
}

Outcome can_restart(const Medium& medium, std::string& command) {
    const Outcome box = on_a_box();
    if (!box.ok()) return box;
    if (medium.top != ob::medium_mount)
        return outcome(Outcome::refused, "the box boots from the medium at " +
                                             std::string(ob::medium_mount) + ", not " + medium.top);
    for (const char* path : reboot_commands) {
        struct stat st;
        if (ob::kernel().stat(path, &st) == 0 && S_ISREG(st.st_mode) && (st.st_mode & 0111)) {
            command = path;
            return succeeded();
        }
    }
    return outcome(Outcome::refused, "the running image has no reboot command");
}

void restart_soon(const std::string& command, int delay_ms) {
    std::thread([command, delay_ms] {
        ob::kernel().sleep_us(static_cast<unsigned long>(delay_ms) * 1000);
        ob::kernel().system(command.c_str());
    }).detach();
}

}  // namespace obctl
