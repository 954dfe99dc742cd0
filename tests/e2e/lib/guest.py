"""Everything that runs inside the emulated box apart from the project's own
programs: busybox, the board's modules, the harness's helper programs, and
the initramfs that plays the box's flash root."""
import glob
import os
import stat
import struct
import subprocess

from . import cpio, debian, kernel, paths

# Drivers of the Malta board that a box has built in, in load order after
# dependencies are resolved. vfb becomes fb0 because qemu runs with -vga none.
BOARD_MODULES = [
    ("crc32c_generic", ""), ("ata_piix", ""), ("ext4", ""), ("loop", ""), ("block2mtd", ""),
    ("vfb", "vfb_enable=1 videomemorysize=16588800"), ("evdev", ""),
    ("virtio_pci", ""), ("virtio_blk", ""),
    ("sdhci_pci", ""), ("mmc_block", ""),
]

# busybox applets the guest scripts and the programs' shell commands use.
APPLETS = """ash cat cp dd echo env grep head insmod ln ls mkdir mknod mount
    mv poweroff reboot rm rmdir sed sleep sort stty swapoff swapon sync tail
    test tr true false umount uname wc mdev find stat hexdump chroot losetup""".split()
SBIN_APPLETS = {"insmod", "mdev", "poweroff", "reboot", "swapoff", "swapon", "chroot", "losetup"}

HELPERS = ["remap", "fbshot", "testinit", "report"]


def busybox():
    tree = os.path.join(paths.cache(), "busybox")
    kernel.unpack(kernel.apt_download("busybox-static:mipsel", paths.debs()), tree)
    return os.path.join(tree, "bin", "busybox")


def helper(name):
    """Static mipsel build of one of the harness's guest programs."""
    out_dir = os.path.join(paths.cache(), "guest-bin")
    os.makedirs(out_dir, exist_ok=True)
    src = os.path.join(paths.GUEST, name + ".c")
    out = os.path.join(out_dir, name)
    if not os.path.exists(out) or os.path.getmtime(out) < os.path.getmtime(src):
        subprocess.run(["mipsel-linux-gnu-gcc", "-static", "-Os", "-Wall", "-Werror", "-o", out, src],
                       check=True)
        subprocess.run(["mipsel-linux-gnu-strip", out], check=True)
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


def flash_root(out, release, init_program, config=None, extra=None, menu=None):
    """Write the initramfs: the flash root of a box of the release's model.

    init_program is what the kernel starts as /sbin/init (obinit, or the
    harness's own test init); extra(archive) may add scenario files.
    """
    tree = kernel.stock_tree()
    index = module_index(tree)
    a = cpio.Archive()
    for d in ("dev", "proc", "sys", "tmp", "media", "etc", "boot", "var", "mnt"):
        a.dir(d)
    a.node("dev/console", stat.S_IFCHR, 5, 1)
    a.node("dev/null", stat.S_IFCHR, 1, 3, 0o666)
    add_busybox(a)
    # A shell without built-in applets, so that "modprobe" reaches the
    # board's stand-in instead of busybox's own module loader.
    debian.add_to(a, ["dash"] + debian.LIBC)
    a.symlink("bin/sh", "/bin/dash")
    # The menu program runs in the flash root: a dynamically linked one
    # needs the flash to carry its libraries.
    if menu and is_dynamic(menu):
        debian.add_to(a, debian.MENU_LIBS)
    a.host_file("init", os.path.join(paths.GUEST, "init"), 0o755)
    a.host_file("sbin/modprobe", os.path.join(paths.GUEST, "modprobe"), 0o755)
    a.host_file("e2e/agent", os.path.join(paths.GUEST, "agent"), 0o755)
    for name in HELPERS:
        a.host_file("e2e/bin/" + name, helper(name), 0o755)
    order = module_order(BOARD_MODULES, index)
    for name, _ in order:
        a.host_file("e2e/modules/%s.ko" % name, index[name], 0o644)
    a.file("e2e/modules.order", "".join("%s %s\n" % m for m in order))
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
