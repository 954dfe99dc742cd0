// The start-up's small rules and the partition scan's parsers.
#include <gtest/gtest.h>

#include "obinit.h"
#include "obinit_box.h"

namespace {

using obinit::state;

TEST(CommandCode, NamesThenLeadingNumber) {
    EXPECT_EQ(obinit::command_code_from("start"), 900);
    EXPECT_EQ(obinit::command_code_from("started"), 900);
    EXPECT_EQ(obinit::command_code_from("link"), 999);
    EXPECT_EQ(obinit::command_code_from("linked"), 0);
    EXPECT_EQ(obinit::command_code_from("911"), 911);
    EXPECT_EQ(obinit::command_code_from("3"), 3);
    EXPECT_EQ(obinit::command_code_from("-1"), -1);
    EXPECT_EQ(obinit::command_code_from("abc"), 0);
}

TEST(Makedev, KernelEncodingWithHighMinorBitsAbove) {
    EXPECT_EQ(obinit::makedev(179, 256), 0x10B300u);
    EXPECT_EQ(obinit::makedev(8, 17), 0x811u);
    EXPECT_EQ(obinit::makedev(212, 35), 0xD423u);
    EXPECT_EQ(obinit::makedev(4095, 0xFFFFF), 0xFFFFFFFFu);
}

// A line as the scan sees it: without its line feed.
bool candidate(const std::string& line, obinit::Partition& out) {
    return obinit::boot_candidate(line.substr(0, line.size() - 1).c_str(), out);
}

TEST(PartitionLine, PartitionsOfDisksAndCardsOnly) {
    using ob_test::partition_line;
    obinit::Partition p;
    ASSERT_TRUE(candidate(partition_line(8, 17, "sdb1"), p));
    EXPECT_STREQ(p.device, "/dev/sdb1");
    EXPECT_EQ(p.major, 8);
    EXPECT_EQ(p.minor, 17);
    ASSERT_TRUE(candidate(partition_line(179, 1, "mmcblk0p1"), p));
    EXPECT_STREQ(p.device, "/dev/mmcblk0p1");
    EXPECT_EQ(p.minor, 1);
    EXPECT_FALSE(candidate(partition_line(8, 0, "sda"), p));
    EXPECT_FALSE(candidate(partition_line(179, 0, "mmcblk0"), p));
    EXPECT_FALSE(candidate(partition_line(259, 1, "nvme0n1p1"), p));
    EXPECT_FALSE(candidate(partition_line(31, 2, "mtdblock2"), p));
}

TEST(PartitionLine, ShortAndOverlongLinesAreNeverCandidates) {
    obinit::Partition p;
    for (const char* line : {"", "   8", "   8        1", "   8        1    1000000 "})
        EXPECT_FALSE(obinit::boot_candidate(line, p)) << '"' << line << '"';
    // "/dev/" and 26 characters fill boot_device; one more would be cut.
    const std::string longest(26, 'a');
    ASSERT_TRUE(candidate(ob_test::partition_line(8, 1, longest), p));
    EXPECT_EQ(std::string(p.device), "/dev/" + longest);
    EXPECT_FALSE(candidate(ob_test::partition_line(8, 1, longest + "1"), p));
}

class VolumeLabel : public ::testing::Test {
protected:
    std::string label_of(const std::string& image) {
        box.write_file("/dev/sdz1", image);
        obinit::read_volume_label("/dev/sdz1");
        return state().volume_label;
    }
    ob_test::FakeKernel box;
};

TEST_F(VolumeLabel, ExtThenFat16AndFat32Override) {
    EXPECT_EQ(label_of(ob_test::ext_volume("obimages")), "obimages");
    EXPECT_EQ(label_of(ob_test::ext_volume("0123456789abcdefXYZ")), "0123456789abcdef");
    EXPECT_EQ(label_of(ob_test::fat_volume("FAT16", "ob16       ")), "ob16       ");
    EXPECT_EQ(label_of(ob_test::fat_volume("FAT32", "OBSTICK    ")), "OBSTICK    ");
    // FAT12 is neither: judged by the bytes where an ext name would be.
    std::string fat12 = ob_test::fat_volume("FAT16", "ob12");
    fat12.replace(54, 5, "FAT12");
    fat12.replace(1144, 6, "ob1144");
    EXPECT_EQ(label_of(fat12), "ob1144");
}

TEST_F(VolumeLabel, UnreadableDevicesLeaveTheLastCandidate) {
    label_of(ob_test::ext_volume("data"));
    EXPECT_EQ(label_of(std::string(1500, 'x')), "data");  // shorter than the superblock's end
    obinit::read_volume_label("/dev/missing");
    EXPECT_STREQ(state().volume_label, "data");
}

}  // namespace
