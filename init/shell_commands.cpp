#include "shell_commands.h"

#include <stdio.h>

#include "kernel.h"
#include "medium.h"

namespace obinit {

namespace {

// A command line is its format over two parts; a part that is nullptr is the
// caller's argument.
struct CommandLine {
    const char* format;
    const char* first;
    const char* second;
};

// In the order of ShellCommand.
constexpr CommandLine command_lines[] = {
    {"modprobe %s", nullptr, ""},
    {"%s > %s 2>&1", ob::menu_program, ob::menu_log},
    {"swapoff %s > /dev/null 2>&1", ob::swap_file, ""},
    {"fsck.ext4 -y -f %s", nullptr, ""},
    // The tune2fs kept on the medium: the flash system's own may be too old
    // for ext4.
    {"%s -U 00000000-0000-0000-0000-000000000000 %s", ob::medium_tune2fs, nullptr},
};

}  // namespace

int run_shell(ShellCommand command, const char* argument) {
    const CommandLine& line = command_lines[static_cast<int>(command)];
    const char* first = line.first != nullptr ? line.first : argument;
    const char* second = line.second != nullptr ? line.second : argument;
    char text[160];
    snprintf(text, sizeof text, line.format, first, second);
    return ob::kernel().system(text);
}

}  // namespace obinit
