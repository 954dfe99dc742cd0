#include "ext_volume.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <vector>

#include "kernel.h"

namespace ob {

namespace {

constexpr size_t magic_at = 56;
constexpr unsigned ext_magic = 0xEF53;
constexpr size_t compat_at = 92;
constexpr size_t incompat_at = 96;
constexpr size_t ro_compat_at = 100;
constexpr size_t label_at = 120;
constexpr uint32_t compat_has_journal = 0x4;

// A kernel that lacks an incompatible feature does not mount the volume; one
// that lacks a read-only-compatible feature mounts it read-only, which obinit
// refuses as well. Compatible features do not keep a kernel from mounting.
enum class Kind { incompat, ro_compat };

constexpr KernelRelease never = {999, 0};

struct Feature {
    Kind kind;
    uint32_t mask;
    const char* name;        // as mke2fs and dumpe2fs name it
    KernelRelease since;     // the first release that mounts it read-write
    const char* turned_off;  // the tune2fs -O name that removes it; nullptr: only a new file system
};

constexpr Feature features[] = {
    {Kind::incompat, 0x0001, "compression", never, nullptr},
    {Kind::incompat, 0x0002, "filetype", {2, 2}, nullptr},
    {Kind::incompat, 0x0004, "needs_recovery", {2, 4}, nullptr},
    {Kind::incompat, 0x0008, "journal_dev", never, nullptr},  // an external journal, no file system
    {Kind::incompat, 0x0010, "meta_bg", {2, 6}, nullptr},
    {Kind::incompat, 0x0040, "extent", {2, 6}, nullptr},  // 2.6.28, as ext4
    {Kind::incompat, 0x0080, "64bit", {2, 6}, nullptr},   // 2.6.28
    {Kind::incompat, 0x0100, "mmp", {3, 0}, "mmp"},
    {Kind::incompat, 0x0200, "flex_bg", {2, 6}, nullptr},  // 2.6.28
    {Kind::incompat, 0x0400, "ea_inode", {4, 13}, nullptr},
    {Kind::incompat, 0x1000, "dirdata", never, nullptr},
    {Kind::incompat, 0x2000, "metadata_csum_seed", {4, 4}, "metadata_csum_seed"},
    {Kind::incompat, 0x4000, "large_dir", {4, 13}, nullptr},
    {Kind::incompat, 0x8000, "inline_data", {3, 8}, nullptr},
    {Kind::incompat, 0x10000, "encrypt", {4, 1}, nullptr},
    {Kind::incompat, 0x20000, "casefold", {5, 2}, nullptr},
    {Kind::ro_compat, 0x0001, "sparse_super", {2, 2}, nullptr},
    {Kind::ro_compat, 0x0002, "large_file", {2, 4}, nullptr},
    {Kind::ro_compat, 0x0004, "btree_dir", never, nullptr},
    {Kind::ro_compat, 0x0008, "huge_file", {2, 6}, nullptr},    // 2.6.28
    {Kind::ro_compat, 0x0010, "uninit_bg", {2, 6}, nullptr},    // 2.6.24
    {Kind::ro_compat, 0x0020, "dir_nlink", {2, 6}, nullptr},    // 2.6.24
    {Kind::ro_compat, 0x0040, "extra_isize", {2, 6}, nullptr},  // 2.6.23
    {Kind::ro_compat, 0x0080, "snapshot", never, nullptr},
    {Kind::ro_compat, 0x0100, "quota", {3, 6}, "quota"},
    {Kind::ro_compat, 0x0200, "bigalloc", {3, 2}, nullptr},
    {Kind::ro_compat, 0x0400, "metadata_csum", {3, 5}, "metadata_csum"},
    {Kind::ro_compat, 0x0800, "replica", never, nullptr},
    {Kind::ro_compat, 0x1000, "read-only", never, "read-only"},  // asks every kernel for read-only
    {Kind::ro_compat, 0x2000, "project", {4, 5}, "project"},
    {Kind::ro_compat, 0x4000, "shared_blocks", never, nullptr},
    {Kind::ro_compat, 0x8000, "verity", {5, 4}, nullptr},
    // Set while the orphan file (5.15) holds entries; off with the file.
    {Kind::ro_compat, 0x10000, "orphan_present", {5, 15}, "orphan_file"},
};

uint32_t u32_at(const unsigned char* block, size_t at) {
    return static_cast<uint32_t>(block[at]) | static_cast<uint32_t>(block[at + 1]) << 8 |
           static_cast<uint32_t>(block[at + 2]) << 16 | static_cast<uint32_t>(block[at + 3]) << 24;
}

bool older(KernelRelease a, KernelRelease b) {
    return a.major < b.major || (a.major == b.major && a.minor < b.minor);
}

uint32_t flags_of(const ExtVolume& volume, Kind kind) {
    return kind == Kind::incompat ? volume.incompat : volume.ro_compat;
}

// The volume's features that `kernel` lacks, bits the table does not know
// as one "unknown" entry each.
std::vector<const Feature*> missing_features(const ExtVolume& volume, KernelRelease kernel,
                                             std::vector<std::string>& names) {
    std::vector<const Feature*> missing;
    for (Kind kind : {Kind::incompat, Kind::ro_compat}) {
        uint32_t unknown = flags_of(volume, kind);
        for (const Feature& feature : features) {
            if (feature.kind != kind) continue;
            unknown &= ~feature.mask;
            if ((flags_of(volume, kind) & feature.mask) && older(kernel, feature.since)) {
                missing.push_back(&feature);
                names.push_back(feature.name);
            }
        }
        for (uint32_t bit = 1; bit != 0; bit <<= 1) {
            if ((unknown & bit) == 0) continue;
            char name[64];
            snprintf(name, sizeof name, "an unknown %s feature 0x%x",
                     kind == Kind::incompat ? "incompatible" : "read-only-compatible", bit);
            missing.push_back(nullptr);
            names.push_back(name);
        }
    }
    return missing;
}

std::string joined(const std::vector<std::string>& names) {
    std::string text;
    for (size_t i = 0; i < names.size(); ++i)
        text += (i == 0 ? "" : i + 1 == names.size() ? " and " : ", ") + names[i];
    return text;
}

}  // namespace

ExtVolume decode_ext_superblock(const unsigned char* block) {
    ExtVolume volume;
    memcpy(volume.label, block + label_at, ext_label_size);
    volume.label[ext_label_size] = '\0';
    volume.magic = (block[magic_at] | block[magic_at + 1] << 8) == ext_magic;
    volume.compat = u32_at(block, compat_at);
    volume.incompat = u32_at(block, incompat_at);
    volume.ro_compat = u32_at(block, ro_compat_at);
    return volume;
}

bool read_ext_volume(const char* device, ExtVolume& volume) {
    const int fd = kernel().open(device, O_RDONLY);
    if (fd < 0) return false;
    unsigned char block[ext_superblock_size];
    size_t got = 0;
    int err = EIO;  // a device too short for a superblock
    if (kernel().lseek(fd, ext_superblock_offset, SEEK_SET) != ext_superblock_offset) err = errno;
    while (err == EIO && got < sizeof block) {
        const ssize_t n = kernel().read(fd, block + got, sizeof block - got);
        if (n < 0) err = errno;
        if (n <= 0) break;
        got += static_cast<size_t>(n);
    }
    kernel().close(fd);
    if (got < sizeof block) {
        errno = err;
        return false;
    }
    volume = decode_ext_superblock(block);
    return true;
}

KernelRelease kernel_release_of(const char* release) {
    char* end = nullptr;
    const long major = strtol(release, &end, 10);
    if (end == release || major < 0 || major > 999) return {0, 0};
    const long minor = *end == '.' ? strtol(end + 1, nullptr, 10) : 0;
    return {static_cast<int>(major), static_cast<int>(minor < 0 || minor > 999 ? 0 : minor)};
}

std::string ext_mount_problem(const ExtVolume& volume, KernelRelease kernel) {
    if (!volume.magic) return "";
    std::vector<std::string> names;
    missing_features(volume, kernel, names);
    if (!names.empty()) {
        char release[32];
        snprintf(release, sizeof release, "%d.%d", kernel.major, kernel.minor);
        return "uses " + joined(names) + ", which Linux " + release + " lacks";
    }
    // obinit mounts the medium with full data journalling.
    if ((volume.compat & compat_has_journal) == 0) return "has no journal";
    return "";
}

std::string ext_fix_command(const ExtVolume& volume, KernelRelease kernel, const char* device) {
    if (!volume.magic) return "";
    std::vector<std::string> names;
    std::vector<std::string> off;
    for (const Feature* feature : missing_features(volume, kernel, names)) {
        if (feature == nullptr || feature->turned_off == nullptr)
            return std::string("copy the files off and make it anew: mke2fs -t ext4 ") +
                   box_mke2fs_options + " -L " + volume.label + " " + device;
        off.push_back(std::string("^") + feature->turned_off);
    }
    if (!off.empty()) {
        std::string list;
        for (const std::string& name : off)
            list += (list.empty() ? "" : ",") + name;
        return std::string("e2fsck -f ") + device + " && tune2fs -O " + list + " " + device +
               " && e2fsck -f " + device;
    }
    if ((volume.compat & compat_has_journal) == 0) return std::string("tune2fs -j ") + device;
    return "";
}

}  // namespace ob
