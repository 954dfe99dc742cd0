// The maintenance commands as a user or an image's start-up scripts run them
// after obinit's start-up has found the medium on /dev/sda1.
#include <errno.h>
#include <gtest/gtest.h>
#include <stdio.h>
#include <string.h>

#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "fake_kernel.h"
#include "obinit.h"
#include "obinit_box.h"

namespace {

using ob_test::ExitCalled;
using ob_test::FakeDevice;
using ob_test::FakeKernel;

using Calls = std::vector<std::string>;

const std::string mount_medium =
    "mount(\"/dev/sda1\", \"/media/ob\", \"ext4\", 0xc0ed0c00, \"barrier=1,data=journal\")";

const std::string swaps_heading = "Filename\t\t\t\tType\t\tSize\tUsed\tPriority\n";
const std::string sda2_swap = "/dev/sda2                               partition\t1048572\t0\t-2\n";
const std::string medium_swap = "/media/ob/swapfile                      file\t\t524284\t0\t-3\n";

// A box whose medium behaves like a mounted file system: its marker file
// /media/ob/ob.sh is visible only while /media/ob is mounted, and every swap
// area turned off leaves /proc/swaps.
class MediumBox : public FakeKernel {
public:
    MediumBox() {
        obinit::state() = obinit::RunState();
        obinit::state().box_model = 4;
        snprintf(obinit::state().boot_device, obinit::boot_device_size, "/dev/sda1");
        make_dir("/media/hdd");
        make_dir("/tmp");
        write_file("/media/ob/ob.sh", "medium");
        add_mount("/media/ob");
    }

    int umount(const char* target) override {
        const int result = FakeKernel::umount(target);
        if (result == 0 && std::string(target) == "/media/ob") hide_marker(true);
        return result;
    }
    int mount(const char* source, const char* target, const char* type, unsigned long flags,
              const void* data) override {
        const int result = FakeKernel::mount(source, target, type, flags, data);
        if (result == 0 && source != nullptr && std::string(source) == "/dev/sda1" &&
            std::string(target) == "/media/ob")
            hide_marker(false);
        return result;
    }
    int swapoff(const char* path) override {
        std::string swaps = read_file("/proc/swaps"), kept;
        for (size_t at = 0; at < swaps.size();) {
            size_t end = swaps.find('\n', at);
            end = end == std::string::npos ? swaps.size() : end + 1;
            const std::string line = swaps.substr(at, end - at);
            if (line.compare(0, strlen(path), path) != 0 || line[strlen(path)] != ' ') kept += line;
            at = end;
        }
        // Rewritten in place, as the kernel's list changes under an open file.
        std::ofstream(host_root() + "/proc/swaps", std::ios::trunc) << kept;
        return FakeKernel::swapoff(path);
    }

    int run(int command_code) {
        try {
            obinit::run_maintenance(command_code);
        } catch (const ExitCalled& exit) {
            return exit.status;
        }
        ADD_FAILURE() << "run_maintenance returned";
        return -1;
    }

private:
    void hide_marker(bool hide) {
        const std::string marker = host_root() + "/media/ob/ob.sh";
        const std::string hidden = host_root() + "/.ob.sh.unmounted";
        if (hide)
            ::rename(marker.c_str(), hidden.c_str());
        else
            ::rename(hidden.c_str(), marker.c_str());
    }
};

TEST(Relink, MakesSbinInitALinkToObinitWhateverWasThere) {
    const Calls link = {"symlink(\"/sbin/obinit\", \"/sbin/init\")", "exit(0)"};
    const Calls removal[] = {
        {"unlink(\"/sbin/init\")"}, {}, {"unlink(\"/sbin/init\")", "rmdir(\"/sbin/init\")"}};
    for (int before = 0; before < 3; ++before) {  // a file, nothing, a directory
        MediumBox box;
        if (before == 0) box.write_file("/sbin/init", "sysvinit");
        box.make_dir(before == 2 ? "/sbin/init" : "/sbin");
        EXPECT_EQ(box.run(999), 0);
        EXPECT_EQ(box.stderr_text, "Orbiel relinks /sbin/obinit to /sbin/init ...\n");
        Calls expected = removal[before];
        expected.insert(expected.end(), link.begin(), link.end());
        EXPECT_EQ(box.calls, expected) << before;
    }
}

TEST(Remount, MountsTheMediumAgainAndMovesSwapToItsFile) {
    MediumBox box;
    EXPECT_EQ(box.run(900), 0);
    EXPECT_EQ(box.stderr_text, "Orbiel remounts only ...\n");
    EXPECT_EQ(box.calls, (Calls{mount_medium, "exit(0)"}));

    // Inside a booted image, with the medium's swap file and another area on.
    MediumBox image;
    image.write_file("/.obinfo", "img1");
    image.write_file("/media/ob/swapfile", "swap");
    image.write_file("/proc/swaps", swaps_heading + sda2_swap + medium_swap);
    EXPECT_EQ(image.run(1000), 0);
    EXPECT_EQ(image.calls, (Calls{"mkdir(\"/media/ob\", 0777)", mount_medium,
                                  "swapoff(\"/dev/sda2\")", "swapoff(\"/media/ob/swapfile\")",
                                  "swapon(\"/media/ob/swapfile\", 0x8000)", "exit(0)"}));
}

TEST(Remount, Code911AlsoMountsTheHardDisk) {
    MediumBox box;
    EXPECT_EQ(box.run(911), 0);
    EXPECT_EQ(
        box.calls,
        (Calls{"umask(0)", "mknod(\"/dev/sda1\", 060666, 0x801)",
               "mount(\"/dev/sda1\", \"/media/hdd\", \"ext3\", 0x0, \"barrier=1,data=journal\")",
               mount_medium, "exit(0)"}));
}

TEST(Remount, AnMdevFlashRootGetsTheMediumMovedIntoItsMediaTmpfs) {
    MediumBox box;
    box.write_file("/sbin/mdev", "mdev");
    box.write_file("/media/ob/swapfile", "swap");
    FakeDevice& hotplug =
        box.add_device("/proc/sys/kernel/hotplug", std::make_unique<FakeDevice>());
    EXPECT_EQ(box.run(900), 0);
    EXPECT_EQ(hotplug.written, " /sbin/mdev") << "off with one blank, back on with 10 bytes";
    const Calls dance = {
        "open(\"/proc/sys/kernel/hotplug\", 0x2)",
        "swapoff(\"/media/ob/swapfile\")",
        "system(\"swapoff /media/ob/swapfile > /dev/null 2>&1\")",
        "umount(\"/media/ob\")",
        "mkdir(\"/tmp/ob\", 0777)",
        "mount(\"/media\", \"/tmp/ob\", NULL, 0x2000, NULL)",
        "mkdir(\"/tmp/ob/ob\", 0777)",
        "mount(\"/media/ob\", \"/tmp/ob/ob\", NULL, 0x2000, NULL)",
        "mount(\"/tmp/ob\", \"/media\", NULL, 0x2000, NULL)",
        "swapon(\"/media/ob/swapfile\", 0x8000)",
        "rmdir(\"/tmp/ob\")",
        "open(\"/proc/sys/kernel/hotplug\", 0x2)",
    };
    ASSERT_GE(box.calls.size(), dance.size());
    EXPECT_EQ(Calls(box.calls.begin(), box.calls.begin() + dance.size()), dance);
}

TEST(FileSystemCheck, UnmountsEverythingChecksRemountsAndResetsTheUuid) {
    MediumBox box;
    box.write_file("/media/usb/ob.sh", "same medium");
    EXPECT_EQ(box.run(90), 0);
    EXPECT_EQ(box.stderr_text,
              "Orbiel does Filesystemcheck now on /dev/sda1 device\n"
              "\nOrbiel Filesystemcheck done\n\n"
              "\nOrbiel UUID reset done\n\n");
    EXPECT_EQ(box.calls,
              (Calls{"umount(\"/media/ob/ob/1\")", "umount(\"/media/ob/ob/2\")",
                     "umount(\"/media/ob/ob/3\")", "umount(\"/media/ob/ob/4\")",
                     "umount(\"/media/ob/ob/5\")", "umount(\"/media/ob/ob/6\")",
                     "umount(\"/media/ob/ob/7\")", "umount(\"/media/ob/ob/8\")",
                     "umount(\"/media/ob/boot\")", "umount(\"/media/ob\")",
                     "umount(\"/media/usb\")", "umount(\"/dev/sda1\")", "umount(\"/autofs/sda1\")",
                     "system(\"fsck.ext4 -y -f /dev/sda1\")", mount_medium,
                     "system(\"/media/ob/bin/tune2fs -U 00000000-0000-0000-0000-000000000000 "
                     "/dev/sda1\")",
                     "exit(0)"}));
}

TEST(FileSystemCheck, ARefusedUuidResetIsNotReportedAsDone) {
    MediumBox box;
    box.on_system = [](const std::string& command) {
        return command.find("tune2fs") != std::string::npos ? 256 : 0;
    };
    EXPECT_EQ(box.run(90), 0);
    EXPECT_EQ(box.stderr_text,
              "Orbiel does Filesystemcheck now on /dev/sda1 device\n"
              "\nOrbiel Filesystemcheck done\n\n"
              "\nOrbiel UUID reset failed\n\n");
}

TEST(FileSystemCheck, StopsInsideAnImageOnABusyMediumOrWhenTheRemountFails) {
    const std::string start = "Orbiel does Filesystemcheck now on /dev/sda1 device\n";
    const std::string done = "\nOrbiel Filesystemcheck done\n\n";
    struct Case {
        void (*arrange)(MediumBox&);
        std::string message;
        Calls commands;
    };
    const Case cases[] = {
        {[](MediumBox& box) { box.write_file("/.obinfo", "img1"); },
         "Orbiel filesystemcheck works only in Flash\n\n",
         {}},
        {[](MediumBox& box) { box.fail("umount(\"/media/ob\")", EBUSY); },
         start + "umount /media/ob: Device or resource busy\n"
                 "Orbiel Filesystemcheck not possible because /media/ob still mounted\n",
         {}},
        {[](MediumBox& box) { box.fail("mount(\"/dev/sda1\"", ENODEV); },
         start + done + "/media/ob: No such device\n",
         {"system(\"fsck.ext4 -y -f /dev/sda1\")"}},
    };
    for (const Case& c : cases) {
        MediumBox box;
        c.arrange(box);
        EXPECT_EQ(box.run(90), 0);
        EXPECT_EQ(box.stderr_text, c.message);
        EXPECT_EQ(box.calls_starting("system("), c.commands);
    }
}

TEST(FileSystemCheck, FromTheEntryInsideAnImageRootGoesNoFurtherThanItsMessage) {
    ob_test::ObinitBox box;
    box.pid = 321;
    box.write_file("/.obinfo", "img1");
    box.write_file("/media/ob/ob.sh", "medium");
    const ob_test::Outcome run = box.boot({"90"});
    EXPECT_EQ(run.exit_status, 0);
    EXPECT_EQ(run.program, "");
    EXPECT_EQ(box.after_banner(),
              "\n\nOrbiel found on device /dev/sdb1 ...\n\n"
              "Orbiel filesystemcheck works only in Flash\n\n");
    EXPECT_TRUE(box.calls_starting("umount(").empty());
}

TEST(SwapoffListed, TurnsOffEveryListedAreaReadingTheListAfreshEachTime) {
    MediumBox box;
    box.write_file("/proc/swaps",
                   swaps_heading + sda2_swap + medium_swap +
                       "/dev/mmcblk1p2                          partition\t1024\t0\t-4\n");
    obinit::swapoff_listed();
    EXPECT_EQ(box.calls, (Calls{"swapoff(\"/dev/sda2\")", "swapoff(\"/media/ob/swapfile\")",
                                "swapoff(\"/dev/mmcblk1p2\")"}));

    // No list: nothing to do.
    FakeKernel bare;
    obinit::swapoff_listed();
    EXPECT_TRUE(bare.calls.empty());
}

TEST(SwapoffListed, LooksAtTenLinesAtMost) {
    // An area that stays listed (the kernel refuses to let it go) is tried
    // on lines 2, 4, 6, 8 and 10; the eleventh line ends the loop.
    FakeKernel k;
    k.write_file("/proc/swaps", swaps_heading + sda2_swap);
    obinit::swapoff_listed();
    EXPECT_EQ(k.calls, Calls(5, "swapoff(\"/dev/sda2\")"));

    // A hostile list: one endless line comes in pieces of 179 characters.
    FakeKernel hostile;
    hostile.write_file("/proc/swaps", std::string(10000, '/'));
    obinit::swapoff_listed();
    ASSERT_EQ(hostile.calls.size(), 10u);
    EXPECT_EQ(hostile.calls[0], "swapoff(\"" + std::string(179, '/') + "\")");
}

}  // namespace
