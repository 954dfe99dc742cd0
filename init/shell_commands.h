// The shell commands obinit runs, each waited for before the next step.
#pragma once

namespace obinit {

enum class ShellCommand {
    modprobe,    // loads the module named by the argument
    menu,        // the menu program, its output into the log on the medium
    swapoff,     // releases the swap file on the medium, quietly
    fsck,        // checks the file system on the device named by the argument
    uuid_reset,  // gives the device named by the argument an all-zero UUID
};

// Runs the command through /bin/sh; returns what system() returns.
int run_shell(ShellCommand command, const char* argument = nullptr);

}  // namespace obinit
