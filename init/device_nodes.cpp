// The device nodes obinit, the menu and a booted image need before any
// device manager runs. Fixed numbers per box model, except the DVB frontends
// and video decoders, whose numbers the driver publishes in sysfs.
//
// A node that already exists stays as it is (mknod fails; nothing to report).
#include "device_nodes.h"

#include <errno.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>

#include "box_model.h"
#include "control_file.h"
#include "kernel.h"
#include "obinit.h"

namespace obinit {

namespace {

enum Models { all_models, dm520_only, not_dm520 };

// A run of count nodes: the i-th (from 0) is named by the format with
// first + i and gets minor + step * i. A single node has a plain path.
struct NodeRun {
    const char* name;
    unsigned first;
    unsigned count;
    mode_t mode;  // type bits and exact permissions
    unsigned major;
    unsigned minor;
    unsigned step;
    Models on;
};

constexpr mode_t chr = S_IFCHR;
constexpr mode_t blk = S_IFBLK;

// The dm520 has raw NAND (mtd character devices and five partitions); the
// others boot from eMMC and only use the first three MTD block devices.
constexpr NodeRun mtd_nodes[] = {
    {"/dev/mtd%u", 0, 5, chr | 0660, 90, 0, 2, dm520_only},
    {"/dev/mtdblock%u", 0, 3, blk | 0640, 31, 0, 1, all_models},
    {"/dev/mtdblock%u", 3, 2, blk | 0640, 31, 3, 1, dm520_only},
};

constexpr const char* node_dirs[] = {"/dev/input", "/dev/net", "/dev/dbox", "/dev/dvb",
                                     "/dev/dvb/adapter0"};

constexpr NodeRun nodes_before_dvb[] = {
    {"/dev/urandom", 0, 1, chr | 0600, 1, 9, 0, all_models},
    // The eMMC and the card slot, absent on the dm520.
    {"/dev/mmcblk0", 0, 1, blk | 0660, 179, 0, 0, not_dm520},
    {"/dev/mmcblk0boot%u", 0, 2, blk | 0660, 179, 8, 8, not_dm520},
    {"/dev/mmcblk0p%u", 1, 2, blk | 0660, 179, 1, 1, not_dm520},
    {"/dev/mmcblk1", 0, 1, blk | 0660, 179, 24, 0, not_dm520},
    {"/dev/mmcblk1p1", 0, 1, blk | 0660, 179, 25, 0, not_dm520},
    {"/dev/net/tun", 0, 1, chr | 0660, 10, 200, 0, all_models},
};

constexpr NodeRun nodes_after_dvb[] = {
    {"/dev/input/event%u", 0, 5, chr | 0660, 13, 64, 1, all_models},
    {"/dev/fb0", 0, 1, chr | 0660, 29, 0, 0, all_models},
    // The front-panel display; the dm520 has none.
    {"/dev/dbox/lcd0", 0, 1, chr | 0660, 10, 60, 0, not_dm520},
    {"/dev/dbox/oled0", 0, 1, chr | 0660, 10, 59, 0, not_dm520},
    {"/dev/tpm0", 0, 1, chr | 0660, 10, 58, 0, all_models},
};

// DVB adapter 0: per tuner set a net, ca, demux and dvr node, with minors
// 4i + offset; the audio decoders have their own minors per model.
constexpr const char* dvb_adapter_dir = "/dev/dvb/adapter0";
constexpr unsigned dvb_major = 212;
constexpr mode_t dvb_mode = chr | 0660;

struct DvbSetKind {
    const char* name;
    unsigned minor_offset;
};
constexpr DvbSetKind net_kind = {"net", 3};
constexpr DvbSetKind kinds_after_audio[] = {{"ca", 0}, {"demux", 1}, {"dvr", 2}};

struct DvbLayout {
    unsigned sets;
    unsigned first_audio_minor;
    unsigned audio_decoders;
};
constexpr DvbLayout dm520_dvb = {5, 21, 1};
constexpr DvbLayout dm900_dvb = {6, 27, 3};
constexpr DvbLayout other_dvb = {8, 35, 3};

// Frontends and video decoders as the driver registered them.
constexpr const char* sysfs_dvb_kinds[] = {"frontend", "video"};
constexpr unsigned sysfs_dvb_per_kind = 6;
// The sysfs line reads "212:20": the minor follows the three-digit major and
// the colon, at most two digits.
constexpr size_t sysfs_minor_at = 4;
constexpr size_t sysfs_minor_digits = 2;

bool is_dm520() { return state().box_model == ob::model_dm520; }

bool applies(Models on) {
    switch (on) {
        case dm520_only:
            return is_dm520();
        case not_dm520:
            return !is_dm520();
        case all_models:
            break;
    }
    return true;
}

template <size_t N>
void make_fixed_nodes(const NodeRun (&table)[N]) {
    for (const NodeRun& run : table) {
        if (!applies(run.on)) continue;
        for (unsigned i = 0; i < run.count; ++i) {
            char path[64];
            snprintf(path, sizeof path, run.name, run.first + i);
            make_node(path, run.mode, run.major, run.minor + run.step * i);
        }
    }
}

void make_dvb_node(const char* name, unsigned index, unsigned minor) {
    char path[64];
    snprintf(path, sizeof path, "%s/%s%u", dvb_adapter_dir, name, index);
    make_node(path, dvb_mode, dvb_major, minor);
}

void make_dvb_set(const DvbSetKind& kind, unsigned sets) {
    for (unsigned i = 0; i < sets; ++i)
        make_dvb_node(kind.name, i, 4 * i + kind.minor_offset);
}

const DvbLayout& dvb_layout() {
    if (is_dm520()) return dm520_dvb;
    if (state().box_model == ob::model_dm900) return dm900_dvb;
    return other_dvb;
}

void make_dvb_adapter_nodes() {
    const DvbLayout& layout = dvb_layout();
    make_dvb_set(net_kind, layout.sets);
    for (unsigned i = 0; i < layout.audio_decoders; ++i)
        make_dvb_node("audio", i, layout.first_audio_minor + i);
    for (const DvbSetKind& kind : kinds_after_audio)
        make_dvb_set(kind, layout.sets);
}

// The minor from a sysfs "dev" line, or -1 when the line has none where it
// belongs (such a node is left out rather than given a wrong number).
int sysfs_minor(const char* line) {
    if (strlen(line) <= sysfs_minor_at) return -1;
    const char* digits = line + sysfs_minor_at;
    int minor = -1;
    for (size_t i = 0; i < sysfs_minor_digits && digits[i] >= '0' && digits[i] <= '9'; ++i)
        minor = (minor < 0 ? 0 : minor * 10) + (digits[i] - '0');
    return minor;
}

void make_sysfs_dvb_nodes() {
    for (const char* kind : sysfs_dvb_kinds) {
        for (unsigned i = 0; i < sysfs_dvb_per_kind; ++i) {
            char sysfs_file[64];
            snprintf(sysfs_file, sizeof sysfs_file, "/sys/class/dvb/dvb0.%s%u/dev", kind, i);
            char line[16];
            if (ob::read_control_file(sysfs_file, line, sizeof line, sizeof line - 1) < 0) continue;
            const int minor = sysfs_minor(line);
            if (minor >= 0) make_dvb_node(kind, i, static_cast<unsigned>(minor));
        }
    }
}

}  // namespace

// The kernel's 32-bit device number: minor bits 0-7, major bits 8-19, the
// minor's bits 8-19 in bits 20-31.
dev_t makedev(unsigned major, unsigned minor) {
    const uint32_t encoded = (minor & 0xffu) | ((major & 0xfffu) << 8) | ((minor & 0xfff00u) << 12);
    return static_cast<dev_t>(encoded);
}

int make_node(const char* path, mode_t mode, unsigned major, unsigned minor) {
    ob::kernel().umask(0);
    return ob::kernel().mknod(path, mode, makedev(major, minor));
}

void remove_path(const char* path) {
    if (ob::kernel().unlink(path) != 0 && errno == EISDIR) ob::kernel().rmdir(path);
}

void make_mtd_nodes() { make_fixed_nodes(mtd_nodes); }

void make_device_nodes() {
    for (const char* dir : node_dirs)
        ob::kernel().mkdir(dir, 0777);  // may exist already
    make_fixed_nodes(nodes_before_dvb);
    make_dvb_adapter_nodes();
    make_fixed_nodes(nodes_after_dvb);
    make_sysfs_dvb_nodes();
}

}  // namespace obinit
