// Files of a boot medium and its images as the boot programs look at them:
// a partition's superblock and an image's init program.
#pragma once

#include <elf.h>
#include <stdint.h>

#include <algorithm>
#include <string>

namespace ob_test {

// A device image whose superblock carries an ext volume name and feature
// flags (by default a journal and nothing else).
inline std::string ext_volume(const std::string& label, uint32_t compat = 0x4,
                              uint32_t incompat = 0, uint32_t ro_compat = 0) {
    std::string image(2048, '\0');
    image[1080] = '\x53';
    image[1081] = '\xEF';
    const uint32_t flags[] = {compat, incompat, ro_compat};
    for (size_t i = 0; i < 3; ++i)
        for (size_t b = 0; b < 4; ++b)
            image[1024 + 92 + 4 * i + b] = static_cast<char>(flags[i] >> (8 * b));
    image.replace(1144, std::min<size_t>(label.size(), 16), label.substr(0, 16));
    return image;
}

// A program file as far as the kernel looks before it starts one: the ELF
// header and one program header, the interpreter's name behind them. By
// default a static 32-bit little-endian MIPS program.
struct Elf {
    unsigned char elf_class = ELFCLASS32;
    unsigned char data = ELFDATA2LSB;
    uint16_t machine = EM_MIPS;
    uint16_t type = ET_EXEC;
    std::string interpreter;  // "" for a static program
};
inline std::string elf_program(const Elf& elf = {}) {
    std::string file(52 + 32 + 64, '\0');
    auto put = [&](size_t at, uint32_t value, int bytes) {
        for (int i = 0; i < bytes; ++i) {
            const int shift = elf.data == ELFDATA2MSB ? 8 * (bytes - 1 - i) : 8 * i;
            file[at + i] = static_cast<char>(value >> shift);
        }
    };
    file.replace(0, 4, ELFMAG);
    file[EI_CLASS] = static_cast<char>(elf.elf_class);
    file[EI_DATA] = static_cast<char>(elf.data);
    file[EI_VERSION] = EV_CURRENT;
    put(16, elf.type, 2);
    put(18, elf.machine, 2);
    put(28, 52, 4);  // program headers right behind the header
    put(42, 32, 2);
    put(44, 1, 2);
    put(52, elf.interpreter.empty() ? PT_LOAD : PT_INTERP, 4);
    put(56, 84, 4);
    put(68, static_cast<uint32_t>(elf.interpreter.size() + 1), 4);
    file.replace(84, elf.interpreter.size(), elf.interpreter);
    return file;
}

}  // namespace ob_test
