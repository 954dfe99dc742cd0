"""Everything that runs inside the emulated box apart from the project's own
programs: busybox, the shell and e2fsprogs, the board's modules and the
stand-ins for the box's front-panel and decoder drivers, the harness's helper
programs, and the initramfs that plays the box's flash root.
In the release-1 mode the drivers are built into the kernel and the programs
are static release-1 builds (scripts/r1-userland, the release-1 toolchain)."""
import glob
import os
import shutil
import stat
import struct
import subprocess

from . import cpio, debian, kernel, paths, release1

# Drivers of the Malta board that a box has built in, in load order after
# dependencies are resolved. vfb becomes fb0 because qemu runs with -vga none.
# The release-1 kernel has them built in (tests/e2e/kernel-r1.config).
BOARD_MODULES = [
    ("crc32c_generic", ""), ("ata_piix", ""), ("ext4", ""), ("loop", ""), ("block2mtd", ""),
    ("vfb", "vfb_enable=1 videomemorysize=16588800"), ("evdev", ""),
    ("virtio_pci", ""), ("virtio_blk", ""), ("virtio_net", ""),
    ("sdhci_pci", ""), ("mmc_block", ""),
]

# The harness's stand-ins for the box's own front-panel and video-decoder
# drivers (modules/ here), built for the board's kernel in both modes and
# loaded after its drivers.
DEVICE_MODULES = ["e2e_panel", "e2e_video"]

# A built-in vfb is switched on by the video= option: its start-up sets
# vfb_enable from that, whatever the parameter said.
BUILTIN_ENABLE = {"vfb": "video=vfb:"}

# busybox applets the guest scripts and the programs' shell commands use.
APPLETS = """ash cat cp dd echo env grep head insmod ln ls mkdir mknod mount
    mv poweroff reboot rm rmdir sed sleep sort stty swapoff swapon sync tail
    test tr true false umount uname wc mdev find stat hexdump chroot losetup unshare ifconfig""".split()
SBIN_APPLETS = {"insmod", "mdev", "poweroff", "reboot", "swapoff", "swapon", "chroot", "losetup",
                "ifconfig"}

HELPERS = ["remap", "fbshot", "testinit", "report"]
# The boxes' 3.4 system-call table, which the board's start-up puts in front of
# process 1 when it finds it.
R1_HELPERS = ["syscalls34"]

# The shell and e2fsprogs of the flash root and the images: Debian's mipsel
# packages, or the release-1 userland's static programs (no libraries).
USERLAND = {
    "shell": (["dash"] + debian.LIBC, ["bin/dash"]),
    "e2fsprogs": (debian.E2FSPROGS, ["sbin/e2fsck", "sbin/fsck.ext4", "sbin/tune2fs"]),
}


@paths.cache_builder
def busybox():
    if paths.release1():
        return release1.userland("bin/busybox")
    tree = os.path.join(paths.cache(), "busybox")
    kernel.unpack(kernel.apt_download("busybox-static:mipsel", paths.debs()), tree)
    return os.path.join(tree, "bin", "busybox")


def userland_files(part):
    """(path in the root, host path) of one part of USERLAND; links stay links."""
    packages, built = USERLAND[part]
    if paths.release1():
        return [(rel, release1.userland(rel)) for rel in built]
    return [f for package in packages for f in debian.files(package)]


def add_userland(archive, part):
    for rel, path in userland_files(part):
        if not archive.has(rel):
            archive.host_copy(rel, path)


def tune2fs():
    return dict(userland_files("e2fsprogs"))["sbin/tune2fs"]


@paths.cache_builder
def helper(name):
    """Static mipsel build of one of the harness's guest programs."""
    if paths.release1():
        out_dir, gcc, strip = "guest-bin-r1", release1.tool("gcc"), release1.tool("strip")
    else:
        out_dir, gcc, strip = "guest-bin", "mipsel-linux-gnu-gcc", "mipsel-linux-gnu-strip"
    out_dir = os.path.join(paths.cache(), out_dir)
    os.makedirs(out_dir, exist_ok=True)
    src = os.path.join(paths.GUEST, name + ".c")
    out = os.path.join(out_dir, name)
    if not os.path.exists(out) or os.path.getmtime(out) < os.path.getmtime(src):
        subprocess.run([gcc, "-static", "-Os", "-Wall", "-Werror", "-o", out, src], check=True)
        subprocess.run([strip, out], check=True)
    return out


def _elf_section(data, wanted):
    shoff, = struct.unpack_from("<I", data, 0x20)
    shentsize, shnum, shstrndx = struct.unpack_from("<HHH", data, 0x2E)
    secs = [struct.unpack_from("<10I", data, shoff + i * shentsize) for i in range(shnum)]
    names = secs[shstrndx][4]
    for s in secs:
        if data[names + s[0]:data.index(b"\0", names + s[0])] == wanted:
            return data[s[4]:s[4] + s[5]]
    return b""


def module_index(tree):
    return {os.path.basename(p)[:-3].replace("-", "_"): p
            for p in glob.glob(os.path.join(tree, "lib/modules/*/kernel/**/*.ko"), recursive=True)}


def module_depends(path):
    info = _elf_section(open(path, "rb").read(), b".modinfo")
    for item in info.split(b"\0"):
        if item.startswith(b"depends="):
            return [d.decode().replace("-", "_") for d in item[8:].split(b",") if d]
    return []


def module_order(wanted, index):
    """Wanted modules with their dependencies first (the package has no modules.dep)."""
    order, params = [], dict(wanted)

    def visit(name, trail=()):
        if name in order:
            return
        if name in trail:
            raise RuntimeError("module dependency loop at " + name)
        if name not in index:
            raise RuntimeError("module %s is not in the kernel package" % name)
        for dep in module_depends(index[name]):
            visit(dep, trail + (name,))
        order.append(name)

    for name, _ in wanted:
        visit(name)
    return [(name, params.get(name, "")) for name in order]


@paths.cache_builder
def device_modules():
    """{name: path} of DEVICE_MODULES built for the board's kernel; built again when
    a source changes. The build happens in the cache: kbuild writes next to the sources."""
    tree = kernel.module_build_tree()
    src = os.path.join(paths.GUEST, "modules")
    kernel_name = os.path.basename(os.path.dirname(tree) if paths.release1() else tree)
    out = os.path.join(paths.cache(), "guest-modules", kernel_name)
    built = {name: os.path.join(out, name + ".ko") for name in DEVICE_MODULES}
    newest = max(os.path.getmtime(p) for p in glob.glob(os.path.join(src, "*")))
    if all(os.path.exists(ko) and os.path.getmtime(ko) >= newest for ko in built.values()):
        return built
    shutil.rmtree(out, ignore_errors=True)
    shutil.copytree(src, out)
    r = subprocess.run(["make", "-C", tree, "M=" + out, "ARCH=mips", "CROSS_COMPILE=mipsel-linux-gnu-"],
                       capture_output=True, text=True)
    if r.returncode != 0:
        last = (r.stdout + r.stderr).splitlines()[-30:]
        raise RuntimeError("the guest modules did not build:\n" + "\n".join(last))
    return built


def add_modules(archive, params=None):
    """The board's modules (none when built in) and the device stand-ins, and the order
    the board's init loads them in. params: {module: its parameters} for the stand-ins."""
    order = []
    if not paths.release1():
        index = module_index(kernel.stock_tree())
        order = module_order(BOARD_MODULES, index)
        for name, _ in order:
            archive.host_file("e2e/modules/%s.ko" % name, index[name], 0o644)
    for name, path in device_modules().items():
        archive.host_file("e2e/modules/%s.ko" % name, path, 0o644)
        order.append((name, (params or {}).get(name, "")))
    archive.file("e2e/modules.order", "".join("%s %s\n" % m for m in order))


def kernel_options():
    """Command-line words for the board's kernel. The stock one's text console
    would draw on the framebuffer, which on a box belongs to the menu alone:
    fbcon=map:1 keeps it off. The release-1 kernel has no text console there
    but the drivers built in, which take the modules' options here."""
    if not paths.release1():
        return "fbcon=map:1"
    words = ["%s.%s" % (name, option) for name, params in BOARD_MODULES for option in params.split()]
    return " ".join(words + [BUILTIN_ENABLE[name] for name, _ in BOARD_MODULES if name in BUILTIN_ENABLE])


def add_busybox(archive, prefix=""):
    archive.host_file(prefix + "/bin/busybox", busybox(), 0o755)
    for applet in APPLETS:
        where = "/sbin/" if applet in SBIN_APPLETS else "/bin/"
        archive.symlink(prefix + where + applet, "/bin/busybox")


def kernel_file_for(release):
    """The file a flash root of this model boots from (obinit looks for it)."""
    model = release[release.find("dm"):] if "dm" in release else ""
    if model.startswith("dm52"):
        return "/boot/vmlinux.gz"
    if model.startswith("dm900"):
        return "/boot/zImage"
    return "/boot/vmlinux.bin"


def shell_config(values):
    out = []
    for key, value in sorted(values.items()):
        out.append("%s='%s'\n" % (key, str(value).replace("'", "'\\''")))
    return "".join(out)


def is_dynamic(program):
    """True when the ELF program asks for a loader (PT_INTERP)."""
    with open(program, "rb") as f:
        data = f.read(4096)
    phoff, = struct.unpack_from("<I", data, 0x1C)
    phentsize, phnum = struct.unpack_from("<HH", data, 0x2A)
    return any(struct.unpack_from("<I", data, phoff + i * phentsize)[0] == 3 for i in range(phnum))


def flash_root(out, release, init_program, config=None, extra=None, menu=None, obctl=None,
               module_params=None):
    """Write the initramfs: the flash root of a box of the release's model.

    init_program is what the kernel starts as /sbin/init (obinit, or the
    harness's own test init); extra(archive) may add scenario files;
    module_params: {module: parameters} for the device stand-ins.
    """
    a = cpio.Archive()
    for d in ("dev", "proc", "sys", "tmp", "media", "etc", "boot", "var", "mnt"):
        a.dir(d)
    a.node("dev/console", stat.S_IFCHR, 5, 1)
    a.node("dev/null", stat.S_IFCHR, 1, 3, 0o666)
    add_busybox(a)
    # A shell without built-in applets, so that "modprobe" reaches the
    # board's stand-in instead of busybox's own module loader.
    add_userland(a, "shell")
    a.symlink("bin/sh", "/bin/dash")
    # The menu program runs in the flash root: a dynamically linked one
    # needs the flash to carry its libraries.
    if menu and is_dynamic(menu):
        debian.add_to(a, debian.MENU_LIBS)
    # So does obctl, run from the medium in a shell of the flash.
    if obctl and is_dynamic(obctl):
        debian.add_to(a, debian.OBCTL_LIBS)
    a.host_file("init", os.path.join(paths.GUEST, "init"), 0o755)
    a.host_file("sbin/modprobe", os.path.join(paths.GUEST, "modprobe"), 0o755)
    a.host_file("e2e/agent", os.path.join(paths.GUEST, "agent"), 0o755)
    for name in HELPERS + (R1_HELPERS if paths.release1() else []):
        a.host_file("e2e/bin/" + name, helper(name), 0o755)
    add_modules(a, module_params)
    a.file("e2e/config", shell_config(config or {}))
    if init_program == "testinit":
        a.symlink("sbin/init", "/e2e/bin/testinit")
    elif init_program == "flash":
        a.symlink("sbin/init", "/sbin/init.sysvinit")
    else:
        a.host_file("sbin/obinit", init_program, 0o755)
        a.symlink("sbin/init", "/sbin/obinit")
    a.host_file("sbin/init.sysvinit", helper("report"), 0o755)
    a.host_file("etc/e2e-init.sh", os.path.join(paths.GUEST, "flash-init"), 0o755)
    a.file("etc/e2e-role", "FLASH\n")
    a.file(kernel_file_for(release), b"kernel placeholder\n")
    a.file("etc/videomode", "720p\n")
    if extra:
        extra(a)
    a.write(out)
    return out
