// Whole runs of obinit's entry on a prepared box: what it mounts, runs,
// prints and finally executes.
#include <gtest/gtest.h>

#include <string.h>

#include <algorithm>
#include <functional>
#include <regex>
#include <sstream>

#include "obinit_box.h"

namespace {

using ob_test::Calls;
using ob_test::elf_program;
using ob_test::ObinitBox;
const std::string menu_call = R"(system("/media/ob/bin/orbiel > /media/ob/.oblog 2>&1"))";

TEST(FlashBoot, SettingsMenuSwapAndTheFlashInit) {
    ObinitBox box;
    box.write_file("/media/ob/obboot.ini", "Flash\n");
    box.write_file("/media/ob/swapfile", "swap");
    box.write_file("/etc/videomode", "1080i50 \n");
    box.write_file("/proc/stb/video/videomode", "");
    box.write_file("/proc/stb/avs/0/colorformat", "rgb\n");
    box.write_file("/media/ob/.obmask", "4\r\n");
    box.write_file("/proc/stb/ir/rc/mask2", "");

    const ob_test::Outcome run = box.boot();

    EXPECT_EQ(run.program, "/sbin/init.sysvinit");
    EXPECT_EQ(run.argv, Calls{"/sbin/init"});
    EXPECT_EQ(run.envp, (Calls{"HOME=/", "TERM=linux"}));
    // The device nodes are checked on their own.
    EXPECT_EQ(
        box.calls_except({"mknod(", "umask(", R"(mkdir("/dev)"}),
        (Calls{R"(mkdir("/media/hdd", 0777))", R"(mount("proc", "/proc", "proc", 0, NULL))",
               R"(mount("/dev/sdb1", "/media/ob", "ext4", MS_MGC_VAL|MS_NOATIME|MS_NODIRATIME, )"
               R"("barrier=1,data=journal"))",
               R"(mount("sysfs", "/sys", "sysfs", MS_MGC_VAL|MS_NOSUID|MS_NODEV, "mode=755"))",
               R"(system("modprobe dreambox_rc2"))", R"(system("modprobe lcd"))",
               R"(system("modprobe bcm7439"))", menu_call,
               R"(swapon("/media/ob/swapfile", SWAP_FLAG_PREFER))",
               R"(execve("/sbin/init.sysvinit"))"}));
    // The build stamp keeps the form of __DATE__ and __TIME__.
    EXPECT_TRUE(std::regex_search(
        box.console_text,
        std::regex("^\nOrbiel V12\\.45 by the Orbiel developers Build [A-Z][a-z]{2} [ 123]\\d "
                   "\\d{4} [0-2]\\d:[0-5]\\d:[0-6]\\d\n\n")))
        << box.console_text;
    EXPECT_EQ(box.after_banner(),
              "\n\nOrbiel found on device /dev/sdb1 ...\n\nwriting videomode: 1080i50\n"
              "Orbiel is booting Image Flash ...\n");
    EXPECT_EQ(box.read_file("/proc/stb/video/videomode"), std::string("1080i50\0", 8));
    EXPECT_EQ(box.read_file("/proc/stb/avs/0/colorformat"), std::string("rgb\0", 4));
    EXPECT_EQ(box.read_file("/proc/stb/ir/rc/mask2"), "4\n");
}

TEST(ImageBoot, CarriesTheTreesOverAndStartsTheImageInitUnchanged) {
    ObinitBox box;
    box.add_image("img1", "/sbin/init.sysvinit");
    box.write_file("/media/ob/ob/img1/lib/systemd/systemd", "also there");
    box.write_file("/media/ob/obboot.ini", "img1 and more\n");

    const ob_test::Outcome run = box.boot({"quiet"});

    EXPECT_EQ(run.program, "/sbin/init.sysvinit");
    EXPECT_EQ(run.argv, (Calls{"/sbin/init", "quiet"}));
    EXPECT_EQ(run.envp, (Calls{"HOME=/", "TERM=linux"}));
    // The image's "/" is the root of a mount of its own: the image directory
    // bound onto itself, the trees carried into it, moved onto "/".
    const size_t at = box.first(R"(chdir("/media/ob/ob/img1"))");
    ASSERT_LT(at + 14, box.calls.size());
    EXPECT_EQ(Calls(box.calls.begin() + at, box.calls.begin() + at + 14),
              (Calls{R"(chdir("/media/ob/ob/img1"))",
                     R"(mount("/media/ob/ob/img1", "/media/ob/ob/img1", NULL, MS_BIND, NULL))",
                     R"(chdir("/media/ob/ob/img1"))",
                     R"(mount("/media/ob", "/media/ob/ob/img1/media/ob", NULL, MS_BIND, NULL))",
                     R"(mount("/sys", "/media/ob/ob/img1/sys", NULL, MS_MOVE, NULL))",
                     R"(mount("/dev", "/media/ob/ob/img1/dev", NULL, MS_MOVE, NULL))",
                     R"(mount(".", "/", NULL, MS_MOVE, NULL))", R"(chroot("."))", R"(chdir("/"))",
                     R"(chroot("."))", R"(chdir("/"))", R"(open("/dev/console", O_RDWR))",
                     "dup2(0, 1)", "dup2(0, 2)"}));
    EXPECT_EQ(box.calls.back(), R"(execve("/sbin/init.sysvinit"))");
    EXPECT_TRUE(box.printed("Orbiel is booting Image img1 ...\n"));
    EXPECT_EQ(box.console_text.substr(box.console_text.size() - 20), "Continue booting...\n");
}

// The carried trees go where the image's own links put them, inside the
// image; one that has no directory there is left out with a line. A step of
// the root mount that fails says "moving rootdir", and the image still boots
// from its directory.
TEST(ImageBoot, TreesGoWhereTheImagesLinksPutThemAndTheRootMountFallsBack) {
    const std::string bind_self =
        R"(mount("/media/ob/ob/img1", "/media/ob/ob/img1", NULL, MS_BIND, NULL))";
    const std::string move_root = R"(mount(".", "/", NULL, MS_MOVE, NULL))";
    const struct {
        const char* name;
        std::function<void(ObinitBox&)> arrange;
        Calls mounts;  // the carried trees and the root's, in order
        std::string lines;
        bool moved;  // the image's mount is "/"
    } rows[] = {
        {"media an absolute link",
         [](ObinitBox& box) {
             box.rmdir("/media/ob/ob/img1/media/ob");
             box.rmdir("/media/ob/ob/img1/media");
             box.make_symlink("/mnt/media", "/media/ob/ob/img1/media");
             box.make_dir("/media/ob/ob/img1/mnt/media");
             box.make_dir("/mnt/media");
         },
         {bind_self, R"(mount("/media/ob", "/media/ob/ob/img1/mnt/media/ob", NULL, MS_BIND, NULL))",
          R"(mount("/sys", "/media/ob/ob/img1/sys", NULL, MS_MOVE, NULL))",
          R"(mount("/dev", "/media/ob/ob/img1/dev", NULL, MS_MOVE, NULL))", move_root},
         "",
         true},
        {"no directories for the trees",
         [](ObinitBox& box) {
             box.rmdir("/media/ob/ob/img1/media/ob");
             box.make_symlink("/nowhere/ob", "/media/ob/ob/img1/media/ob");
             box.rmdir("/media/ob/ob/img1/sys");
             box.write_file("/media/ob/ob/img1/sys", "a file");
             box.rmdir("/media/ob/ob/img1/dev");
             box.make_symlink("/", "/media/ob/ob/img1/dev");
         },
         {bind_self, move_root},
         "Orbiel: image directory /media/ob/ob/img1 has no directory /media/ob, the medium left "
         "out\nOrbiel: image directory /media/ob/ob/img1 has no directory /sys, /sys left out\n"
         "Orbiel: image directory /media/ob/ob/img1 has no directory /dev, /dev left out\n",
         true},
        {"the image directory cannot be bound",
         [&bind_self](ObinitBox& box) { box.fail(bind_self, EINVAL); },
         {bind_self, R"(mount("/media/ob", "/media/ob/ob/img1/media/ob", NULL, MS_BIND, NULL))",
          R"(mount("/sys", "/media/ob/ob/img1/sys", NULL, MS_MOVE, NULL))",
          R"(mount("/dev", "/media/ob/ob/img1/dev", NULL, MS_MOVE, NULL))"},
         ob_test::error_line("moving rootdir", EINVAL),
         false},
        {"its mount cannot be moved onto the root",
         [&move_root](ObinitBox& box) { box.fail(move_root, EBUSY); },
         {bind_self, R"(mount("/media/ob", "/media/ob/ob/img1/media/ob", NULL, MS_BIND, NULL))",
          R"(mount("/sys", "/media/ob/ob/img1/sys", NULL, MS_MOVE, NULL))",
          R"(mount("/dev", "/media/ob/ob/img1/dev", NULL, MS_MOVE, NULL))", move_root},
         ob_test::error_line("moving rootdir", EBUSY),
         false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        ObinitBox box;
        box.write_file("/media/ob/.obnobootmanager", "");
        box.add_image("img1", "/sbin/init.sysvinit");
        box.write_file("/media/ob/obboot.ini", "img1\n");
        row.arrange(box);
        EXPECT_EQ(box.boot().program, "/sbin/init.sysvinit");
        Calls mounts = box.calls_starting("mount(");
        mounts.erase(mounts.begin(), mounts.begin() + box.calls_starting(R"(mount("proc")").size());
        mounts.resize(std::min(mounts.size(), row.mounts.size()));
        EXPECT_EQ(mounts, row.mounts);
        std::string lines;  // the root switch's own
        std::istringstream said(box.console_text);
        for (std::string line; std::getline(said, line);)
            if (line.find("left out") != std::string::npos || line.find("moving rootdir") == 0)
                lines += line + "\n";
        EXPECT_EQ(lines, row.lines);
        EXPECT_EQ(box.calls_starting("chroot("), Calls(row.moved ? 2 : 1, R"(chroot("."))"));
        EXPECT_FALSE(box.exists("/mnt/media/ob")) << "nothing made in the flash root";
    }
}

// The image is unpacked from a plain archive: no mount points at all.
TEST(ImageBoot, PlainInitWithoutMenuGetsNodesModulesAndKernelFilesystems) {
    ObinitBox box;
    box.write_file("/media/ob/.obnobootmanager", "");
    box.write_file("/media/ob/ob/img1/.obinfo", "");
    box.write_file("/media/ob/ob/img1/sbin/init", ob_test::elf_program(), 0755);
    box.write_file("/media/ob/obboot.ini", "img1");

    EXPECT_EQ(box.boot().program, "/sbin/init");

    EXPECT_FALSE(box.called(R"(mount("sysfs", "/sys", "sysfs", MS_MGC_VAL|MS_NOSUID|MS_NODEV)"));
    EXPECT_FALSE(box.called(menu_call));
    EXPECT_GT(box.first(R"(mknod("/dev/fb0")"), box.first(R"(chroot("."))"));
    EXPECT_EQ(box.calls_starting("system("),
              (Calls{R"(system("modprobe dreambox_rc2"))", R"(system("modprobe lcd"))",
                     R"(system("modprobe bcm7439"))", R"(system("modprobe usbhid"))"}));
    const Calls mounts = box.calls_starting("mount(");
    EXPECT_EQ(
        Calls(mounts.end() - 5, mounts.end()),
        (Calls{
            R"(mount("devtmpfs", "/dev", "devtmpfs", MS_MGC_VAL, "mode=755"))",
            R"(mount("proc", "/proc", "proc", 0, NULL))",
            R"(mount("sysfs", "/sys", "sysfs", 0, NULL))",
            R"(mount("tmpfs", "/run", "tmpfs", MS_MGC_VAL|MS_NOSUID|MS_NODEV, "mode=755"))",
            R"(mount("devpts", "/dev/pts", "devpts", MS_MGC_VAL|MS_NOSUID|MS_NOEXEC, "gid=5,mode=620"))"}));
    EXPECT_TRUE(box.printed("Orbiel Bootmanager is disabled ...\n"));
    EXPECT_FALSE(box.printed("Orbiel: cannot"));
    const Calls made = box.calls_starting("mkdir(\"/media/ob/ob/img1/");
    EXPECT_EQ(made, (Calls{R"(mkdir("/media/ob/ob/img1/media", 0755))",
                           R"(mkdir("/media/ob/ob/img1/media/ob", 0755))",
                           R"(mkdir("/media/ob/ob/img1/sys", 0555))",
                           R"(mkdir("/media/ob/ob/img1/dev", 0755))",
                           R"(mkdir("/media/ob/ob/img1/proc", 0555))",
                           R"(mkdir("/media/ob/ob/img1/tmp", 01777))"}));
    EXPECT_LT(box.first(made.back()), box.first(R"(mount("/media/ob", "/media/ob/ob/img1)"));
    // A link in the image never has a mount point made in the flash root.
    ObinitBox linked;
    linked.add_image("img2", "/sbin/init");
    linked.rmdir("/media/ob/ob/img2/media/ob");
    linked.rmdir("/media/ob/ob/img2/media");
    linked.make_symlink("/mnt", "/media/ob/ob/img2/media");
    linked.make_dir("/media/ob/ob/img2/mnt");
    linked.make_dir("/mnt");
    linked.write_file("/media/ob/obboot.ini", "img2");
    linked.boot();
    EXPECT_FALSE(linked.called(R"(mkdir("/media/ob/ob/img2/media/ob")"));
    EXPECT_FALSE(linked.exists("/mnt/ob"));
    EXPECT_FALSE(box.printed(ob_test::error_line("/proc", ENOENT)));
}

// .oboneshot boots its image once, without the menu: the file is gone from
// the medium before anything of that boot happens, so that a cut or a hang
// during it leaves the stored choice. A file that cannot be used, or cannot
// be removed, is not honoured and the box boots as without it.
TEST(OneShot, BootsOnceWithoutTheMenuAndIsRemovedFirst) {
    const struct {
        const char* one_shot;
        bool removable;
        const char* program;  // the init that starts
        bool honoured;
        const char* line;
    } rows[] = {
        {"img2\n", true, "/lib/systemd/systemd", true,
         "Orbiel boots img2 once (/media/ob/.oboneshot) ...\nOrbiel is booting Image img2 ...\n"},
        {"Flash\n", true, "/sbin/init.sysvinit", true, "Orbiel is booting Image Flash ...\n"},
        {" img2\n", true, "/sbin/init", false,
         "Orbiel: no image name in /media/ob/.oboneshot, not honoured\n"},
        {"img2\n", false, "/sbin/init", false, "Orbiel: cannot remove /media/ob/.oboneshot: "},
        // An image that is gone or would not boot: the stored choice boots.
        {"gone\n", true, "/sbin/init", false,
         "Orbiel: cannot enter image directory /media/ob/ob/gone: No such file or directory "
         "(/media/ob/.oboneshot), not honoured\nOrbiel is booting Image img1 ...\n"},
        {"half\n", true, "/sbin/init", false,
         "Orbiel: image directory /media/ob/ob/half holds no init program (/media/ob/.oboneshot), "
         "not honoured\n"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.one_shot + std::string(row.removable ? "" : " (read-only)"));
        ObinitBox box;
        box.add_image("img1", "/sbin/init");
        box.add_image("img2", "/lib/systemd/systemd");
        box.add_image("half", "");
        box.write_file("/media/ob/obboot.ini", "img1\n");
        box.write_file("/media/ob/.oboneshot", row.one_shot);
        if (!row.removable) box.fail(R"(unlink("/media/ob/.oboneshot"))", EROFS);
        EXPECT_EQ(box.boot().program, row.program);
        EXPECT_TRUE(box.printed(row.line));
        EXPECT_EQ(box.called(menu_call), !row.honoured);
        EXPECT_EQ(box.exists("/media/ob/.oboneshot"), !row.removable);
        EXPECT_EQ(box.read_file("/media/ob/obboot.ini"), "img1\n");
        if (!row.removable) continue;
        const size_t removed = box.first(R"(unlink("/media/ob/.oboneshot"))");
        EXPECT_LT(removed, box.first(R"(fsync("/media/ob"))"));
        EXPECT_LT(box.first(R"(fsync("/media/ob"))"),
                  std::min(box.first("chdir("), box.first("execve(")));
    }
}

TEST(NoMedium, ElevenDotsElevenSecondsThenTheFlashInit) {
    ObinitBox box;
    box.write_file("/dev/sdb1", ob_test::ext_volume("OBIMAGES"));  // case matters
    const int64_t start = box.now_ms;
    EXPECT_EQ(box.boot().program, "/sbin/init.sysvinit");
    EXPECT_EQ(box.after_banner(), "\n...........\n");
    EXPECT_EQ(box.calls_starting("sleep("), Calls(11, "sleep(1000000)"));
    EXPECT_EQ(box.now_ms - start, 11000);
    EXPECT_EQ(box.calls_starting("mount("), Calls{R"(mount("proc", "/proc", "proc", 0, NULL))"});
}

TEST(MediumScan, FirstLabelWinsNodesAreMadeForPartitionsOnlyHostileLinesSkipped) {
    using ob_test::partition_line;
    ObinitBox box;
    box.write_file("/media/ob/.obnobootmanager", "");  // no device nodes but the scan's
    box.write_file("/dev/sda1", ob_test::fat_volume("FAT32", "ob         "));
    box.write_file("/proc/partitions",
                   ob_test::partition_list(
                       "   8\n" + std::string(300, '8') + "\n   8        1    1000000 \n" +
                       partition_line(179, 0, "mmcblk0") + partition_line(179, 1, "mmcblk0p1") +
                       partition_line(8, 49, std::string(27, 'a')) +  // "/dev/" and 27: too long
                       partition_line(8, 50, std::string(26, 'a')) + partition_line(8, 33, "sdc1") +
                       partition_line(8, 1, "sda1") + partition_line(8, 17, "sdb1")));
    box.fail(R"(mount("/dev/sda1")", EINVAL);
    EXPECT_EQ(box.boot().program, "/sbin/init.sysvinit");
    Calls made;
    for (size_t i = box.first(R"(mount("proc")"); i < box.calls.size(); ++i)
        if (box.calls[i].rfind("mknod(", 0) == 0) made.push_back(box.calls[i]);
    EXPECT_EQ(made, (Calls{R"(mknod("/dev/mmcblk0p1", 060666, 0xb301))",
                           R"(mknod("/dev/)" + std::string(26, 'a') + "\", 060666, 0x832)",
                           R"(mknod("/dev/sdc1", 060666, 0x821))"}));
    EXPECT_EQ(box.after_banner().rfind("\n\nOrbiel found on device /dev/sda1 ...\n\n" +
                                           ob_test::error_line("/media/ob", EINVAL),
                                       0),
              0u);
}

// A medium that the running kernel refuses is named for what it lacks.
TEST(MediumScan, AMediumTheKernelCannotMountSaysWhatTheKernelLacks) {
    const uint32_t ext4 = 0x2c2;  // filetype, extent, 64bit, flex_bg
    const struct {
        const char* release;
        uint32_t compat, incompat, ro_compat;
        std::string line;
    } rows[] = {
        {"3.4-4.0-dm520", 0x4, ext4, 0x400, "it uses metadata_csum, which Linux 3.4 lacks\n"},
        {"3.14.28-1.12-dm900", 0x4, ext4 | 0x2000, 0x400,
         "it uses metadata_csum_seed, which Linux 3.14 lacks\n"},
        {"3.14.28-1.12-dm900", 0, 0x2, 0, "it has no journal\n"},
        {"3.14.28-1.12-dm900", 0x4, ext4, 0x400, ""},  // mountable: the error itself
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.line);
        ObinitBox box;
        box.release = row.release;
        box.write_file("/dev/sdb1",
                       ob_test::ext_volume("obimages", row.compat, row.incompat, row.ro_compat));
        box.fail(R"(mount("/dev/sdb1")", EINVAL);
        box.boot();
        EXPECT_TRUE(box.printed(
            "Orbiel found on device /dev/sdb1 ...\n\n" +
            (row.line.empty() ? ob_test::error_line("/media/ob", EINVAL)
                              : "Orbiel: cannot mount /dev/sdb1 on /media/ob: " + row.line)));
    }
}

TEST(ImageRoot, BootManagerRunsThereOnlyWhenTheCommandLineAsks) {
    for (const char* cmdline : {"console=ttyS0 root=/dev/mmcblk0p1\n", "init=/sbin/obinit\n"}) {
        SCOPED_TRACE(cmdline);
        ObinitBox box;
        box.write_file("/.obinfo", "image");
        box.write_file("/proc/cmdline", cmdline);
        EXPECT_EQ(box.boot().program, "/sbin/init.sysvinit");
        EXPECT_EQ(box.called(menu_call), cmdline[0] == 'i');
    }
}

TEST(Gates, EachStopStartsTheFlashInitAtItsPlace) {
    const struct {
        pid_t pid;
        Calls args;
        std::string release;
        bool kernel_file;
        bool scans;  // gets as far as the partition scan
        bool menu;
    } cases[] = {
        {5, {"abc"}, "3.14.28-1.12-dm900", true, false, false},  // only process 1 boots
        {1, {"3"}, "3.14.28-1.12-dm900", true, false, false},    // a runlevel: the real init's
        {1, {"95"}, "3.14.28-1.12-dm900", true, true, true},     // none of ours: boots
        {1, {}, "3.14.28-1.12-xyz", true, false, false},
        {1, {}, "3.10.0-dm900", true, false, false},
        {1, {}, "3.14.28-1.12-dm900", false, true, false},
        {1, {}, "3.4-4.0-dm7020", true, true, false},  // a model-1 box wants vmlinux.bin
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.release + " pid " + std::to_string(c.pid));
        ObinitBox box;
        box.pid = c.pid;
        box.release = c.release;
        if (!c.kernel_file) box.unlink("/boot/zImage");
        const ob_test::Outcome run = box.boot(c.args);
        EXPECT_EQ(run.program, "/sbin/init.sysvinit");
        EXPECT_EQ(run.argv.size(), c.args.size() + 1);
        EXPECT_EQ(box.called("sync()"), !c.args.empty());
        EXPECT_EQ(box.called("mount("), c.scans);
        EXPECT_EQ(box.called(menu_call), c.menu);
    }
    ObinitBox maintenance;  // any process may run a maintenance command
    maintenance.pid = 345;
    EXPECT_EQ(maintenance.boot({"started"}).exit_status, 0);
    EXPECT_TRUE(maintenance.printed("Orbiel found on device /dev/sdb1"));
    ObinitBox relink;
    relink.pid = 345;
    EXPECT_EQ(relink.boot({"link"}).exit_status, 0);
    EXPECT_TRUE(relink.printed("Orbiel relinks /sbin/obinit to /sbin/init ...\n"));
}

TEST(Mends, AnUnusableSelectionBootsFlashWithItsSwapFile) {
    for (const char* selection : {" img1\n", "\n", "..", ".\n", "../../etc", "a/b"}) {
        SCOPED_TRACE(selection);
        ObinitBox box;
        box.write_file("/media/ob/swapfile", "swap");
        box.write_file("/media/ob/obboot.ini", selection);
        EXPECT_EQ(box.boot().program, "/sbin/init.sysvinit");
        EXPECT_TRUE(box.called(R"(swapon("/media/ob/swapfile", SWAP_FLAG_PREFER))"));
        EXPECT_TRUE(
            box.printed("Orbiel: invalid image name in /media/ob/obboot.ini, "
                        "booting Flash\nOrbiel is booting Image Flash ...\n"));
    }
}

TEST(Mends, AnImageDirectoryThatCannotBeEnteredBootsFlashUntouched) {
    for (const std::string name : {"ghost", "afile", "loop"}) {
        SCOPED_TRACE(name);
        ObinitBox box;
        box.write_file("/media/ob/swapfile", "swap");
        box.write_file("/media/ob/ob/afile", "not a directory");
        box.make_symlink("/", "/media/ob/ob/loop");
        box.write_file("/media/ob/obboot.ini", name);
        EXPECT_EQ(box.boot().program, "/sbin/init.sysvinit");
        EXPECT_FALSE(box.called(R"(mount(".")") || box.called("chroot("));
        EXPECT_TRUE(box.printed("Orbiel: cannot enter image directory /media/ob/ob/" + name));
        EXPECT_TRUE(box.printed("Orbiel is booting Flash instead ...\n"));
        EXPECT_TRUE(box.called(R"(swapon("/media/ob/swapfile", SWAP_FLAG_PREFER))"));
    }
}

// A position-independent program with the usual MIPS program interpreter.
const ob_test::Elf dynamic = {ELFCLASS32, ELFDATA2LSB, EM_MIPS, ET_DYN, "/lib/ld.so.1"};

// An image whose /sbin/init is the given file, and nothing else.
void init_of(ObinitBox& box, const std::string& name, const std::string& content,
             mode_t mode = 0755) {
    box.add_image(name, "");
    box.write_file("/media/ob/ob/" + name + "/sbin/init", content, mode);
}

// Images that would be entered and prepared but cannot start, or lie outside
// the medium's image directory: nothing is mounted or edited, Flash boots
// with its swap file.
TEST(Mends, AnImageWithoutInitOrOutsideTheImageDirectoryBootsFlash) {
    const struct {
        std::string name;
        std::function<void(ObinitBox&)> arrange;
        std::string message;
    } cases[] = {
        {"half", [](ObinitBox& box) { box.add_image("half", ""); }, "holds no init program"},
        // Links that lead out of the image, to the flash's own programs.
        {"linked",
         [](ObinitBox& box) {
             box.add_image("linked", "");
             box.make_symlink("/sbin/init.sysvinit", "/media/ob/ob/linked/sbin/init");
             box.make_dir("/media/ob/ob/linked/lib/systemd");
             box.make_symlink("../../../../../../sbin/init.sysvinit",
                              "/media/ob/ob/linked/lib/systemd/systemd");
         },
         "holds no init program"},
        {"dirinit",
         [](ObinitBox& box) {
             box.add_image("dirinit", "");
             box.make_dir("/media/ob/ob/dirinit/sbin/init");
         },
         "cannot start its init: /sbin/init is not a regular file"},
        // What execve would refuse after the switch, with process 1 gone.
        {"modes", [](ObinitBox& box) { init_of(box, "modes", elf_program(), 0644); },
         "cannot start its init: /sbin/init has no execute permission"},
        {"x86",
         [](ObinitBox& box) {
             init_of(box, "x86", elf_program({ELFCLASS64, ELFDATA2LSB, EM_X86_64, ET_DYN, {}}));
         },
         "cannot start its init: /sbin/init is a program for x86-64, not for 32-bit "
         "little-endian MIPS"},
        {"arm",
         [](ObinitBox& box) {
             init_of(box, "arm", elf_program({ELFCLASS32, ELFDATA2LSB, EM_ARM, ET_EXEC, {}}));
         },
         "cannot start its init: /sbin/init is a program for ARM, not for 32-bit little-endian "
         "MIPS"},
        {"mipseb",
         [](ObinitBox& box) {
             init_of(box, "mipseb", elf_program({ELFCLASS32, ELFDATA2MSB, EM_MIPS, ET_EXEC, {}}));
         },
         "cannot start its init: /sbin/init is a program for big-endian MIPS, not for 32-bit "
         "little-endian MIPS"},
        {"object",
         [](ObinitBox& box) {
             init_of(box, "object", elf_program({ELFCLASS32, ELFDATA2LSB, EM_MIPS, ET_REL, {}}));
         },
         "cannot start its init: /sbin/init is not an executable program"},
        {"dynamic", [](ObinitBox& box) { init_of(box, "dynamic", elf_program(dynamic)); },
         "cannot start its init: /sbin/init needs /lib/ld.so.1, which is missing"},
        {"script",
         [](ObinitBox& box) {
             init_of(box, "script", "#! /bin/bash -e\necho\n");
             box.write_file("/media/ob/ob/script/bin/sh", elf_program(), 0755);
         },
         "cannot start its init: /sbin/init is a script for /bin/bash, which is missing"},
        {"text", [](ObinitBox& box) { init_of(box, "text", "exec /bin/sh\n"); },
         "cannot start its init: /sbin/init is neither a program nor a script"},
        {"usr",
         [](ObinitBox& box) {
             box.write_file("/usr/sbin/init", "flash program");
             box.make_symlink("/usr", "/media/ob/ob/usr");
         },
         "lies outside /media/ob/ob"},
        {"up",
         [](ObinitBox& box) {
             box.add_image("img1", "/sbin/init");
             box.make_symlink("img1/../../bin", "/media/ob/ob/up");
         },
         "lies outside /media/ob/ob"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ObinitBox box;
        box.write_file("/media/ob/swapfile", "swap");
        c.arrange(box);
        box.write_file("/media/ob/obboot.ini", c.name + "\n");
        EXPECT_EQ(box.boot().program, "/sbin/init.sysvinit");
        EXPECT_FALSE(box.called(R"(mount("/media/ob", )") || box.called("chroot(") ||
                     box.called("chdir("));
        EXPECT_TRUE(box.printed("Orbiel is booting Image " + c.name +
                                " ...\nOrbiel: image directory /media/ob/ob/" + c.name + " " +
                                c.message + "\nOrbiel is booting Flash instead ...\n"));
        EXPECT_TRUE(box.called(R"(swapon("/media/ob/swapfile", SWAP_FLAG_PREFER))"));
    }
    // An init kept as a link inside the image (absolute, as images have it)
    // counts, and so does a link to an image in the same directory.
    ObinitBox box;
    box.add_image("img1", "/lib/systemd/systemd");
    box.make_symlink("/lib/systemd/systemd", "/media/ob/ob/img1/sbin/init");
    box.make_symlink("img1", "/media/ob/ob/alias");
    box.write_file("/media/ob/obboot.ini", "alias");
    EXPECT_EQ(box.boot().program, "/lib/systemd/systemd");
    // Scripts and dynamic programs with their interpreters inside the image,
    // on a medium whose image directory is itself a link.
    for (const char* name : {"script", "dynamic"}) {
        SCOPED_TRACE(name);
        ObinitBox linked;
        linked.rmdir("/media/ob/ob");
        linked.make_symlink("images", "/media/ob/ob");
        const std::string root = std::string("/media/ob/images/") + name;
        linked.add_image(name, "/sbin/init.sysvinit");
        linked.write_file(root + "/sbin/init.sysvinit",
                          name == std::string("script") ? "#!/bin/sh\n" : elf_program(dynamic),
                          0755);
        linked.write_file(root + "/bin/sh", elf_program(dynamic), 0755);
        linked.make_dir(root + "/lib");
        linked.make_symlink("ld-2.31.so", root + "/lib/ld.so.1");
        linked.write_file(root + "/lib/ld-2.31.so",
                          elf_program({ELFCLASS32, ELFDATA2LSB, EM_MIPS, ET_DYN, {}}), 0755);
        linked.write_file("/media/ob/obboot.ini", name);
        EXPECT_EQ(linked.boot().program, "/sbin/init.sysvinit");
        EXPECT_TRUE(linked.called(R"(chroot("."))"));
    }
}

// Process 1 given a maintenance command (say on the kernel command line)
// does its work and goes on with the flash's init, without the command.
TEST(Mends, ProcessOneNeverExitsAfterAMaintenanceCommand) {
    for (const char* command : {"start", "911", "link"}) {
        SCOPED_TRACE(command);
        ObinitBox box;
        // The kernel command line's other words go on to the flash init.
        const ob_test::Outcome run = box.boot({command, "single", "quiet"});
        EXPECT_EQ(run.program, "/sbin/init.sysvinit");
        EXPECT_EQ(run.argv, (Calls{"/sbin/init", "single", "quiet"}));
        EXPECT_FALSE(box.called("exit("));
        EXPECT_FALSE(box.printed("booting failed"));
    }
    // Only where there is no init at all does process 1 end.
    ObinitBox bare;
    bare.unlink("/sbin/init.sysvinit");
    EXPECT_EQ(bare.boot({"start"}).exit_status, 0);
    EXPECT_TRUE(bare.printed("\nOrbiel booting failed :-(\n\n"));
    EXPECT_EQ(bare.calls_starting("execve("), Calls{R"(execve("/sbin/init"))"});
}

// No file that obinit reads as content makes it wait: a FIFO under its name
// counts as missing.
TEST(Mends, FifosUnderControlFileNamesAreSkippedWithoutWaiting) {
    ObinitBox box;
    box.make_fifo("/media/ob/obboot.ini");
    box.make_fifo("/etc/videomode");
    box.write_file("/proc/stb/video/videomode", "");
    box.make_fifo("/media/ob/.obbootcolor");
    box.write_file("/proc/stb/avs/0/colorformat", "rgb\n");
    box.make_fifo("/media/ob/.obmask");
    box.write_file("/proc/stb/ir/rc/mask2", "");
    EXPECT_EQ(box.boot().program, "/sbin/init.sysvinit");
    EXPECT_TRUE(box.printed("Orbiel is booting Image Flash ...\n"));
    EXPECT_FALSE(box.printed("writing videomode"));
    EXPECT_EQ(box.read_file("/proc/stb/avs/0/colorformat"), std::string("rgb\0", 4))
        << "the driver's own value, written back";
    EXPECT_EQ(box.read_file("/proc/stb/ir/rc/mask2"), "");

    ObinitBox image;  // a FIFO as the command line of an image root
    image.write_file("/.obinfo", "image");
    image.make_fifo("/proc/cmdline");
    EXPECT_EQ(image.boot().program, "/sbin/init.sysvinit");
    EXPECT_FALSE(image.called(menu_call));
}

// What the boxes depend on, each pinned by a row.
TEST(Pins, EachModelLoadsItsOwnModules) {
    const struct {
        std::string release;
        const char* kernel_file;
        Calls modules;
    } cases[] = {
        {"3.4-4.0-dm7080", "/boot/vmlinux.bin", {"modprobe lcd", "modprobe bcm7435"}},
        {"3.4-4.0-dm820", "/boot/vmlinux.bin", {"modprobe lcd", "modprobe bcm7435"}},
        {"3.4-4.0-dm520", "/boot/vmlinux.gz", {"modprobe bcm73625"}},
        {"3.4-4.0-dm525", "/boot/vmlinux.gz", {"modprobe bcm73625"}},
        {"3.14.28-1.12-dm900", "/boot/zImage", {"modprobe lcd", "modprobe bcm7439"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.release);
        ObinitBox box;
        box.release = c.release;
        box.write_file(c.kernel_file, "kernel");
        EXPECT_EQ(box.boot().program, "/sbin/init.sysvinit");
        Calls expected = {R"(system("modprobe dreambox_rc2"))"};
        for (const std::string& module : c.modules)
            expected.push_back("system(\"" + module + "\")");
        expected.push_back(menu_call);
        EXPECT_EQ(box.calls_starting("system("), expected);
    }
}

TEST(Pins, AMediumThatAppearsInALaterPassIsFound) {
    ObinitBox box;
    const std::string late = box.read_file("/proc/partitions");
    box.write_file("/proc/partitions",
                   ob_test::partition_list(ob_test::partition_line(8, 0, "sda")));
    int sleeps = 0;
    box.on_sleep = [&](unsigned long) {
        if (++sleeps == 3) box.write_file("/proc/partitions", late);
    };
    const int64_t start = box.now_ms;
    EXPECT_EQ(box.boot().program, "/sbin/init.sysvinit");
    EXPECT_EQ(box.now_ms - start, 3000) << "three passes in vain, one second each";
    EXPECT_EQ(box.after_banner().rfind("\n...\nOrbiel found on device /dev/sdb1 ...\n\n", 0), 0u);
    EXPECT_TRUE(box.called(menu_call));
}

TEST(Pins, PartitionsOfOtherMajorsAreNeverTheMedium) {
    // Labelled "ob..." but on a RAM disk, a loop device, an MTD block device
    // or a disk of the second SCSI major: the medium is the partition of
    // major 8 after them.
    using ob_test::partition_line;
    ObinitBox box;
    for (const char* name : {"ram1", "loop1", "mtdblock1", "sdq1", "sdb1"})
        box.write_file(std::string("/dev/") + name, ob_test::ext_volume("obimages"));
    box.write_file(
        "/proc/partitions",
        ob_test::partition_list(partition_line(1, 1, "ram1") + partition_line(7, 1, "loop1") +
                                partition_line(31, 1, "mtdblock1") + partition_line(65, 1, "sdq1") +
                                partition_line(8, 17, "sdb1")));
    EXPECT_EQ(box.boot().program, "/sbin/init.sysvinit");
    EXPECT_TRUE(box.printed("Orbiel found on device /dev/sdb1 ...\n"));
}

TEST(Pins, TheFlashRootFallsBackToSystemdThenToTheClassicInit) {
    ObinitBox box;
    box.unlink("/sbin/init.sysvinit");
    box.write_file("/lib/systemd/systemd", "flash systemd");
    EXPECT_EQ(box.boot().program, "/lib/systemd/systemd");
    ObinitBox classic;
    classic.unlink("/sbin/init.sysvinit");
    classic.write_file("/sbin/init", "flash init");
    EXPECT_EQ(classic.boot().program, "/sbin/init");
}

TEST(Pins, TheMediumsColourFormatWinsOverTheDriversValue) {
    for (const char* stored : {"yuv\n", "cvbs"}) {
        SCOPED_TRACE(stored);
        ObinitBox box;
        box.write_file("/media/ob/.obbootcolor", stored);
        box.write_file("/proc/stb/avs/0/colorformat", "rgb\n");
        box.boot();
        EXPECT_EQ(box.read_file("/proc/stb/avs/0/colorformat"),
                  std::string(stored, strcspn(stored, "\n")) + '\0');
    }
}

}  // namespace
