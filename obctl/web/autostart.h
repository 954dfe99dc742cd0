// obctl serve started at every boot of the running image, by that image's
// own init: a systemd unit and its link where systemd runs the image, an
// init script and its rc?.d links where a System V style init (sysvinit or
// busybox) does. Disabling removes exactly what enabling added.
#pragma once

#include <string>

#include "outcome.h"

namespace obctl {

// listen: the --listen of the serve it starts ("" for the default).
Outcome enable_web(const std::string& listen);
Outcome disable_web();

}  // namespace obctl
