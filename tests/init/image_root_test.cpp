// Preparing an image root after the switch into it: the fake's "/" is the
// image's root, with the medium (on /dev/sda1) carried in at /media/ob.
#include <errno.h>
#include <gtest/gtest.h>
#include <stdio.h>

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
using Calls = std::vector<std::string>;

const std::string mount_medium =
    "mount(\"/dev/sda1\", \"/media/ob\", \"ext4\", 0xc0ed0c00, \"barrier=1,data=journal\")";

const std::string two_line_table = "/dev/root / auto defaults 1 1\nproc /proc proc defaults 0 0\n";

const char* const units[] = {
    "/lib/systemd/system/systemd-sysctl.service",
    "/lib/systemd/system/systemd-udevd.service",
    "/lib/systemd/system/systemd-udev-settle.service",
    "/lib/systemd/system/systemd-udev-trigger.service",
    "/lib/systemd/system/connman.service",
    "/lib/systemd/system/systemd-timesyncd.service",
};

class ImagePreparation : public ::testing::Test {
protected:
    FakeKernel k;
    FakeLoopDevice* loop = nullptr;

    explicit ImagePreparation(int box_model = 4) {
        obinit::state() = obinit::RunState();
        obinit::state().box_model = box_model;
        snprintf(obinit::state().boot_device, obinit::boot_device_size, "/dev/sda1");
        for (const char* dir : {"/dev", "/sys", "/proc", "/tmp", "/media/ob", "/etc/rcS.d"})
            k.make_dir(dir);
        k.write_file("/media/ob/ob.sh", "medium");
        const char* node = box_model == 3 ? "/dev/loop7" : "/dev/mmcblk0";
        loop = &k.add_device(node, std::make_unique<FakeLoopDevice>());
    }

    void add_systemd_units() {
        k.write_file(units[0], "[Unit]\nConditionPathIsReadWrite=/proc/sys/\n");
        k.write_file(units[1],
                     "[Unit]\nConditionPathIsReadWrite=/sys\n[Service]\nMountFlags=slave\n");
        k.write_file(units[2], "[Unit]\nConditionPathIsReadWrite=/sys\n");
        k.write_file(units[3], "[Unit]\nConditionPathIsReadWrite=/sys\n");
        k.write_file(units[4], "[Service]\nProtectHome=true\nProtectSystem=full\n");
        k.write_file(units[5],
                     "[Service]\nPrivateTmp=yes\nPrivateDevices=yes\nProtectSystem=full\n"
                     "ProtectHome=yes\n");
    }

    // The fstab outcome of one preparation of an image with this table.
    std::string fstab_after(const std::string& table) {
        k.write_file("/etc/fstab", table);
        obinit::prepare_image_root();
        return k.read_file("/etc/fstab");
    }
};

class Dm520ImagePreparation : public ImagePreparation {
protected:
    Dm520ImagePreparation() : ImagePreparation(3) {}
};

// The kernel file-system table's calls, in order.
const Calls kernel_mounts = {
    "mkdir(\"/dev/pts\", 0777)",
    "mount(\"devpts\", \"/dev/pts\", \"devpts\", 0xc0ed000a, \"gid=5,mode=620\")",
    "mkdir(\"/dev/shm\", 0777)",
    "mount(\"tmpfs\", \"/dev/shm\", \"tmpfs\", 0xc0ed0002, NULL)",
    "mount(\"proc\", \"/proc\", \"proc\", 0x0, NULL)",
    "mkdir(\"/run\", 0777)",
    "mount(\"tmpfs\", \"/run\", \"tmpfs\", 0xc0ed0006, \"mode=755\")",
    "mount(\"tmpfs\", \"/tmp\", \"tmpfs\", 0xc0ed0000, NULL)",
    "mkdir(\"/var\", 0777)",
    "mkdir(\"/var/volatile\", 0777)",
    "mount(\"tmpfs\", \"/var/volatile\", \"tmpfs\", 0xc0ed0000, \"mode=755\")",
    "mkdir(\"/var/volatile/tmp\", 0777)",
    "mkdir(\"/var/volatile/log\", 0777)",
    "mkdir(\"/sys/fs\", 0777)",
    "mkdir(\"/sys/fs/cgroup\", 0777)",
    "mount(\"tmpfs\", \"/sys/fs/cgroup\", \"tmpfs\", 0xc0ed000e, \"mode=755\")",
    "mkdir(\"/sys/fs/cgroup/systemd\", 0777)",
    "mkdir(\"/sys/fs/cgroup/cpuset\", 0777)",
    "mkdir(\"/sys/fs/cgroup/cpu,cpuacct\", 0777)",
    "mkdir(\"/sys/fs/cgroup/devices\", 0777)",
    "mkdir(\"/sys/fs/cgroup/freezer\", 0777)",
};

Calls edit_of(const std::string& path) {
    return {"fsync(\"" + path + ".obnew\")", "rename(\"" + path + ".obnew\", \"" + path + "\")"};
}

Calls joined(std::initializer_list<Calls> parts) {
    Calls all;
    for (const Calls& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

TEST_F(ImagePreparation, SystemdImageOnDm900GetsEveryStepInOrder) {
    k.write_file("/boot/zImage", "kernel");
    k.write_file("/etc/fstab", two_line_table);
    k.write_file("/media/ob/swapfile", "swap");
    add_systemd_units();

    obinit::prepare_image_root();

    Calls unit_edits;  // in the table's order; edits 2 and 3 each on its own
    for (int unit : {0, 1, 1, 2, 3, 4, 4, 5, 5, 5, 5})
        unit_edits = joined({unit_edits, edit_of(units[unit])});
    EXPECT_EQ(k.calls,
              joined({edit_of("/etc/fstab"),
                      {"swapon(\"/media/ob/swapfile\", 0x8000)"},
                      unit_edits,
                      kernel_mounts,
                      {"unlink(\"/dev/mmcblk0\")", "unlink(\"/dev/mmcblk0p1\")", "umask(0)",
                       "mknod(\"/dev/mmcblk0\", 060600, 0x708)", "open(\"/dev/mmcblk0\", 0x2)",
                       "ioctl(\"/dev/mmcblk0\", 0x4c00)", "ioctl(\"/dev/mmcblk0\", 0x4c02)",
                       "link(\"/dev/mmcblk0\", \"/dev/mmcblk0p1\")"}}));
    EXPECT_EQ(k.stderr_text, "");
    EXPECT_EQ(k.read_file("/etc/fstab"), "#" + two_line_table);
    EXPECT_EQ(k.read_file(units[1]),
              "[Unit]\n#ConditionPathIsReadWrite=/sys\n[Service]\n#MountFlags=slave\n");
    EXPECT_EQ(k.read_file(units[5]),
              "[Service]\n#PrivateTmp=yes\n#PrivateDevices=yes\n#ProtectSystem=full\n"
              "#ProtectHome=yes\n");
    EXPECT_TRUE(loop->only_name_set("/dev/mmcblk0"));

    // A second boot of the same image edits nothing again.
    k.calls.clear();
    obinit::prepare_image_root();
    EXPECT_TRUE(k.calls_starting("rename(").empty());
    EXPECT_EQ(k.read_file("/etc/fstab"), "#" + two_line_table);
}

TEST_F(Dm520ImagePreparation, MdevImageGetsItsStartLinkAndASecondMountOfTheMedium) {
    k.write_file("/sbin/mdev", "mdev");
    k.write_file("/sbin/obinit", "what the start link runs");
    FakeDevice& block2mtd =
        k.add_device("/sys/module/block2mtd/parameters/block2mtd", std::make_unique<FakeDevice>());
    obinit::prepare_image_root();

    const Calls expected = joined({{"symlink(\"/sbin/obinit\", \"/etc/rcS.d/S99obinit\")",
                                    "mount(\"tmpfs\", \"/media\", \"tmpfs\", 0x0, \"size=64k\")",
                                    "mkdir(\"/media/ob\", 0777)", mount_medium},
                                   kernel_mounts,
                                   {"unlink(\"/dev/mtd2\")"}});
    ASSERT_GE(k.calls.size(), expected.size());
    EXPECT_EQ(Calls(k.calls.begin(), k.calls.begin() + expected.size()), expected);
    EXPECT_TRUE(loop->only_name_set("/dev/mtd2"));
    EXPECT_EQ(block2mtd.written, "/dev/loop7,0x20000,0x800");

    // The link stays as it is at the next boot.
    k.calls.clear();
    obinit::prepare_image_root();
    EXPECT_TRUE(k.calls_starting("symlink(").empty());
}

TEST_F(ImagePreparation, MountTableIsCommentedOutOnceAndKeptWhole) {
    // Longer than the 2048 bytes a single read would take: every byte stays.
    std::string big;
    for (int i = 0; big.size() < 5000; ++i)
        big += "/dev/sdb" + std::to_string(i) + " /media/disk ext4 defaults 0 0\n";
    big.resize(5000);
    const std::string cases[][2] = {
        {two_line_table, "#" + two_line_table},
        {"#" + two_line_table, "#" + two_line_table},
        {"", ""},  // an empty table has no entry to comment out
        {big, "#" + big},
    };
    for (const auto& c : cases)
        EXPECT_EQ(fstab_after(c[0]), c[1]) << c[0].substr(0, 40);

    // A linked table is edited where it lies, keeping its mode.
    k.write_file("/etc/fstab.real", two_line_table, 0600);
    k.unlink("/etc/fstab");
    k.make_symlink("fstab.real", "/etc/fstab");
    obinit::prepare_image_root();
    EXPECT_EQ(k.read_file("/etc/fstab.real"), "#" + two_line_table);
    struct stat st;
    ASSERT_EQ(k.stat("/etc/fstab.real", &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0600u);
    ASSERT_EQ(k.lstat("/etc/fstab", &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
}

TEST_F(ImagePreparation, SkippedAndFailedStepsNeverStopTheSequence) {
    add_systemd_units();
    k.write_file("/boot/vmlinux.gz", "the dm520 kernel, not this box's");
    k.fail("mount(\"devpts\"", EACCES);
    k.fail("mount(\"proc\"", EBUSY);
    obinit::prepare_image_root();
    EXPECT_FALSE(k.exists("/etc/fstab"));
    EXPECT_TRUE(k.calls_starting("rename(").empty()) << "no unit touched";
    EXPECT_TRUE(k.calls_starting("swapon(").empty()) << "no swap file on the medium";
    EXPECT_EQ(k.stderr_text,
              "mounting /dev/pts: Permission denied\n/proc: Device or resource busy\n");
    EXPECT_EQ(k.calls_starting("mount(").size(), 7u);
    EXPECT_EQ(k.calls_starting("link(").size(), 1u) << "the flash emulation still runs";
}

}  // namespace
