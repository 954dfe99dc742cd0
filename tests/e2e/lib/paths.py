"""Where the harness finds the project and keeps what it makes."""
import fcntl
import functools
import glob
import os
import shutil
import tarfile
import threading

HERE = os.path.dirname(os.path.abspath(__file__))
E2E = os.path.dirname(HERE)
REPO = os.path.dirname(os.path.dirname(E2E))
GUEST = os.path.join(E2E, "guest")


def build():
    return os.environ.get("OB_BUILD_DIR", os.path.join(REPO, "build"))


def release1():
    """The release-1 mode (tests/e2e/run --r1): the boxes' own instruction set throughout."""
    return os.environ.get("OB_E2E_R1") == "1"


def cache():
    d = os.environ.get("OB_E2E_CACHE", os.path.join(build(), "e2e-cache"))
    os.makedirs(d, exist_ok=True)
    return d


_cache_holds = threading.local()


def cache_builder(func):
    """Whatever func makes in the cache, it makes alone: two runs of the harness at
    once (scripts/test boots two boxes side by side) wait for each other here
    instead of unpacking or compiling into the same files. The lock is one for the
    whole cache and taken once per process however deep the builders call each other;
    a builder that finds its result made returns at once."""
    @functools.wraps(func)
    def locked(*args, **kwargs):
        depth = getattr(_cache_holds, "depth", 0)
        if depth:
            _cache_holds.depth = depth + 1
            try:
                return func(*args, **kwargs)
            finally:
                _cache_holds.depth = depth
        with open(os.path.join(cache(), ".lock"), "w") as lock:
            fcntl.flock(lock, fcntl.LOCK_EX)
            _cache_holds.depth = 1
            try:
                return func(*args, **kwargs)
            finally:
                _cache_holds.depth = 0
    return locked


def debs():
    return os.path.join(cache(), "debs")


def work():
    d = os.path.join(build(), "e2e-r1" if release1() else "e2e")
    os.makedirs(d, exist_ok=True)
    return d


def mipsel_build():
    return os.environ.get("OB_MIPSEL_BUILD", os.path.join(build(), "mipsel"))


def dist():
    return os.path.join(REPO, "dist")


def obinit():
    if release1():
        return os.environ.get("OB_R1_OBINIT") or os.path.join(dist(), "obinit")
    return os.path.join(mipsel_build(), "init", "obinit")


def orbiel():
    if release1():
        return os.environ.get("OB_R1_ORBIEL") or from_bundle("bin/orbiel")
    return os.path.join(mipsel_build(), "menu", "orbiel")


def obctl():
    """obctl as a box runs it from the medium's bin/."""
    if release1():
        return os.environ.get("OB_R1_OBCTL") or from_bundle("bin/obctl")
    return os.path.join(mipsel_build(), "obctl", "obctl")


def pc_obctl():
    """obctl as a PC runs it: the host build; in the release-1 mode the bundle's,
    on a release-1 CPU model."""
    if release1():
        return ["qemu-mipsel-static", "-cpu", "4Kc", obctl()]
    return [os.path.join(build(), "host", "obctl", "obctl")]


def from_bundle(member):
    """A file of the release bundle's medium tarball, unpacked into the work folder
    (a path that does not exist while there is no bundle)."""
    out = os.path.join(work(), "bundle", member)
    tarballs = sorted(glob.glob(os.path.join(dist(), "orbiel-*-medium.tar.gz")), key=os.path.getmtime)
    if not tarballs or os.path.exists(out) and os.path.getmtime(out) >= os.path.getmtime(tarballs[-1]):
        return out
    with tarfile.open(tarballs[-1]) as tar:
        for entry in tar.getmembers():
            if os.path.normpath(entry.name) == member and entry.isfile():
                os.makedirs(os.path.dirname(out), exist_ok=True)
                # Whole or not there: another run may be starting this program now.
                part = "%s.%d" % (out, os.getpid())
                with tar.extractfile(entry) as src, open(part, "wb") as dst:
                    shutil.copyfileobj(src, dst)
                os.chmod(part, entry.mode)
                os.replace(part, out)
    return out
