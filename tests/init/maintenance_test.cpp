// The maintenance commands as a user or an image's start-up scripts run them
// after obinit's start-up has found the medium on /dev/sda1.
#include <errno.h>
#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <memory>

#include "maintenance.h"
#include "obinit_box.h"

namespace {

using ob_test::Calls;
using ob_test::FakeKernel;
using ob_test::joined;
using ob_test::mount_sda1;

const std::string swaps_heading = "Filename\t\t\t\tType\t\tSize\tUsed\tPriority\n";
const std::string sda2_swap = "/dev/sda2                               partition\t1048572\t0\t-2\n";
const std::string medium_swap = "/media/ob/swapfile                      file\t\t524284\t0\t-3\n";

// A box whose medium behaves like a mounted file system: its marker file
// /media/ob/ob.sh is there only while /media/ob is mounted, and every swap
// area turned off leaves /proc/swaps.
class MediumBox : public ob_test::Box {
public:
    MediumBox() {
        pid = 345;  // run by hand or from a script
        ob_test::started_on(4, "/dev/sda1");
        make_dir("/media/hdd");
        make_dir("/tmp");
        write_file(marker, "medium");
        add_mount("/media/ob");
    }
    int umount(const char* target) override {
        const int result = FakeKernel::umount(target);
        if (result == 0 && std::string(target) == "/media/ob")
            ::remove((host_root() + marker).c_str());
        return result;
    }
    int mount(const char* source, const char* target, const char* type, unsigned long flags,
              const void* data) override {
        const int result = FakeKernel::mount(source, target, type, flags, data);
        if (result == 0 && std::string(target) == "/media/ob" && type != nullptr)
            write_file(marker, "medium");
        return result;
    }
    int swapoff(const char* path) override {
        std::string swaps = read_file("/proc/swaps");
        const size_t at = swaps.find("\n" + std::string(path) + " ");
        if (at != std::string::npos) swaps.erase(at + 1, swaps.find('\n', at + 1) - at);
        // Rewritten in place, as the kernel's list changes under an open file.
        std::ofstream(host_root() + "/proc/swaps", std::ios::trunc) << swaps;
        return FakeKernel::swapoff(path);
    }
    int run(int command_code) {
        try {
            obinit::run_maintenance(command_code);
        } catch (const ob_test::ExitCalled& exit) {
            return exit.status;
        }
        ADD_FAILURE() << "run_maintenance returned";
        return -1;
    }

private:
    const char* marker = "/media/ob/ob.sh";
};

TEST(Maintenance, EachCommandMakesItsCallsAndEndsTheProcess) {
    const std::string relinks = "Orbiel relinks /sbin/obinit to /sbin/init ...\n";
    const std::string remounts = "Orbiel remounts only ...\n";
    const std::string checks = "Orbiel does Filesystemcheck now on /dev/sda1 device\n";
    const std::string checked = "\nOrbiel Filesystemcheck done\n\n";
    const Calls relink = {R"(symlink("/sbin/obinit", "/sbin/init"))", "exit(0)"};
    const Calls unmounts = {R"(umount("/media/ob/ob/1"))", R"(umount("/media/ob/ob/2"))",
                            R"(umount("/media/ob/ob/3"))", R"(umount("/media/ob/ob/4"))",
                            R"(umount("/media/ob/ob/5"))", R"(umount("/media/ob/ob/6"))",
                            R"(umount("/media/ob/ob/7"))", R"(umount("/media/ob/ob/8"))",
                            R"(umount("/media/ob/boot"))", R"(umount("/media/ob"))"};
    const Calls fsck = {R"(system("fsck.ext4 -y -f /dev/sda1"))", mount_sda1};
    const Calls uuid_reset = {
        R"(system("/media/ob/bin/tune2fs -U 00000000-0000-0000-0000-000000000000 /dev/sda1"))",
        "exit(0)"};
    const struct {
        int code;
        std::function<void(MediumBox&)> arrange;
        Calls calls;
        std::string message;
    } cases[] = {
        {999, [](MediumBox& box) { box.write_file("/sbin/init", "sysvinit"); },
         joined({{R"(unlink("/sbin/init"))"}, relink}), relinks},
        {999, [](MediumBox& box) { box.make_dir("/sbin/init"); },
         joined({{R"(unlink("/sbin/init"))", R"(rmdir("/sbin/init"))"}, relink}), relinks},
        {900, [](MediumBox&) {}, {mount_sda1, "exit(0)"}, remounts},
        {911,
         [](MediumBox&) {},
         {"umask(0)", R"(mknod("/dev/sda1", 060666, 0x801))",
          R"(mount("/dev/sda1", "/media/hdd", "ext3", 0, "barrier=1,data=journal"))", mount_sda1,
          "exit(0)"},
         remounts},
        // Inside a booted image, with the medium's swap file and another area on.
        {1000,
         [](MediumBox& box) {
             box.write_file("/.obinfo", "img1");
             box.write_file("/media/ob/swapfile", "swap");
             box.write_file("/proc/swaps", swaps_heading + sda2_swap + medium_swap);
         },
         {R"(mkdir("/media/ob", 0777))", mount_sda1, R"(swapoff("/dev/sda2"))",
          R"(swapoff("/media/ob/swapfile"))", R"(swapon("/media/ob/swapfile", SWAP_FLAG_PREFER))",
          "exit(0)"},
         remounts},
        {90, [](MediumBox& box) { box.write_file("/media/usb/ob.sh", "same medium"); },
         joined({unmounts,
                 {R"(umount("/media/usb"))", R"(umount("/dev/sda1"))", R"(umount("/autofs/sda1"))"},
                 fsck,
                 uuid_reset}),
         checks + checked + "\nOrbiel UUID reset done\n\n"},
        // tune2fs refuses: not reported as done.
        {90,
         [](MediumBox& box) {
             box.on_system = [](const std::string& command) {
                 return command.find("tune2fs") != std::string::npos ? 256 : 0;
             };
         },
         joined(
             {unmounts, {R"(umount("/dev/sda1"))", R"(umount("/autofs/sda1"))"}, fsck, uuid_reset}),
         checks + checked + "\nOrbiel UUID reset failed\n\n"},
        {90,
         [](MediumBox& box) { box.write_file("/.obinfo", "img1"); },
         {"exit(0)"},
         "Orbiel filesystemcheck works only in Flash\n\n"},
        {90, [](MediumBox& box) { box.fail(R"(umount("/media/ob"))", EBUSY); },
         joined({unmounts, {"exit(0)"}}),
         checks + ob_test::error_line("umount /media/ob", EBUSY) +
             "Orbiel Filesystemcheck not possible because /media/ob still mounted\n"},
        {90, [](MediumBox& box) { box.fail(R"(mount("/dev/sda1")", ENODEV); },
         joined({unmounts,
                 {R"(umount("/dev/sda1"))", R"(umount("/autofs/sda1"))"},
                 fsck,
                 {"exit(0)"}}),
         checks + checked + ob_test::error_line("/media/ob", ENODEV)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message);
        MediumBox box;
        c.arrange(box);
        EXPECT_EQ(box.run(c.code), 0);
        EXPECT_EQ(box.calls, c.calls);
        EXPECT_EQ(box.stderr_text, c.message);
    }
}

TEST(Maintenance, AnMdevFlashRootGetsTheMediumMovedIntoItsMediaTmpfs) {
    MediumBox box;
    box.write_file("/sbin/mdev", "mdev");
    box.write_file("/media/ob/swapfile", "swap");
    auto& hotplug =
        box.add_device("/proc/sys/kernel/hotplug", std::make_unique<ob_test::FakeDevice>());
    EXPECT_EQ(box.run(900), 0);
    EXPECT_EQ(hotplug.written, " /sbin/mdev") << "off with one blank, back on with 10 bytes";
    ASSERT_GE(box.calls.size(), 12u);
    EXPECT_EQ(
        Calls(box.calls.begin(), box.calls.begin() + 12),
        (Calls{R"(open("/proc/sys/kernel/hotplug", O_RDWR))", R"(swapoff("/media/ob/swapfile"))",
               R"(system("swapoff /media/ob/swapfile > /dev/null 2>&1"))", R"(umount("/media/ob"))",
               R"(mkdir("/tmp/ob", 0777))", R"(mount("/media", "/tmp/ob", NULL, MS_MOVE, NULL))",
               R"(mkdir("/tmp/ob/ob", 0777))",
               R"(mount("/media/ob", "/tmp/ob/ob", NULL, MS_MOVE, NULL))",
               R"(mount("/tmp/ob", "/media", NULL, MS_MOVE, NULL))",
               R"(swapon("/media/ob/swapfile", SWAP_FLAG_PREFER))", R"(rmdir("/tmp/ob"))",
               R"(open("/proc/sys/kernel/hotplug", O_RDWR))"}));
}

TEST(SwapoffListed, LooksAtTenLinesAtMost) {
    // An area that stays listed (the kernel refuses to let it go) is tried
    // on lines 2, 4, 6, 8 and 10; the eleventh line ends the loop.
    FakeKernel k;
    k.write_file("/proc/swaps", swaps_heading + sda2_swap);
    obinit::swapoff_listed();
    EXPECT_EQ(k.calls, Calls(5, R"(swapoff("/dev/sda2"))"));
    // A hostile list: one endless line comes in pieces of 179 characters.
    FakeKernel hostile;
    hostile.write_file("/proc/swaps", std::string(10000, '/'));
    obinit::swapoff_listed();
    ASSERT_EQ(hostile.calls.size(), 10u);
    EXPECT_EQ(hostile.calls[0], R"(swapoff(")" + std::string(179, '/') + "\")");
}

}  // namespace
