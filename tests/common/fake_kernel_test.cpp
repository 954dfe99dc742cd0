// The fake kernel's own behaviour, where the sequence tests lean on it.
#include "fake_kernel.h"

#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/fb.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <sys/mount.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <fstream>
#include <iterator>

#include "png_writer.h"

namespace {

using ob_test::ExecCalled;
using ob_test::ExitCalled;
using ob_test::FakeFramebuffer;
using ob_test::FakeInputDevice;
using ob_test::FakeKernel;

std::string read_all(ob::Kernel& k, const char* path) {
    int fd = k.open(path, O_RDONLY);
    if (fd < 0) return "<" + std::string(strerror(errno)) + ">";
    std::string text;
    char buf[64];
    ssize_t n;
    while ((n = k.read(fd, buf, sizeof buf)) > 0)
        text.append(buf, static_cast<size_t>(n));
    k.close(fd);
    return text;
}

TEST(FakeKernelPaths, StayInsideTheBoxAndFollowItsLinks) {
    FakeKernel k;
    k.write_file("/etc/issue", "box\n");
    k.make_symlink("/etc/issue", "/media/ob/link");
    ASSERT_EQ(k.chdir("/media/ob"), 0);
    EXPECT_EQ(read_all(k, "../../../../etc/issue"), "box\n");
    EXPECT_EQ(read_all(k, "link"), "box\n");  // absolute target: from the box's root
    EXPECT_EQ(k.host_path("/a/./b/../c"), k.host_root() + "/a/c");
    std::vector<std::string> names;
    ASSERT_EQ(k.list_dir("/media/ob", names), 0);
    EXPECT_EQ(names, std::vector<std::string>{"link"});
    EXPECT_EQ(k.list_dir("/nowhere", names), -1);
    char target[32] = {};
    EXPECT_EQ(k.readlink("link", target, sizeof target), 10);
    EXPECT_STREQ(target, "/etc/issue");
}

TEST(FakeKernelPaths, SwitchingRootCarriesTheMountsAlong) {
    FakeKernel k;
    k.write_file("/media/ob/obboot.ini", "img\n");
    k.write_file("/sys/kernel/name", "sysfs\n");
    k.make_dir("/dev");
    k.make_dir("/media/ob/ob/img/media/ob");
    k.make_dir("/media/ob/ob/img/sys");
    k.make_dir("/media/ob/ob/img/dev");
    k.write_file("/media/ob/ob/img/etc/issue", "image\n");
    k.add_mount("/dev");

    ASSERT_EQ(k.chdir("/media/ob/ob/img"), 0);
    EXPECT_EQ(k.mount("/media/ob", "/media/ob/ob/img/media/ob", nullptr, MS_BIND, nullptr), 0);
    EXPECT_EQ(k.mount("/sys", "/media/ob/ob/img/sys", nullptr, MS_MOVE, nullptr), 0);
    EXPECT_EQ(k.mount("/dev", "/media/ob/ob/img/dev", nullptr, MS_MOVE, nullptr), 0);
    EXPECT_EQ(k.mount(".", "/", nullptr, MS_BIND, nullptr), 0);
    EXPECT_EQ(read_all(k, "/etc/issue"), "<No such file or directory>");  // not the root yet
    ASSERT_EQ(k.chroot("."), 0);
    ASSERT_EQ(k.chdir("/"), 0);

    EXPECT_EQ(read_all(k, "/etc/issue"), "image\n");
    EXPECT_EQ(read_all(k, "/media/ob/obboot.ini"), "img\n");
    EXPECT_EQ(read_all(k, "/sys/kernel/name"), "sysfs\n");
    EXPECT_EQ(read_all(k, "/../../etc/issue"), "image\n");  // ".." stops at the new root
    EXPECT_EQ(k.mknod("/dev/fb0", S_IFCHR | 0660, makedev(29, 0)), 0);
    EXPECT_TRUE(k.exists("/dev/fb0"));  // the moved /dev is the flash root's
    EXPECT_EQ(k.nodes.count("/dev/fb0"), 1u);
    EXPECT_EQ(k.umount("/dev"), 0);  // moved along, mounted at the new place
    EXPECT_EQ(k.umount("/dev"), -1);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(k.calls[0], "chdir(\"/media/ob/ob/img\")");
    EXPECT_EQ(k.calls[1],
              "mount(\"/media/ob\", \"/media/ob/ob/img/media/ob\", NULL, 0x1000, NULL)");
}

TEST(FakeKernelPaths, MountsNeedTheirDirectoriesAndUmountNeedsAMount) {
    FakeKernel k;
    k.make_dir("/media/ob");
    EXPECT_EQ(k.mount("proc", "/proc", "proc", 0, nullptr), -1);
    EXPECT_EQ(errno, ENOENT);
    EXPECT_EQ(k.umount("/media/ob"), -1);
    EXPECT_EQ(errno, EINVAL);
    EXPECT_EQ(k.mount("/dev/sda1", "/media/ob", "ext4", 0xC0ED0C00, "barrier=1,data=journal"), 0);
    EXPECT_EQ(k.umount("/media/ob"), 0);
    EXPECT_EQ(k.mount("/nowhere", "/media/ob", nullptr, MS_BIND, nullptr), -1);
    EXPECT_EQ(
        k.calls,
        (std::vector<std::string>{
            "mount(\"proc\", \"/proc\", \"proc\", 0x0, NULL)", "umount(\"/media/ob\")",
            "mount(\"/dev/sda1\", \"/media/ob\", \"ext4\", 0xc0ed0c00, "
            "\"barrier=1,data=journal\")",
            "umount(\"/media/ob\")", "mount(\"/nowhere\", \"/media/ob\", NULL, 0x1000, NULL)"}));
}

TEST(FakeKernelFiles, ConsoleCaptureFollowsTheDescriptorTable) {
    FakeKernel k;
    ob::print_to(1, "out ");
    ob::print_to(2, "err ");
    ASSERT_EQ(k.close(0), 0);
    EXPECT_EQ(k.open("/dev/console", O_RDWR), 0);  // lowest free descriptor
    k.write_file("/log", "");
    int log = k.open("/log", O_WRONLY | O_APPEND);
    ASSERT_EQ(log, 3);
    EXPECT_EQ(k.dup2(log, 1), 1);
    ob::print_to(1, "to file ");
    EXPECT_EQ(k.dup2(0, 1), 1);
    ob::print_to(1, "back");
    ob::print_to(0, "!");
    EXPECT_EQ(k.stdout_text, "out back");
    EXPECT_EQ(k.stderr_text, "err ");
    EXPECT_EQ(k.console_text, "out err back!");
    EXPECT_EQ(k.read_file("/log"), "to file ");
    EXPECT_EQ(k.write(9, "x", 1), -1);
    EXPECT_EQ(errno, EBADF);
    EXPECT_EQ(k.calls, (std::vector<std::string>{"open(\"/dev/console\", 0x2)", "dup2(3, 1)",
                                                 "dup2(0, 1)"}));
}

TEST(FakeKernelFiles, CreationHonoursTheMaskAndNodesReportTheirType) {
    FakeKernel k;
    EXPECT_EQ(k.umask(0), 022u);
    EXPECT_EQ(k.mkdir("/dev", 0777), 0);
    int fd = k.open("/dev/new", O_WRONLY | O_CREAT | O_TRUNC, 0666);
    ASSERT_GE(fd, 3);
    k.close(fd);
    struct stat st;
    ASSERT_EQ(k.stat("/dev/new", &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0666u);
    EXPECT_EQ(k.mknod("/dev/sda1", S_IFBLK | 0660, makedev(8, 1)), 0);
    EXPECT_EQ(k.mknod("/dev/sda1", S_IFBLK | 0600, makedev(8, 2)), -1);
    EXPECT_EQ(errno, EEXIST);
    ASSERT_EQ(k.lstat("/dev/sda1", &st), 0);
    EXPECT_TRUE(S_ISBLK(st.st_mode));
    EXPECT_EQ(st.st_rdev, makedev(8, 1));
    EXPECT_EQ(k.nodes["/dev/sda1"].dev, makedev(8, 1));
    k.node_content["/dev/sdb1"] = "superblock";
    EXPECT_EQ(k.mknod("/dev/sdb1", S_IFBLK | 0666, makedev(8, 17)), 0);
    EXPECT_EQ(read_all(k, "/dev/sdb1"), "superblock");
    EXPECT_EQ(k.calls,
              (std::vector<std::string>{
                  "umask(0)", "mkdir(\"/dev\", 0777)", "mknod(\"/dev/sda1\", 060660, 0x801)",
                  "mknod(\"/dev/sda1\", 060600, 0x802)", "mknod(\"/dev/sdb1\", 060666, 0x811)"}));
}

TEST(FakeKernelFailures, InjectedErrorsHitMatchingCallsOnly) {
    FakeKernel k;
    k.make_dir("/a");
    k.write_file("/a/file", "x");
    k.fail("mkdir(\"/a/b", EROFS, 1);
    k.fail_open("/a/file", EACCES);
    EXPECT_EQ(k.mkdir("/a/c", 0755), 0);
    EXPECT_EQ(k.mkdir("/a/b", 0755), -1);
    EXPECT_EQ(errno, EROFS);
    EXPECT_EQ(k.mkdir("/a/b", 0755), 0);  // only once
    EXPECT_EQ(k.open("/a/file", O_RDONLY), -1);
    EXPECT_EQ(errno, EACCES);
    EXPECT_EQ(k.open("/a", O_RDONLY), 3);  // directories open for the existence test
    EXPECT_EQ(k.calls_starting("mkdir").size(), 3u);
}

TEST(FakeKernelProcesses, ExecExitSystemAndForkAreScripted) {
    FakeKernel k;
    k.write_file("/sbin/init", "#!", 0755);
    char arg0[] = "/sbin/init", env0[] = "TERM=linux";
    char* argv[] = {arg0, nullptr};
    char* envp[] = {env0, nullptr};
    EXPECT_EQ(k.execve("/lib/systemd/systemd", argv, envp), -1);
    EXPECT_EQ(errno, ENOENT);
    try {
        k.execve("/sbin/init", argv, envp);
        ADD_FAILURE() << "execve returned";
    } catch (const ExecCalled& exec) {
        EXPECT_EQ(exec.path, "/sbin/init");
        EXPECT_EQ(exec.argv, std::vector<std::string>{"/sbin/init"});
        EXPECT_EQ(exec.envp, std::vector<std::string>{"TERM=linux"});
    }
    k.on_system = [&k](const std::string& command) {
        k.write_file("/media/ob/obboot.ini", command + "\n");
        return 256;
    };
    EXPECT_EQ(k.system("orbiel"), 256);
    EXPECT_EQ(k.read_file("/media/ob/obboot.ini"), "orbiel\n");
    EXPECT_EQ(k.fork(), 4242);
    EXPECT_THROW(k.exit_now(6), ExitCalled);
    EXPECT_EQ(k.calls, (std::vector<std::string>{"execve(\"/lib/systemd/systemd\")",
                                                 "execve(\"/sbin/init\")", "system(\"orbiel\")",
                                                 "fork()", "_exit(6)"}));
}

TEST(FakeKernelClock, PollWaitsForScriptedInputOnTheVirtualClock) {
    FakeKernel k;
    auto& remote = k.add_device("/dev/input/event0", std::make_unique<FakeInputDevice>());
    const int64_t start = k.now_ms;
    remote.key(start + 1500, KEY_OK);
    int fd = k.open("/dev/input/event0", O_RDWR | O_NONBLOCK);
    ASSERT_GE(fd, 3);

    char name[8];
    EXPECT_EQ(k.ioctl(fd, EVIOCGNAME(sizeof name), name), 8);
    EXPECT_EQ(std::string(name, 8), "dreambox");
    struct input_id id;
    EXPECT_EQ(k.ioctl(fd, EVIOCGID, &id), 0);
    EXPECT_EQ(id.bustype, BUS_HOST);

    struct input_event ev;
    EXPECT_EQ(k.read(fd, &ev, sizeof ev), -1);
    EXPECT_EQ(errno, EAGAIN);
    struct pollfd p = {fd, POLLIN, 0};
    EXPECT_EQ(k.poll(&p, 1, 1000), 0);  // times out first
    EXPECT_EQ(k.now_ms, start + 1000);
    EXPECT_EQ(k.poll(&p, 1, -1), 1);  // then wakes exactly when the key comes
    EXPECT_EQ(k.now_ms, start + 1500);
    EXPECT_EQ(p.revents, POLLIN);
    EXPECT_EQ(k.read(fd, &ev, sizeof ev - 1), -1);
    EXPECT_EQ(errno, EINVAL);
    ASSERT_EQ(k.read(fd, &ev, sizeof ev), static_cast<ssize_t>(sizeof ev));
    EXPECT_EQ(ev.code, KEY_OK);
    EXPECT_EQ(ev.value, 1);
    ASSERT_EQ(k.read(fd, &ev, sizeof ev), static_cast<ssize_t>(sizeof ev));
    EXPECT_EQ(ev.value, 0);
    EXPECT_EQ(k.poll(&p, 1, -1), -1);  // nothing left: would hang forever
    EXPECT_EQ(errno, EDEADLK);

    int sleeps = 0;
    k.on_sleep = [&sleeps](unsigned long) { ++sleeps; };
    k.sleep_us(2500);
    k.sleep_us(500);
    EXPECT_EQ(sleeps, 2);
    EXPECT_EQ(k.monotonic_ms(), start + 1503);
    EXPECT_EQ(k.time(), static_cast<time_t>((start + 1503) / 1000));
    k.close(fd);
    EXPECT_EQ(remote.opens, 1);
    EXPECT_EQ(remote.closes, 1);
}

TEST(FakeFramebufferTest, ModeChangesMappingAndPalette) {
    FakeKernel k;
    auto& fb = k.add_device("/dev/fb0", std::make_unique<FakeFramebuffer>());
    int fd = k.open("/dev/fb0", O_RDWR);
    struct fb_var_screeninfo var;
    ASSERT_EQ(k.ioctl(fd, FBIOGET_VSCREENINFO, &var), 0);
    var.xres = var.xres_virtual = 64;
    var.yres = var.yres_virtual = 32;
    var.bits_per_pixel = 32;
    ASSERT_EQ(k.ioctl(fd, FBIOPUT_VSCREENINFO, &var), 0);
    struct fb_fix_screeninfo fix;
    ASSERT_EQ(k.ioctl(fd, FBIOGET_FSCREENINFO, &fix), 0);
    EXPECT_EQ(fix.line_length, 256u);
    EXPECT_EQ(fix.smem_len, 256u * 32);
    EXPECT_EQ(k.mmap(nullptr, fix.smem_len + 1, PROT_WRITE, MAP_SHARED, fd, 0), MAP_FAILED);
    auto* mem = static_cast<uint8_t*>(k.mmap(nullptr, fix.smem_len, PROT_WRITE, MAP_SHARED, fd, 0));
    ASSERT_NE(mem, MAP_FAILED);
    const uint8_t red[4] = {0xFF, 0x00, 0x00, 0xFF};
    memcpy(mem + 2 * fix.line_length + 4 * 3, red, 4);
    EXPECT_EQ(fb.pixel(3, 2), 0xFF0000FFu);

    fb.grant_bpp = 16;
    ASSERT_EQ(k.ioctl(fd, FBIOPUT_VSCREENINFO, &var), 0);
    EXPECT_EQ(var.bits_per_pixel, 16u);  // the answer is written back
    EXPECT_EQ(var.red.offset, 11u);
    EXPECT_EQ(fb.line_length(), 128u);
    mem[0] = 1;  // the old mapping still points at live memory
    unsigned char off = 0;
    EXPECT_EQ(k.ioctl(fd, _IOW('F', 0x21, unsigned char), &off), 0);
    EXPECT_EQ(fb.manual_blit, 0);
    uint16_t r[2] = {0xFFFF, 0}, g[2] = {0, 0}, b[2] = {0, 0xFFFF};
    struct fb_cmap cmap = {1, 2, r, g, b, nullptr};
    EXPECT_EQ(k.ioctl(fd, FBIOPUTCMAP, &cmap), 0);
    EXPECT_EQ(fb.cmap_start, 1u);
    EXPECT_EQ(fb.cmap_blue, (std::vector<uint16_t>{0, 0xFFFF}));
    cmap.len = 300;
    EXPECT_EQ(k.ioctl(fd, FBIOPUTCMAP, &cmap), -1);
    EXPECT_EQ(k.calls_starting("ioctl(\"/dev/fb0\", 0x4601)").size(), 2u);
}

TEST(FakeFramebufferTest, SavesAReadablePng) {
    const uint8_t wikipedia[] = {'W', 'i', 'k', 'i', 'p', 'e', 'd', 'i', 'a'};
    EXPECT_EQ(ob_test::png_adler32(wikipedia, sizeof wikipedia), 0x11E60398u);
    const uint8_t check[] = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
    EXPECT_EQ(ob_test::png_crc32(check, sizeof check), 0xCBF43926u);

    FakeFramebuffer fb(300, 250, 32);  // over 65535 bytes: several stored blocks
    FakeKernel k;
    std::string file = k.host_root() + "/screen.png";
    ASSERT_TRUE(fb.save_png(file));
    std::ifstream in(file, std::ios::binary);
    std::string png((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(png.substr(0, 8), std::string("\x89PNG\r\n\x1a\n", 8));
    EXPECT_EQ(png.substr(png.size() - 12), std::string("\0\0\0\0IEND\xae\x42\x60\x82", 12));
    const size_t raw = (300 * 3 + 1) * 250, blocks = (raw + 65534) / 65535;
    EXPECT_EQ(png.size(), 8 + 25 + 12 + 2 + 5 * blocks + raw + 4 + 12);
}

}  // namespace
