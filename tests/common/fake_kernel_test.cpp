// The fake kernel's tricky parts, where every sequence test leans on it:
// paths through chroot and moved mounts, the console behind dup2, the
// virtual clock under poll, and the framebuffer's mode and mapping.
#include "fake_kernel.h"

#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/fb.h>
#include <stdio.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/mount.h>
#include <sys/sysmacros.h>

namespace {

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

TEST(FakeKernelPaths, SwitchingRootCarriesTheMountsAlong) {
    FakeKernel k;
    k.write_file("/media/ob/obboot.ini", "img\n");
    k.write_file("/sys/kernel/name", "sysfs\n");
    k.write_file("/etc/issue", "flash\n");
    k.make_symlink("/etc/issue", "/media/ob/link");
    for (const char* dir :
         {"/dev", "/media/ob/ob/img/media/ob", "/media/ob/ob/img/sys", "/media/ob/ob/img/dev"})
        k.make_dir(dir);
    k.write_file("/media/ob/ob/img/etc/issue", "image\n");
    k.add_mount("/dev");

    ASSERT_EQ(k.chdir("/media/ob/ob/img"), 0);
    EXPECT_EQ(read_all(k, "../../../../etc/issue"), "flash\n");
    EXPECT_EQ(read_all(k, "../../link"), "flash\n");  // absolute target: from the box's root
    EXPECT_EQ(k.mount("/media/ob", "/media/ob/ob/img/media/ob", nullptr, MS_BIND, nullptr), 0);
    EXPECT_EQ(k.mount("/sys", "/media/ob/ob/img/sys", nullptr, MS_MOVE, nullptr), 0);
    EXPECT_EQ(k.mount("/dev", "/media/ob/ob/img/dev", nullptr, MS_MOVE, nullptr), 0);
    EXPECT_EQ(k.mount(".", "/", nullptr, MS_BIND, nullptr), 0);
    EXPECT_EQ(k.calls_starting("mount(")[1],
              R"(mount("/sys", "/media/ob/ob/img/sys", NULL, MS_MOVE, NULL))");
    EXPECT_EQ(read_all(k, "/etc/issue"), "flash\n");  // not the root yet
    ASSERT_EQ(k.chroot("."), 0);
    ASSERT_EQ(k.chdir("/"), 0);

    EXPECT_EQ(read_all(k, "/etc/issue"), "image\n");
    EXPECT_EQ(read_all(k, "/media/ob/obboot.ini"), "img\n");
    EXPECT_EQ(read_all(k, "/media/ob/link"), "image\n");  // now from the new root
    EXPECT_EQ(read_all(k, "/sys/kernel/name"), "sysfs\n");
    EXPECT_EQ(read_all(k, "/../../etc/issue"), "image\n");  // ".." stops at the new root
    EXPECT_EQ(k.mknod("/dev/fb0", S_IFCHR | 0660, makedev(29, 0)), 0);
    EXPECT_TRUE(k.exists("/dev/fb0"));  // in the flash root's /dev, moved along
    EXPECT_EQ(k.umount("/dev"), 0);     // mounted at its new place
    EXPECT_EQ(k.umount("/dev"), -1);
    EXPECT_EQ(errno, EINVAL);
}

TEST(FakeKernelFiles, ConsoleCaptureFollowsTheDescriptorTable) {
    FakeKernel k;
    ob::print_to(1, "out ");
    ob::print_to(2, "err ");
    ASSERT_EQ(k.close(0), 0);
    EXPECT_EQ(k.open("/dev/console", O_RDWR), 0);  // lowest free descriptor
    k.write_file("/log", "");
    const int log = k.open("/log", O_WRONLY | O_APPEND);
    EXPECT_EQ(k.dup2(log, 1), 1);
    ob::print_to(1, "to file ");
    EXPECT_EQ(k.dup2(0, 1), 1);
    ob::print_to(1, "back");
    ob::print_to(0, "!");
    EXPECT_EQ(k.stdout_text, "out back");
    EXPECT_EQ(k.stderr_text, "err ");
    EXPECT_EQ(k.console_text, "out err back!");
    EXPECT_EQ(k.read_file("/log"), "to file ");
    // Calls are recorded with their flags by name, what has no name in hex.
    k.open("/dev/console", O_WRONLY | O_NONBLOCK | O_DSYNC);
    char unnamed[16];
    snprintf(unnamed, sizeof unnamed, "0x%x", static_cast<unsigned>(O_DSYNC));
    EXPECT_EQ(k.calls.back(),
              R"(open("/dev/console", O_WRONLY|O_NONBLOCK|)" + std::string(unnamed) + ")");
}

TEST(FakeKernelClock, PollWaitsForScriptedInputOnTheVirtualClock) {
    FakeKernel k;
    auto& remote = k.add_device("/dev/input/event0", std::make_unique<ob_test::FakeInputDevice>());
    const int64_t start = k.now_ms;
    remote.key(start + 1500, KEY_OK);
    const int fd = k.open("/dev/input/event0", O_RDWR | O_NONBLOCK);
    struct input_event ev;
    EXPECT_EQ(k.read(fd, &ev, sizeof ev), -1);
    EXPECT_EQ(errno, EAGAIN);
    struct pollfd p = {fd, POLLIN, 0};
    EXPECT_EQ(k.poll(&p, 1, 1000), 0);  // times out first
    EXPECT_EQ(k.now_ms, start + 1000);
    EXPECT_EQ(k.poll(&p, 1, -1), 1);  // then wakes exactly when the key comes
    EXPECT_EQ(k.now_ms, start + 1500);
    EXPECT_EQ(p.revents, POLLIN);
    ASSERT_EQ(k.read(fd, &ev, sizeof ev), static_cast<ssize_t>(sizeof ev));
    EXPECT_EQ(ev.code, KEY_OK);
    EXPECT_EQ(ev.value, 1);
    ASSERT_EQ(k.read(fd, &ev, sizeof ev), static_cast<ssize_t>(sizeof ev));
    EXPECT_EQ(ev.value, 0);
    EXPECT_EQ(k.poll(&p, 1, -1), -1);  // nothing left: would hang forever
    EXPECT_EQ(errno, EDEADLK);
}

TEST(FakeFramebufferTest, ModeChangeAndMapping) {
    FakeKernel k;
    auto& fb = k.add_device("/dev/fb0", std::make_unique<ob_test::FakeFramebuffer>());
    const int fd = k.open("/dev/fb0", O_RDWR);
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

    fb.grant_bpp = 16;  // the driver answers with what it grants
    ASSERT_EQ(k.ioctl(fd, FBIOPUT_VSCREENINFO, &var), 0);
    EXPECT_EQ(var.bits_per_pixel, 16u);
    EXPECT_EQ(var.red.offset, 11u);
    EXPECT_EQ(fb.line_length(), 128u);
    mem[0] = 1;  // the old mapping still points at live memory
}

}  // namespace
