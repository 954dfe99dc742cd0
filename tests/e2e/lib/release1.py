"""The release-1 mode's own parts: the kernel, the flash userland and the
compiler for the guest helpers, each made once by its script under scripts/
and cached outside the work tree. The board runs on a release-1 CPU model."""
import functools
import os
import subprocess

from . import paths

CPU = "4Kc"  # qemu's MIPS32 release-1 core without an FPU, like the dm520's
TARGET = "mipsel-linux-musl"


@functools.lru_cache(maxsize=None)
def _script(name, *args):
    """The last line a build script prints: the path of what it made. Its progress
    (a first build takes minutes) goes to the harness's own output."""
    r = subprocess.run([os.path.join(paths.REPO, "scripts", name)] + list(args),
                       stdout=subprocess.PIPE, text=True)
    if r.returncode != 0 or not r.stdout.strip():
        raise RuntimeError("scripts/%s failed (its messages are above)" % name)
    return r.stdout.strip().splitlines()[-1]


def kernel():
    return _script("r1-kernel")


def userland(rel):
    """A program of the flash userland, e.g. bin/busybox or sbin/e2fsck."""
    return os.path.join(_script("r1-userland"), rel)


def tool(name):
    """One of the release-1 toolchain's programs, e.g. gcc or strip."""
    return os.path.join(_script("toolchain", "--prefix"), "bin", "%s-%s" % (TARGET, name))


def prepare():
    """Build (or find) every part up front, so a failure shows once, not per scenario."""
    kernel()
    userland("")
    if not os.path.exists(tool("gcc")):
        raise RuntimeError("the release-1 toolchain is not built: run scripts/toolchain")
