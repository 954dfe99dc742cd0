// Whether the kernel would start a program of a root file system: the
// questions execve asks, asked before process 1 depends on the answer.
#pragma once

#include <stddef.h>

#include <string>

namespace ob {

struct ProgramCheck {
    bool present = false;    // the name leads to a file in the root
    bool startable = false;  // execve would start it
    // Why not, as the rest of a sentence that begins with the program's name:
    // "has no execute permission". Empty when startable.
    std::string problem;
};

// `path` as a process whose root is the directory `root` ("" for the running
// root) would execute it, links and interpreters resolved inside that root:
// a regular file with an execute bit that is either a 32-bit little-endian
// MIPS program (executable or position-independent, its program interpreter
// present and itself such a program) or a "#!" script whose interpreter is
// one of the two in turn.
ProgramCheck check_program(const std::string& root, const std::string& path);

// What the kernel says of a program file that begins with these bytes,
// judged by its ELF header alone (a file not yet written anywhere): empty
// for a 32-bit little-endian MIPS o32 program, else the rest of a sentence
// ("is a program for x86-64, not for 32-bit little-endian MIPS").
std::string elf_header_problem(const unsigned char* bytes, size_t size);

}  // namespace ob
