#include "program_check.h"

#include <elf.h>
#include <errno.h>
#include <limits.h>
#include <string.h>
#include <sys/stat.h>

#include "control_file.h"
#include "kernel.h"
#include "resolve_below.h"

namespace ob {

namespace {

// Scripts whose interpreter is a script, and so on: the kernel stops after
// this many.
constexpr int max_script_depth = 4;
// What the kernel reads of a file to recognise it (its "#!" line included).
constexpr size_t head_size = 128;
// Program headers the kernel takes at most (64 KiB of them).
constexpr unsigned max_program_headers = 65536 / sizeof(Elf32_Phdr);

// The ABI field of a MIPS program's flags: empty or o32 is what a 32-bit
// kernel runs (n32, marked apart by EF_MIPS_ABI2, needs a 64-bit one).
constexpr unsigned long mips_abi_mask = 0xf000;
constexpr unsigned long mips_abi_o32 = 0x1000;

struct Machine {
    unsigned code;
    const char* name;
};
// The CPUs whose programs turn up in images made for other boxes.
constexpr Machine machines[] = {
    {EM_386, "x86"},         {EM_X86_64, "x86-64"}, {EM_ARM, "ARM"},
    {EM_AARCH64, "AArch64"}, {EM_PPC, "PowerPC"},   {EM_PPC64, "PowerPC"},
    {EM_SH, "SuperH"},       {EM_RISCV, "RISC-V"},  {EM_MIPS, "MIPS"},
};

// A file's first bytes, little- or big-endian as its header says.
struct Head {
    unsigned char bytes[head_size];
    size_t size = 0;
    bool big_endian = false;

    unsigned u16(size_t at) const {
        return big_endian ? bytes[at] << 8 | bytes[at + 1] : bytes[at] | bytes[at + 1] << 8;
    }
    unsigned long u32(size_t at) const {
        return big_endian ? static_cast<unsigned long>(u16(at)) << 16 | u16(at + 2)
                          : u16(at) | static_cast<unsigned long>(u16(at + 2)) << 16;
    }
};

ProgramCheck refused(const std::string& problem) { return {true, false, problem}; }

// Reads up to `size` bytes at `offset`; the number read.
size_t read_at(int fd, unsigned long offset, unsigned char* buf, size_t size) {
    if (kernel().lseek(fd, static_cast<off_t>(offset), SEEK_SET) < 0) return 0;
    size_t got = 0;
    while (got < size) {
        const ssize_t n = kernel().read(fd, buf + got, size - got);
        if (n <= 0) break;
        got += static_cast<size_t>(n);
    }
    return got;
}

bool o32(const Head& head) {
    const unsigned long flags = head.u32(36);
    const unsigned long abi = flags & mips_abi_mask;
    return (flags & EF_MIPS_ABI2) == 0 && (abi == 0 || abi == mips_abi_o32);
}

std::string cpu_of(const Head& head) {
    const unsigned code = head.u16(18);
    const char* name = "another kind of CPU";
    for (const Machine& machine : machines)
        if (machine.code == code) name = machine.name;
    std::string cpu = name;
    if (code == EM_MIPS && head.bytes[EI_CLASS] == ELFCLASS64) cpu = "64-bit " + cpu;
    if (code == EM_MIPS && head.big_endian) cpu = "big-endian " + cpu;
    return cpu;
}

// What load_elf_binary refuses before it maps anything.
std::string header_problem(const Head& head) {
    if (head.size < sizeof(Elf32_Ehdr)) return "is a damaged program";
    const bool mips32_le = head.bytes[EI_CLASS] == ELFCLASS32 &&
                           head.bytes[EI_DATA] == ELFDATA2LSB && head.u16(18) == EM_MIPS;
    if (!mips32_le)
        return "is a program for " + cpu_of(head) + ", not for 32-bit little-endian MIPS";
    if (!o32(head)) return "is a MIPS program for another ABI than o32";
    const unsigned type = head.u16(16);
    if (type != ET_EXEC && type != ET_DYN) return "is not an executable program";
    const unsigned phentsize = head.u16(42);
    const unsigned phnum = head.u16(44);
    if (phentsize != sizeof(Elf32_Phdr) || phnum < 1 || phnum > max_program_headers)
        return "is a damaged program";
    return "";
}

// What a program interpreter may be, and what a program or script may be.
enum class Role { program, interpreter };
ProgramCheck check_file(const std::string& root, const std::string& path, Role role, int depth);

// The program interpreter a dynamic program names; "" for a static one.
// False when the headers cannot be read or the name is malformed.
bool interpreter_of(int fd, const Head& head, std::string& interpreter) {
    interpreter.clear();
    const unsigned long phoff = head.u32(28);
    for (unsigned i = 0; i < head.u16(44); ++i) {
        Elf32_Phdr ph;
        unsigned char raw[sizeof ph];
        if (read_at(fd, phoff + i * sizeof ph, raw, sizeof raw) != sizeof raw) return false;
        Head entry;
        memcpy(entry.bytes, raw, sizeof raw);
        if (entry.u32(0) != PT_INTERP) continue;
        const unsigned long offset = entry.u32(4);
        const unsigned long size = entry.u32(16);
        if (size < 2 || size > PATH_MAX) return false;
        char name[PATH_MAX];
        if (read_at(fd, offset, reinterpret_cast<unsigned char*>(name), size) != size ||
            name[size - 1] != '\0')
            return false;
        interpreter = name;
        return true;
    }
    return true;
}

std::string elf_problem(const std::string& root, int fd, const Head& head, Role role) {
    std::string problem = header_problem(head);
    if (!problem.empty()) return problem;
    std::string interpreter;
    if (!interpreter_of(fd, head, interpreter)) return "is a damaged program";
    if (interpreter.empty()) return "";
    // The kernel loads a program interpreter but never the interpreter's own.
    if (role == Role::interpreter) return "is a program interpreter that needs another one";
    const ProgramCheck loader = check_file(root, interpreter, Role::interpreter, 0);
    if (loader.startable) return "";
    return "needs " + interpreter + ", which " + (loader.present ? loader.problem : "is missing");
}

// The interpreter of a "#!" line as the kernel takes it: the first word
// after "#!", blanks and tabs around it skipped, within the first line.
std::string script_problem(const std::string& root, const Head& head, int depth) {
    const char* text = reinterpret_cast<const char*>(head.bytes) + 2;
    std::string line(text, head.size - 2);
    line = line.substr(0, line.find_first_of(std::string("\n\0", 2)));
    const size_t start = line.find_first_not_of(" \t");
    if (start == std::string::npos) return "is a script that names no interpreter";
    const std::string interpreter = line.substr(start, line.find_first_of(" \t", start) - start);
    if (depth >= max_script_depth) return "is a script whose interpreters are nested too deep";
    const ProgramCheck program = check_file(root, interpreter, Role::program, depth + 1);
    if (program.startable) return "";
    return "is a script for " + interpreter + ", which " +
           (program.present ? program.problem : "is missing");
}

// depth: the scripts passed on the way to this file.
ProgramCheck check_file(const std::string& root, const std::string& path, Role role, int depth) {
    std::string resolved;
    struct stat st;
    if (!resolve_below(root, path, resolved) || kernel().stat((root + resolved).c_str(), &st) != 0)
        return {false, false, "is missing"};
    if (!S_ISREG(st.st_mode)) return refused("is not a regular file");
    if ((st.st_mode & (S_IXUSR | S_IXGRP | S_IXOTH)) == 0)
        return refused("has no execute permission");
    const int fd = open_regular_file((root + resolved).c_str());
    if (fd < 0) return refused(std::string("cannot be read: ") + strerror(errno));
    Head head;
    head.size = read_at(fd, 0, head.bytes, sizeof head.bytes);
    std::string problem = "is neither a program nor a script";
    if (head.size >= SELFMAG && memcmp(head.bytes, ELFMAG, SELFMAG) == 0) {
        head.big_endian = head.size > EI_DATA && head.bytes[EI_DATA] == ELFDATA2MSB;
        problem = elf_problem(root, fd, head, role);
    } else if (role == Role::interpreter) {
        problem = "is not a program";
    } else if (head.size >= 2 && head.bytes[0] == '#' && head.bytes[1] == '!') {
        problem = script_problem(root, head, depth);
    }
    kernel().close(fd);
    if (problem.empty()) return {true, true, ""};
    return refused(problem);
}

}  // namespace

ProgramCheck check_program(const std::string& root, const std::string& path) {
    return check_file(root, path, Role::program, 0);
}

std::string elf_header_problem(const unsigned char* bytes, size_t size) {
    Head head;
    head.size = size < sizeof head.bytes ? size : sizeof head.bytes;
    memcpy(head.bytes, bytes, head.size);
    if (head.size < SELFMAG || memcmp(head.bytes, ELFMAG, SELFMAG) != 0) return "is not a program";
    head.big_endian = head.size > EI_DATA && head.bytes[EI_DATA] == ELFDATA2MSB;
    return header_problem(head);
}

}  // namespace ob
