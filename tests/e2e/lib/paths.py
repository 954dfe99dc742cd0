"""Where the harness finds the project and keeps what it makes."""
import glob
import os
import shutil
import tarfile

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
                with tar.extractfile(entry) as src, open(out, "wb") as dst:
                    shutil.copyfileobj(src, dst)
                os.chmod(out, entry.mode)
    return out
