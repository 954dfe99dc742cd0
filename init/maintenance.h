// The maintenance commands, chosen by obinit's first argument.
#pragma once

namespace obinit {

// Command codes: "start" and "link" have names, everything else is a number.
// Codes 90 and above are obinit's own; smaller ones are runlevels for the
// real init.
enum CommandCode {
    check_command = 90,  // check the medium's file system and reset its UUID
    start_command = 900,
    remount_hdd_command = 911,  // remount, plus the hard disk
    link_command = 999,         // become the box's /sbin/init
};

// True for the codes that run_maintenance serves; every other code of 90 and
// above boots.
bool is_maintenance(int command_code);
[[noreturn]] void run_maintenance(int command_code);

// Turns off every swap area /proc/swaps lists.
void swapoff_listed();

}  // namespace obinit
