// "Boot now": the box restarts by the running image's own orderly reboot,
// its reboot command (systemd's and busybox's init both take it), so that the
// image shuts down cleanly; never by a bare reboot system call.
#pragma once

#include <string>

#include "medium_dir.h"
#include "outcome.h"

namespace obctl {

// Done when obctl runs on a box (the kernel release names a box model, as
// obinit finds it); refused with the reason otherwise.
Outcome on_a_box();

// Done when this box can be restarted into the medium: obctl runs on a box,
// the medium is where obinit mounts it, and the image has a reboot command
// (then in command).
Outcome can_restart(const Medium& medium, std::string& command);

// Runs command after delay_ms on a thread of its own, so that the answer
// to the browser leaves first.
void restart_soon(const std::string& command, int delay_ms);

}  // namespace obctl
