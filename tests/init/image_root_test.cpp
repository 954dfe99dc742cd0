// Preparing an image root after the switch into it (the fake's "/" is the
// image's root, with the medium on /dev/sda1 carried in at /media/ob), and
// the RAM-backed flash replacement it sets up.
#include <errno.h>
#include <gtest/gtest.h>

#include <functional>
#include <memory>

#include "file_edit.h"
#include "flash_emulation.h"
#include "image_root.h"
#include "obinit_box.h"

namespace {

using ob_test::Calls;
using ob_test::joined;

const std::string two_line_table = "/dev/root / auto defaults 1 1\nproc /proc proc defaults 0 0\n";

constexpr const char* block2mtd_parameters = "/sys/module/block2mtd/parameters/block2mtd";

// The units and what they read before their settings are commented out.
const std::pair<std::string, std::string> units[] = {
    {"systemd-sysctl", "[Unit]\nConditionPathIsReadWrite=/proc/sys/\n"},
    {"systemd-udevd", "[Unit]\nConditionPathIsReadWrite=/sys\n[Service]\nMountFlags=slave\n"},
    {"systemd-udev-settle", "[Unit]\nConditionPathIsReadWrite=/sys\n"},
    {"systemd-udev-trigger", "[Unit]\nConditionPathIsReadWrite=/sys\n"},
    {"connman", "[Service]\nProtectHome=true\nProtectSystem=full\n"},
    {"systemd-timesyncd",
     "[Service]\nPrivateTmp=yes\nPrivateDevices=yes\nProtectSystem=full\nProtectHome=yes\n"},
};
std::string unit_path(int unit) { return "/lib/systemd/system/" + units[unit].first + ".service"; }

// The image root as the root switch leaves it, on a dm900 or a dm520 (with
// its MTD nodes and the block2mtd driver).
struct ImageRoot : ob_test::Box {
    ob_test::FakeLoopDevice& loop;
    ob_test::FakeDevice& block2mtd;
    explicit ImageRoot(int box_model = 4)
        : loop(add_device(box_model == 3 ? "/dev/loop7" : "/dev/mmcblk0",
                          std::make_unique<ob_test::FakeLoopDevice>())),
          block2mtd(add_device(block2mtd_parameters, std::make_unique<ob_test::FakeDevice>())) {
        ob_test::started_on(box_model, "/dev/sda1");
        for (const char* dir :
             {"/dev", "/sys", "/proc", "/tmp", "/var/volatile", "/media/ob", "/etc/rcS.d"})
            make_dir(dir);
        for (const char* node : {"mtd2", "mtd2ro", "mtdblock2", "mtd5", "mtd5ro", "mtdblock5"})
            if (box_model == 3) write_file("/dev/" + std::string(node), "");
        write_file("/media/ob/ob.sh", "medium");
    }
    void add_systemd_units() {
        for (int unit = 0; unit < 6; ++unit)
            write_file(unit_path(unit), units[unit].second);
    }
};

// Every mount point is made first (a mount without its own fails here).
const Calls kernel_mounts = {
    R"(mount("devpts", "/dev/pts", "devpts", MS_MGC_VAL|MS_NOSUID|MS_NOEXEC, "gid=5,mode=620"))",
    R"(mount("tmpfs", "/dev/shm", "tmpfs", MS_MGC_VAL|MS_NOSUID, NULL))",
    R"(mount("proc", "/proc", "proc", 0, NULL))",
    R"(mount("tmpfs", "/run", "tmpfs", MS_MGC_VAL|MS_NOSUID|MS_NODEV, "mode=755"))",
    R"(mount("tmpfs", "/tmp", "tmpfs", MS_MGC_VAL, NULL))",
    R"(mount("tmpfs", "/var/volatile", "tmpfs", MS_MGC_VAL, "mode=755"))",
    R"(mount("tmpfs", "/sys/fs/cgroup", "tmpfs", MS_MGC_VAL|MS_NOSUID|MS_NODEV|MS_NOEXEC, "mode=755"))",
};

// One atomic replace: the new contents flushed, renamed over the file, the
// rename flushed with its directory.
Calls edit_of(const std::string& path) {
    return {R"(fsync(")" + path + ".obnew\")", R"(rename(")" + path + ".obnew\", \"" + path + "\")",
            R"(fsync(")" + path.substr(0, path.rfind('/')) + "\")"};
}

TEST(ImagePreparation, SystemdImageOnDm900GetsEveryStepInOrder) {
    ImageRoot k;
    k.write_file("/boot/zImage", "kernel");
    k.write_file("/etc/fstab", two_line_table);
    k.write_file("/media/ob/swapfile", "swap");
    k.add_systemd_units();

    obinit::prepare_image_root();

    Calls unit_edits;  // in the table's order; all edits of a unit in one replace
    for (int unit : {0, 1, 2, 3, 4, 5})
        unit_edits = joined({unit_edits, edit_of(unit_path(unit))});
    EXPECT_EQ(k.calls_except({"mkdir("}),
              joined({edit_of("/etc/fstab"),
                      {R"(swapon("/media/ob/swapfile", SWAP_FLAG_PREFER))"},
                      unit_edits,
                      kernel_mounts,
                      {R"(unlink("/dev/mmcblk0"))", R"(unlink("/dev/mmcblk0p1"))", "umask(0)",
                       R"(mknod("/dev/mmcblk0", 060600, 0x708))", R"(open("/dev/mmcblk0", O_RDWR))",
                       R"(ioctl("/dev/mmcblk0", 0x4c00))", R"(ioctl("/dev/mmcblk0", 0x4c02))",
                       R"(link("/dev/mmcblk0", "/dev/mmcblk0p1"))"}}));
    EXPECT_EQ(k.stderr_text, "");
    for (const char* dir : {"/var/volatile/log", "/sys/fs/cgroup/cpu,cpuacct"})
        EXPECT_TRUE(k.exists(dir)) << dir;
    EXPECT_EQ(k.read_file(unit_path(1)),
              "[Unit]\n#ConditionPathIsReadWrite=/sys\n[Service]\n#MountFlags=slave\n");
    EXPECT_EQ(k.read_file(unit_path(5)),
              "[Service]\n#PrivateTmp=yes\n#PrivateDevices=yes\n#ProtectSystem=full\n"
              "#ProtectHome=yes\n");
    EXPECT_TRUE(k.loop.only_name_set("/dev/mmcblk0"));
    EXPECT_EQ(k.read_file("/var/volatile/.mmcblk0").size(), 16384u * 1024);

    // A second boot of the same image edits nothing again.
    k.calls.clear();
    obinit::prepare_image_root();
    EXPECT_FALSE(k.called("rename("));
    EXPECT_EQ(k.read_file("/etc/fstab"), "#" + two_line_table);

    // A kernel with cgroup namespaces: no cgroup tmpfs that a current
    // systemd would take for a container's.
    k.write_file("/proc/self/ns/cgroup", "");
    k.rmdir("/sys/fs/cgroup/cpu,cpuacct");
    k.calls.clear();
    obinit::prepare_image_root();
    EXPECT_EQ(k.calls_starting("mount("), Calls(kernel_mounts.begin(), kernel_mounts.end() - 1));
    EXPECT_FALSE(k.called(R"(mkdir("/sys/fs/cgroup/cpu,cpuacct")"));
}

TEST(ImagePreparation, MdevImageOnDm520GetsItsStartLinkTheMediumAndMtd2InRam) {
    ImageRoot k(3);
    k.write_file("/sbin/mdev", "mdev");
    k.write_file("/sbin/obinit", "what the start link runs");
    obinit::prepare_image_root();

    EXPECT_EQ(
        k.calls_except({"mkdir("}),
        joined(
            {{R"(symlink("/sbin/obinit", "/etc/rcS.d/S99obinit"))",
              R"(mount("tmpfs", "/media", "tmpfs", 0, "size=64k"))", ob_test::mount_sda1},
             kernel_mounts,
             {R"(unlink("/dev/mtd2"))", R"(unlink("/dev/mtd2ro"))", R"(unlink("/dev/mtdblock2"))",
              "umask(0)", R"(mknod("/dev/loop7", 060600, 0x707))", R"(open("/dev/loop7", O_RDWR))",
              R"(ioctl("/dev/loop7", 0x4c00))", R"(ioctl("/dev/loop7", 0x4c02))",
              R"(open("/sys/module/block2mtd/parameters/block2mtd", O_WRONLY))", "sleep(1000000)",
              R"(rename("/dev/mtd5", "/dev/mtd2"))", R"(rename("/dev/mtd5ro", "/dev/mtd2ro"))",
              R"(rename("/dev/mtdblock5", "/dev/mtdblock2"))"}}));
    EXPECT_EQ(k.stderr_text, "");
    EXPECT_EQ(k.read_file("/var/volatile/.mtd2"), std::string(5120 * 1024, '\xFF'))
        << "reads as erased flash";
    EXPECT_TRUE(k.loop.only_name_set("/dev/mtd2"));
    EXPECT_EQ(k.block2mtd.written, "/dev/loop7,0x20000,0x800");  // no terminator, no line feed

    k.calls.clear();  // the link stays as it is at the next boot
    obinit::prepare_image_root();
    EXPECT_FALSE(k.called("symlink("));
}

TEST(ImagePreparation, MountTableOfAnyLengthIsCommentedOutOnceAndKeptWhole) {
    std::string big;  // longer than any single read would take
    for (int i = 0; big.size() < 5000; ++i)
        big += "/dev/sdb" + std::to_string(i) + " /media/disk ext4 defaults 0 0\n";
    big.resize(5000);
    const std::string cases[][2] = {
        {two_line_table, "#" + two_line_table},
        {"#" + two_line_table, "#" + two_line_table},
        {"", ""},  // an empty table has no entry to comment out
        {big, "#" + big},
    };
    ImageRoot k;
    for (const auto& c : cases) {
        k.write_file("/etc/fstab", c[0]);
        obinit::prepare_image_root();
        EXPECT_EQ(k.read_file("/etc/fstab"), c[1]) << c[0].substr(0, 40);
    }
    k.write_file("/etc/fstab.real", two_line_table);  // a linked table is edited where it lies
    k.unlink("/etc/fstab");
    k.make_symlink("fstab.real", "/etc/fstab");
    obinit::prepare_image_root();
    EXPECT_EQ(k.read_file("/etc/fstab.real"), "#" + two_line_table);
}

TEST(ImagePreparation, SkippedAndFailedStepsNeverStopTheSequence) {
    ImageRoot k;
    k.add_systemd_units();
    k.write_file("/boot/vmlinux.gz", "the dm520 kernel, not this box's");
    k.fail(R"(mount("devpts")", EACCES);
    k.fail(R"(mount("proc")", EBUSY);
    obinit::prepare_image_root();
    EXPECT_FALSE(k.exists("/etc/fstab"));
    EXPECT_FALSE(k.called("rename(")) << "no unit touched";
    EXPECT_FALSE(k.called("swapon(")) << "no swap file on the medium";
    EXPECT_EQ(k.stderr_text, ob_test::error_line("mounting /dev/pts", EACCES) +
                                 ob_test::error_line("/proc", EBUSY));
    EXPECT_EQ(k.calls_starting("mount("), kernel_mounts);
    EXPECT_TRUE(k.called("link(")) << "the flash emulation still runs";
}

// Files of an image that would hold process 1 or exhaust it are left as
// they are; what an earlier power cut left beside them is cleared away.
TEST(ImagePreparation, HostileFilesStayUneditedAndStaleTemporariesGo) {
    ImageRoot k;
    k.write_file("/boot/zImage", "kernel");
    k.add_systemd_units();
    k.make_fifo("/etc/fstab");
    k.unlink(unit_path(0).c_str());
    k.make_fifo(unit_path(0));
    const std::string huge = units[4].second + std::string(obinit::edit_size_limit, '#');
    k.write_file(unit_path(4), huge);
    const std::string at_limit =
        units[3].second + std::string(obinit::edit_size_limit - units[3].second.size(), '#');
    k.write_file(unit_path(3), at_limit);
    k.write_file("/etc/fstab.obnew", "half a table");
    k.write_file(unit_path(5) + ".obnew", "[Service]\n#PrivateTmp=yes\n");
    k.write_file(unit_path(1) + ".obnew", "");

    obinit::prepare_image_root();

    EXPECT_EQ(k.stderr_text, "Orbiel: " + unit_path(4) + " is larger than 1 MiB, left unedited\n");
    EXPECT_EQ(k.read_file(unit_path(4)), huge);
    EXPECT_EQ(k.read_file(unit_path(3)).substr(0, 11), "[Unit]\n#Con") << "1 MiB is edited";
    for (const std::string& left : {std::string("/etc/fstab.obnew"), unit_path(5) + ".obnew",
                                    unit_path(1) + ".obnew", unit_path(0) + ".obnew"})
        EXPECT_FALSE(k.exists(left)) << left;
    EXPECT_EQ(k.read_file(unit_path(5)),
              "[Service]\n#PrivateTmp=yes\n#PrivateDevices=yes\n#ProtectSystem=full\n"
              "#ProtectHome=yes\n");
    EXPECT_EQ(k.calls_starting("rename(").size(), 4u) << "units 1, 2, 3 and 5, once each";
}

TEST(FlashEmulation, EachFailureEndsTheSetUpWithItsMessageAndNoRename) {
    const struct {
        std::function<void(ImageRoot&)> arrange;
        std::string message;
    } cases[] = {
        {[](ImageRoot& k) {
             k.write_file("/var/volatile/.mtd2", "old");
             k.fail_open("/var/volatile/.mtd2", EACCES);
         },
         ob_test::error_line("/var/volatile/.mtd2", EACCES)},
        {[](ImageRoot& k) { k.fail_open("/dev/loop7", ENXIO); },
         ob_test::error_line("/dev/loop7", ENXIO)},
        {[](ImageRoot& k) { k.loop.refuse_set_fd = EBUSY; },
         ob_test::error_line("LOOP_SET_FD", EBUSY)},
        {[](ImageRoot& k) { k.loop.refuse_set_status = EINVAL; },
         ob_test::error_line("LOOP_SET_STATUS", EINVAL)},
        {[](ImageRoot& k) { k.write_file("/var/volatile/.mtd2", ""); }, ""},  // nothing to attach
        // Without block2mtd the renames would move another device's nodes.
        {[](ImageRoot& k) { k.fail_open(block2mtd_parameters, ENOENT); },
         ob_test::error_line(block2mtd_parameters, ENOENT)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message);
        ImageRoot k(3);
        c.arrange(k);
        EXPECT_EQ(obinit::emulate_mtd(2, 7, 5120), 0);
        EXPECT_EQ(k.stderr_text, c.message);
        EXPECT_EQ(k.block2mtd.written, "");
        EXPECT_FALSE(k.called("sleep(") || k.called("rename("));
        EXPECT_TRUE(k.exists("/dev/mtd5"));
    }
}

// A loop node left from an earlier boot (or made by the kernel's device file
// system) is used as it is: its path is reported and the flash emulation goes
// on.
TEST(Pins, ALeftoverLoopNodeDoesNotStopTheFlashEmulation) {
    for (int box_model : {3, 4}) {
        SCOPED_TRACE(box_model);
        ImageRoot k(box_model);
        const char* node = box_model == 3 ? "/dev/loop7" : "/dev/mmcblk0";
        if (box_model == 3) k.write_file(node, "");
        k.write_file("/var/volatile/.mtd2", std::string(4096, '\xFF'));
        obinit::prepare_image_root();
        EXPECT_EQ(k.stderr_text, box_model == 3 ? ob_test::error_line(node, EEXIST) : "");
        EXPECT_TRUE(k.loop.status_set) << node;
        EXPECT_TRUE(k.called(box_model == 3 ? R"(rename("/dev/mtd5", "/dev/mtd2"))"
                                            : R"(link("/dev/mmcblk0", "/dev/mmcblk0p1"))"));
    }
}

}  // namespace
