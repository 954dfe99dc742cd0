"""The emulated box's kernel: Debian's Malta kernel with a box's release text.

obinit only acts on a 3.4 or 3.14 release that names a model, so the stock
kernel is unpacked, its release text is rewritten and it is wrapped in an ELF
that qemu's Malta loader starts directly. Everything lands in the cache and is
made once per release. The release-1 mode's kernel (scripts/r1-kernel) is an
ELF program already and only gets its release text rewritten.
"""
import glob
import lzma
import os
import re
import struct
import subprocess

from . import paths, release1

KERNEL_META = "linux-image-4kc-malta:mipsel"
LOAD_ADDRESS = 0x80100000
XZ_MAGIC = b"\xfd7zXZ\x00"
UTS_FIELD = 65  # bytes per field of the kernel's uts_name record


def _run(cmd, **kw):
    return subprocess.run(cmd, check=True, **kw)


@paths.cache_builder
def apt_download(package, into):
    """Fetch one Debian package (name, name:arch, either with =version) unless a copy is cached."""
    os.makedirs(into, exist_ok=True)
    base = re.split("[:=]", package)[0]
    found = glob.glob(os.path.join(into, base + "_*.deb"))
    if found:
        return found[0]
    r = subprocess.run(["apt-get", "download", "-q", package], cwd=into, capture_output=True, text=True)
    if r.returncode != 0:
        raise RuntimeError("apt-get download %s failed: %s" % (package, r.stderr.strip()))
    found = glob.glob(os.path.join(into, base + "_*.deb"))
    if not found:
        raise RuntimeError("apt-get download %s left no package" % package)
    return found[0]


@paths.cache_builder
def unpack(deb, into):
    stamp = os.path.join(into, ".unpacked")
    if not os.path.exists(stamp):
        os.makedirs(into, exist_ok=True)
        _run(["dpkg-deb", "-x", deb, into])
        open(stamp, "w").close()
    return into


def kernel_package_name():
    """The versioned image package the meta package points at today."""
    out = subprocess.run(["apt-cache", "depends", KERNEL_META], check=True,
                         capture_output=True, text=True).stdout
    m = re.search(r"Depends: (linux-image-[^\s:]+)", out)
    if not m:
        raise RuntimeError("apt-cache shows no image package behind " + KERNEL_META)
    return m.group(1) + ":mipsel"


@paths.cache_builder
def stock_tree():
    """Unpacked kernel package: boot/vmlinuz-* and lib/modules/*."""
    tree = os.path.join(paths.cache(), "linux")
    if os.path.exists(os.path.join(tree, ".unpacked")):
        return tree
    deb = apt_download(kernel_package_name(), paths.debs())
    return unpack(deb, tree)


@paths.cache_builder
def module_build_tree():
    """The tree that "make -C TREE M=DIR" builds outside modules of the board's kernel in.
    For the stock kernel: Debian's headers packages of exactly its version (the one for
    the board, its common part and the build scripts for this machine), unpacked into
    one tree. For the release-1 kernel: what scripts/r1-kernel keeps next to it."""
    if paths.release1():
        return os.path.join(os.path.dirname(release1.kernel()), "build")
    release = stock_release(stock_tree())
    tree = os.path.join(paths.cache(), "linux-headers-" + release)
    stamp = os.path.join(tree, ".unpacked")
    if not os.path.exists(stamp):
        version = _deb_field(apt_download("linux-image-%s:mipsel" % release, paths.debs()), "Version")
        headers = apt_download("linux-headers-%s:mipsel=%s" % (release, version), paths.debs())
        debs = [headers]
        for dep in _deb_field(headers, "Depends").split(","):
            name = dep.split()[0]
            if name.startswith("linux-headers-"):
                debs.append(apt_download("%s=%s" % (name, version), paths.debs()))
            elif name.startswith("linux-kbuild-"):
                arch = subprocess.run(["dpkg", "--print-architecture"], check=True, capture_output=True,
                                      text=True).stdout.strip()
                debs.append(apt_download("%s:%s=%s" % (name, arch, version), paths.debs()))
        os.makedirs(tree, exist_ok=True)
        for deb in debs:
            _run(["dpkg-deb", "-x", deb, tree])
        # The board's part includes the common part by its installed path.
        for makefile in glob.glob(os.path.join(tree, "usr/src/linux-headers-*/Makefile")):
            with open(makefile) as f:
                text = f.read()
            with open(makefile, "w") as f:
                f.write(re.sub(r"^include /usr/src/", "include %s/usr/src/" % tree, text, flags=re.M))
        open(stamp, "w").close()
    return os.path.join(tree, "usr/src/linux-headers-" + release)


def _deb_field(deb, field):
    return subprocess.run(["dpkg-deb", "-f", deb, field], check=True, capture_output=True,
                          text=True).stdout.strip()


def stock_release(tree):
    return os.path.basename(glob.glob(os.path.join(tree, "lib/modules/*"))[0])


def _decompressor_entry(zboot):
    """Kernel entry that the zboot decompressor jumps to: lui t9 / ori t9 / jalr t9."""
    e_entry, = struct.unpack_from("<I", zboot, 0x18)
    for off in range(0, len(zboot) - 12, 4):
        w0, w1, w2 = struct.unpack_from("<III", zboot, off)
        # lui t9,hi ; ori t9,t9,lo ; jalr t9 (ra)
        if (w0 >> 16) == 0x3C19 and (w1 >> 16) == 0x3739 and w2 == 0x0320F809:
            return ((w0 & 0xFFFF) << 16) | (w1 & 0xFFFF)
    raise RuntimeError("no lui/ori/jalr t9 sequence in the decompressor (entry %#x)" % e_entry)


def _raw_kernel(zboot):
    shoff, = struct.unpack_from("<I", zboot, 0x20)
    shentsize, shnum, shstrndx = struct.unpack_from("<HHH", zboot, 0x2E)
    sections = [struct.unpack_from("<10I", zboot, shoff + i * shentsize) for i in range(shnum)]
    names = sections[shstrndx][4]
    for s in sections:
        name = zboot[names + s[0]:zboot.index(b"\0", names + s[0])]
        if name == b".data":
            start = zboot.find(XZ_MAGIC, s[4], s[4] + s[5])
            if start < 0:
                break
            return lzma.LZMADecompressor(format=lzma.FORMAT_XZ).decompress(zboot[start:s[4] + s[5]])
    raise RuntimeError("no XZ stream in the decompressor's .data")


def patch_release(raw, release):
    """Overwrite the release field of every uts_name copy ("Linux", "(none)", release)."""
    field = release.encode().ljust(UTS_FIELD, b"\0")
    if len(release) >= UTS_FIELD:
        raise ValueError("release text too long: " + release)
    raw = bytearray(raw)
    count = 0
    for m in re.finditer(rb"Linux\x00", bytes(raw)):
        at = m.start()
        if raw[at + UTS_FIELD:at + UTS_FIELD + 7] == b"(none)\x00":
            raw[at + 2 * UTS_FIELD:at + 3 * UTS_FIELD] = field
            count += 1
    if count == 0:
        raise RuntimeError("no uts_name record found in the kernel image")
    return bytes(raw), count


def wrap_elf(raw, entry, flags):
    """Minimal ELF32 LE MIPS executable: one PT_LOAD of the raw image at LOAD_ADDRESS."""
    ehsize, phsize = 52, 32
    data_off = 0x1000
    header = struct.pack("<4sBBBB8xHHIIIIIHHHHHH", b"\x7fELF", 1, 1, 1, 0,
                         2, 8, 1, entry, ehsize, 0, flags, ehsize, phsize, 1, 40, 0, 0)
    phdr = struct.pack("<8I", 1, data_off, LOAD_ADDRESS, LOAD_ADDRESS,
                       len(raw), len(raw), 7, 0x1000)
    return header + phdr + b"\0" * (data_off - ehsize - phsize) + raw


@paths.cache_builder
def kernel_for(release):
    """Path of the cached, patched kernel for a release such as 3.14.28-1.12-dm900."""
    if paths.release1():
        return _r1_kernel_for(release)
    out = os.path.join(paths.cache(), "kernel-%s.elf" % release)
    if os.path.exists(out):
        return out
    tree = stock_tree()
    zboot = open(glob.glob(os.path.join(tree, "boot/vmlinuz-*"))[0], "rb").read()
    flags, = struct.unpack_from("<I", zboot, 0x24)
    raw, _ = patch_release(_raw_kernel(zboot), release)
    return _store(out, wrap_elf(raw, _decompressor_entry(zboot), flags))


def _store(out, data):
    with open(out + ".tmp", "wb") as f:
        f.write(data)
    os.rename(out + ".tmp", out)
    return out


def _r1_kernel_for(release):
    vmlinux = release1.kernel()
    # The build's folder name carries its cache key.
    out = os.path.join(paths.cache(), "%s-%s.elf" % (os.path.basename(os.path.dirname(vmlinux)), release))
    if os.path.exists(out):
        return out
    with open(vmlinux, "rb") as f:
        return _store(out, patch_release(f.read(), release)[0])
