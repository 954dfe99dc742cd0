// The RAM-backed flash replacement: MTD partition 2 on dm520, /dev/mmcblk0
// elsewhere, and every way its set-up can end early.
#include <errno.h>
#include <gtest/gtest.h>
#include <linux/loop.h>
#include <stdio.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "fake_kernel.h"
#include "loop_device.h"
#include "obinit.h"

namespace {

using ob_test::FakeDevice;
using ob_test::FakeKernel;
using ob_test::FakeLoopDevice;

constexpr const char* block2mtd = "/sys/module/block2mtd/parameters/block2mtd";

std::string ioctl_call(const char* node, unsigned long request) {
    char line[96];
    snprintf(line, sizeof line, "ioctl(\"%s\", %#lx)", node, request);
    return line;
}

class FlashEmulation : public ::testing::Test {
protected:
    FakeKernel k;

    FlashEmulation() {
        k.make_dir("/var/volatile");
        k.make_dir("/sys/module/block2mtd/parameters");
        for (const char* node : {"/dev/mtd2", "/dev/mtd2ro", "/dev/mtdblock2", "/dev/mtd5",
                                 "/dev/mtd5ro", "/dev/mtdblock5", "/dev/mmcblk0", "/dev/mmcblk0p1"})
            k.write_file(node, "");
    }
    FakeLoopDevice& loop(const char* node) {
        return k.add_device(node, std::make_unique<FakeLoopDevice>());
    }
    FakeDevice& block2mtd_driver() {
        return k.add_device(block2mtd, std::make_unique<FakeDevice>());
    }
    off_t size_of(const char* path) {
        struct stat st;
        return k.stat(path, &st) == 0 ? st.st_size : -1;
    }
};

TEST_F(FlashEmulation, Dm520ReplacesMtdPartition2ThroughLoop7AndBlock2mtd) {
    FakeLoopDevice& loop7 = loop("/dev/loop7");
    FakeDevice& driver = block2mtd_driver();
    EXPECT_EQ(obinit::emulate_mtd(2, 7, 5120), 0);

    EXPECT_EQ(size_of("/var/volatile/.mtd2"), 5120 * 1024);
    EXPECT_TRUE(loop7.only_name_set("/dev/mtd2"));
    EXPECT_GT(loop7.backing_fd, 2);
    EXPECT_EQ(driver.written, "/dev/loop7,0x20000,0x800");  // no terminator, no line feed
    const std::vector<std::string> expected = {
        "unlink(\"/dev/mtd2\")",
        "unlink(\"/dev/mtd2ro\")",
        "unlink(\"/dev/mtdblock2\")",
        "umask(0)",
        "mknod(\"/dev/loop7\", 060600, 0x707)",
        "open(\"/dev/loop7\", 0x2)",
        ioctl_call("/dev/loop7", LOOP_SET_FD),
        ioctl_call("/dev/loop7", LOOP_SET_STATUS),
        "open(\"/sys/module/block2mtd/parameters/block2mtd\", 0x1)",
        "sleep(1000000)",
        "rename(\"/dev/mtd5\", \"/dev/mtd2\")",
        "rename(\"/dev/mtd5ro\", \"/dev/mtd2ro\")",
        "rename(\"/dev/mtdblock5\", \"/dev/mtdblock2\")",
    };
    EXPECT_EQ(k.calls, expected);
    EXPECT_EQ(k.stderr_text, "");
    const std::string backing = k.read_file("/var/volatile/.mtd2");
    EXPECT_EQ(backing.find_first_not_of('\xFF'), std::string::npos) << "reads as erased flash";
}

TEST_F(FlashEmulation, OtherModelsReplaceMmcblk0ThroughLoop8) {
    FakeLoopDevice& loop8 = loop("/dev/mmcblk0");
    EXPECT_EQ(obinit::emulate_mmcblk(0, 8, 16384), 0);

    EXPECT_EQ(size_of("/var/volatile/.mmcblk0"), 16384 * 1024);
    EXPECT_TRUE(loop8.only_name_set("/dev/mmcblk0"));
    // The calls themselves are pinned down by the whole image preparation.
    struct stat disk, partition;
    ASSERT_EQ(k.stat("/dev/mmcblk0", &disk), 0);
    ASSERT_EQ(k.stat("/dev/mmcblk0p1", &partition), 0);
    EXPECT_EQ(disk.st_ino, partition.st_ino) << "one node under two names";
    EXPECT_EQ(k.stderr_text, "");
}

TEST_F(FlashEmulation, LeftoversAreReusedOrReportedAndTheEmulationGoesOn) {
    k.write_file("/var/volatile/.mtd2", std::string(3000, 'x'));  // used with its own size
    k.write_file("/dev/loop7", "");
    FakeLoopDevice& loop7 = loop("/dev/loop7");
    FakeDevice& driver = block2mtd_driver();
    obinit::emulate_mtd(2, 7, 5120);
    EXPECT_EQ(k.stderr_text, "/dev/loop7: File exists\n");
    EXPECT_EQ(k.read_file("/var/volatile/.mtd2"), std::string(3000, 'x'));
    EXPECT_TRUE(loop7.only_name_set("/dev/mtd2"));
    EXPECT_EQ(driver.written, "/dev/loop7,0x20000,0x800");
    EXPECT_EQ(k.calls_starting("rename(").size(), 3u);
}

TEST_F(FlashEmulation, EachFailureEndsTheSetUpWithItsMessage) {
    struct Case {
        const char* what;
        std::function<void(FakeKernel&, FakeLoopDevice&)> arrange;
        const char* message;
    };
    const Case cases[] = {
        {"backing file refused",
         [](FakeKernel& k, FakeLoopDevice&) {
             k.write_file("/var/volatile/.mtd2", "old");
             k.fail_open("/var/volatile/.mtd2", EACCES);
         },
         "/var/volatile/.mtd2: Permission denied\n"},
        {"loop node refused",
         [](FakeKernel& k, FakeLoopDevice&) { k.fail_open("/dev/loop7", ENXIO); },
         "/dev/loop7: No such device or address\n"},
        {"loop device busy", [](FakeKernel&, FakeLoopDevice& loop) { loop.refuse_set_fd = EBUSY; },
         "LOOP_SET_FD: Device or resource busy\n"},
        {"status refused",
         [](FakeKernel&, FakeLoopDevice& loop) { loop.refuse_set_status = EINVAL; },
         "LOOP_SET_STATUS: Invalid argument\n"},
        {"empty backing file",
         [](FakeKernel& k, FakeLoopDevice&) { k.write_file("/var/volatile/.mtd2", ""); }, ""},
    };
    for (const Case& c : cases) {
        FakeKernel k;
        k.make_dir("/dev");
        k.make_dir("/var/volatile");
        FakeLoopDevice& loop7 = k.add_device("/dev/loop7", std::make_unique<FakeLoopDevice>());
        FakeDevice& driver = k.add_device(block2mtd, std::make_unique<FakeDevice>());
        c.arrange(k, loop7);
        EXPECT_EQ(obinit::emulate_mtd(2, 7, 5120), 0) << c.what;
        EXPECT_EQ(k.stderr_text, c.message) << c.what;
        EXPECT_EQ(driver.written, "") << c.what << ": block2mtd is not asked";
        EXPECT_TRUE(k.calls_starting("sleep(").empty()) << c.what;
        EXPECT_TRUE(k.calls_starting("rename(").empty()) << c.what;
    }

    // The same ends on the MMC path: no hard link for the partition.
    FakeKernel k;
    k.make_dir("/dev");
    k.make_dir("/var/volatile");
    k.add_device("/dev/mmcblk0", std::make_unique<FakeLoopDevice>()).refuse_set_fd = EBUSY;
    obinit::emulate_mmcblk(0, 8, 16384);
    EXPECT_EQ(k.stderr_text, "LOOP_SET_FD: Device or resource busy\n");
    EXPECT_TRUE(k.calls_starting("link(").empty());
}

TEST_F(FlashEmulation, WithoutBlock2mtdTheMtdNodesAreNotRenamed) {
    FakeLoopDevice& loop7 = loop("/dev/loop7");
    k.fail_open(block2mtd, ENOENT);
    obinit::emulate_mtd(2, 7, 5120);
    EXPECT_TRUE(loop7.only_name_set("/dev/mtd2"));
    EXPECT_EQ(k.stderr_text,
              "/sys/module/block2mtd/parameters/block2mtd: No such file or directory\n");
    EXPECT_TRUE(k.calls_starting("sleep(").empty());
    EXPECT_TRUE(k.calls_starting("rename(").empty());
    EXPECT_TRUE(k.exists("/dev/mtd5")) << "another device's node stays where it is";
}

}  // namespace
