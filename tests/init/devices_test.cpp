// Devices: the kernel's device numbers, the volume label read from a
// device, and the device nodes each box model gets.
#include <gtest/gtest.h>

#include <sstream>

#include "device_nodes.h"
#include "medium_discovery.h"
#include "obinit_box.h"

namespace {

using obinit::state;

TEST(Makedev, KernelEncodingWithHighMinorBitsAbove) {
    EXPECT_EQ(obinit::makedev(179, 256), 0x10B300u);
    EXPECT_EQ(obinit::makedev(4095, 0xFFFFF), 0xFFFFFFFFu);
}

TEST(VolumeLabel, ExtThenFat16AndFat32OverrideUnreadableKeepsTheLast) {
    const std::pair<std::string, const char*> cases[] = {
        {ob_test::ext_volume("0123456789abcdefXYZ"), "0123456789abcdef"},
        {ob_test::fat_volume("FAT16", "ob16       "), "ob16       "},
        {ob_test::fat_volume("FAT32", "OBSTICK    "), "OBSTICK    "},
        // Neither ext nor FAT: the bytes where an ext name would be.
        {std::string(1144, '\0') + "ob1144" + std::string(900, '\0'), "ob1144"},
        {std::string(1500, 'x'), "ob1144"},  // shorter than the superblock's end
    };
    ob_test::FakeKernel box;
    for (const auto& c : cases) {
        box.write_file("/dev/sdz1", c.first);
        obinit::read_volume_label("/dev/sdz1");
        EXPECT_STREQ(state().volume_label, c.second);
    }
    obinit::read_volume_label("/dev/missing");
    EXPECT_STREQ(state().volume_label, "ob1144");
}

// "mode:device number" of each node named (below /dev/), "-" for none.
std::string nodes(const ob_test::FakeKernel& box, const std::string& names) {
    std::istringstream in(names);
    std::string name, made;
    while (in >> name) {
        const auto it = box.nodes.find("/dev/" + name);
        char text[32] = "-";
        if (it != box.nodes.end())
            snprintf(text, sizeof text, "%#o:%#x", static_cast<unsigned>(it->second.mode),
                     static_cast<unsigned>(it->second.dev));
        made += (made.empty() ? "" : " ") + std::string(text);
    }
    return made;
}

TEST(DeviceNodes, EachModelGetsItsFlashDisplayAndTunerSets) {
    const struct {
        int model;
        size_t count;
        const char* names;
        const char* made;
    } cases[] = {
        {3, 42, "mtd4 mtdblock4 mmcblk0 dbox/lcd0 dvb/adapter0/audio0 dvb/adapter0/dvr4",
         "020660:0x5a08 060640:0x1f04 - - 020660:0xd415 020660:0xd412"},
        {4, 50,
         "mtd0 mtdblock2 mmcblk0boot1 dbox/oled0 urandom dvb/adapter0/audio2 "
         "dvb/adapter0/dvr5 dvb/adapter0/dvr6",
         "- 060640:0x1f02 060660:0xb310 020660:0xa3b 020600:0x109 020660:0xd41d 020660:0xd416 -"},
        {1, 58, "dvb/adapter0/net7 dvb/adapter0/audio0 dvb/adapter0/dvr7",
         "020660:0xd41f 020660:0xd423 020660:0xd41e"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.model);
        ob_test::FakeKernel box;
        box.make_dir("/dev");
        box.write_file("/sys/class/dvb/dvb0.frontend0/dev", "212:5\n");
        box.write_file("/sys/class/dvb/dvb0.video0/dev", "212:22\n");
        box.write_file("/sys/class/dvb/dvb0.video1/dev", "21");  // cut short: no node
        state().box_model = c.model;
        obinit::make_mtd_nodes();
        obinit::make_device_nodes();
        EXPECT_EQ(box.calls_starting("mknod(").size(), c.count);
        EXPECT_EQ(nodes(box, c.names), c.made);
        EXPECT_EQ(nodes(box, "dvb/adapter0/frontend0 dvb/adapter0/video0 dvb/adapter0/video1"),
                  "020660:0xd405 020660:0xd416 -");
        // Every node is made with the creation mask cleared just before.
        for (size_t i = 1; i < box.calls.size(); ++i)
            if (box.calls[i].rfind("mknod(", 0) == 0) {
                EXPECT_EQ(box.calls[i - 1], "umask(0)");
            }
    }
}

}  // namespace
