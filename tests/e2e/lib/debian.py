"""Debian mipsel packages laid out in a flash root as a box has them: the
e2fsprogs that obinit's file-system check runs through the shell (with the
C library they link), and the shared libraries of a dynamically linked menu
program."""
import glob
import os

from . import kernel, paths

LIBC = ["libc6"]
E2FSPROGS = ["e2fsprogs", "libext2fs2", "libcom-err2", "libblkid1", "libuuid1"] + LIBC
MENU_LIBS = ["libfreetype6", "libjpeg62-turbo", "libpng16-16", "zlib1g", "libbrotli1",
             "libstdc++6", "libgcc-s1"] + LIBC
# obctl adds libarchive and libmicrohttpd and what Debian builds them with,
# and libcrypt.
OBCTL_LIBS = MENU_LIBS + ["libmd0", "libarchive13", "libacl1", "libbz2-1.0", "liblz4-1", "liblzma5",
                          "libnettle8", "libxml2", "libicu72", "libzstd1",
                          "libmicrohttpd12", "libgnutls30", "libgmp10", "libhogweed6", "libidn2-0",
                          "libp11-kit0", "libffi8", "libtasn1-6", "libunistring2", "libcrypt1"]
PROGRAMS = {"e2fsck", "fsck.ext4", "tune2fs", "dash"}


@paths.cache_builder
def unpacked(package):
    return kernel.unpack(kernel.apt_download(package + ":mipsel", paths.debs()),
                         os.path.join(paths.cache(), "mipsel-debs", package))


def _wanted(rel):
    name = os.path.basename(rel)
    if "/gconv/" in rel or rel.startswith(("usr/share", "etc/")):
        return False
    if rel.startswith(("sbin/", "usr/sbin/", "bin/", "usr/bin/")):
        return name in PROGRAMS
    return ".so" in name and not name.startswith(("libmemusage", "libpcprofile", "libc_malloc"))


def files(package):
    """(path in the root, unpacked path) of the package's libraries and programs."""
    base = unpacked(package)
    for path in sorted(glob.glob(os.path.join(base, "**", "*"), recursive=True)):
        rel = os.path.relpath(path, base)
        if (os.path.islink(path) or not os.path.isdir(path)) and _wanted(rel):
            yield rel, path


def add_to(archive, packages):
    """Copy the packages' libraries and programs into the archive's root."""
    for package in packages:
        for rel, path in files(package):
            if not archive.has(rel):
                archive.host_copy(rel, path)
