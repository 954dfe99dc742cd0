// obctl: the user's tool for the boot medium, on the box (from a shell of
// any running image) and on a PC (the medium mounted anywhere). One verb
// table maps each command to one function; the arguments are parsed once,
// before the dispatch; every verb returns the exit status: 0 done, 1 failed
// (after one line on standard error), 2 a usage error.
#pragma once

namespace obctl {

int obctl_main(int argc, char** argv);

}  // namespace obctl
