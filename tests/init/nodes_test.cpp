// The device nodes each box model gets.
#include <gtest/gtest.h>

#include <sstream>

#include "fake_kernel.h"
#include "obinit.h"

namespace {

class Nodes : public ::testing::Test {
protected:
    void make_for(int model) {
        box.make_dir("/dev");
        obinit::state().box_model = model;
        obinit::make_mtd_nodes();
        obinit::make_device_nodes();
    }
    bool has(const std::string& path) const { return box.nodes.count(path) == 1; }
    // "name:minor" of the DVB adapter nodes in creation order.
    std::string adapter() const {
        std::ostringstream out;
        for (const std::string& call : box.calls_starting("mknod(\"/dev/dvb/adapter0/")) {
            const std::string path = call.substr(7, call.find('"', 7) - 7);
            out << path.substr(18) << ':' << (box.nodes.at(path).dev & 0xff) << ' ';
        }
        return out.str();
    }
    ob_test::FakeKernel box;
};

TEST_F(Nodes, Dm520HasRawFlashAndNoCardOrDisplay) {
    make_for(3);
    for (const char* path : {"/dev/mtd0", "/dev/mtd4", "/dev/mtdblock3", "/dev/mtdblock4"})
        EXPECT_TRUE(has(path)) << path;
    for (const char* path : {"/dev/mmcblk0", "/dev/mmcblk1p1", "/dev/dbox/lcd0", "/dev/dbox/oled0"})
        EXPECT_FALSE(has(path)) << path;
    EXPECT_EQ(box.nodes.at("/dev/mtd4").mode, static_cast<mode_t>(S_IFCHR | 0660));
    EXPECT_EQ(box.nodes.at("/dev/mtd4").dev, 0x5a08u);
    EXPECT_EQ(box.nodes.at("/dev/mtdblock4").mode, static_cast<mode_t>(S_IFBLK | 0640));
    EXPECT_EQ(adapter(),
              "net0:3 net1:7 net2:11 net3:15 net4:19 audio0:21 ca0:0 ca1:4 ca2:8 ca3:12 ca4:16 "
              "demux0:1 demux1:5 demux2:9 demux3:13 demux4:17 dvr0:2 dvr1:6 dvr2:10 dvr3:14 "
              "dvr4:18 ");
}

TEST_F(Nodes, Dm900HasEmmcDisplayAndSixTunerSets) {
    make_for(4);
    EXPECT_FALSE(has("/dev/mtd0") || has("/dev/mtdblock3"));
    EXPECT_TRUE(has("/dev/mtdblock2") && has("/dev/dbox/lcd0"));
    EXPECT_EQ(box.nodes.at("/dev/mmcblk0boot1").dev, 0xb310u);
    EXPECT_EQ(box.nodes.at("/dev/mmcblk1p1").mode, static_cast<mode_t>(S_IFBLK | 0660));
    EXPECT_EQ(box.nodes.at("/dev/dbox/oled0").dev, 0xa3bu);
    EXPECT_EQ(box.nodes.at("/dev/urandom").mode, static_cast<mode_t>(S_IFCHR | 0600));
    EXPECT_NE(adapter().find("net5:23 audio0:27 audio1:28 audio2:29 ca0:0"), std::string::npos);
    EXPECT_NE(adapter().find("demux5:21 dvr0:2"), std::string::npos);
}

TEST_F(Nodes, OtherModelsHaveEightTunerSets) {
    make_for(1);
    EXPECT_NE(adapter().find("net7:31 audio0:35 audio1:36 audio2:37 ca0:0"), std::string::npos);
    EXPECT_EQ(adapter().substr(adapter().size() - 8), "dvr7:30 ");
}

TEST_F(Nodes, FrontendsAndVideoFromSysfs) {
    box.write_file("/sys/class/dvb/dvb0.frontend0/dev", "212:5\n");
    box.write_file("/sys/class/dvb/dvb0.video0/dev", "212:22\n");
    box.write_file("/sys/class/dvb/dvb0.video1/dev", "21");  // cut short: no node
    make_for(4);
    EXPECT_EQ(box.nodes.at("/dev/dvb/adapter0/frontend0").dev, 0xd405u);
    EXPECT_EQ(box.nodes.at("/dev/dvb/adapter0/video0").dev, 0xd416u);
    EXPECT_EQ(box.calls_starting("mknod(\"/dev/dvb/adapter0/frontend").size(), 1u);
    EXPECT_EQ(box.calls_starting("mknod(\"/dev/dvb/adapter0/video").size(), 1u);
    // Every node is made with the creation mask cleared just before.
    for (size_t i = 0; i < box.calls.size(); ++i)
        if (box.calls[i].rfind("mknod(", 0) == 0) {
            EXPECT_EQ(box.calls[i - 1], "umask(0)");
        }
}

}  // namespace
