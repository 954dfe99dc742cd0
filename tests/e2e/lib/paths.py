"""Where the harness finds the project and keeps what it makes."""
import os

HERE = os.path.dirname(os.path.abspath(__file__))
E2E = os.path.dirname(HERE)
REPO = os.path.dirname(os.path.dirname(E2E))
GUEST = os.path.join(E2E, "guest")


def build():
    return os.environ.get("OB_BUILD_DIR", os.path.join(REPO, "build"))


def cache():
    d = os.environ.get("OB_E2E_CACHE", os.path.join(build(), "e2e-cache"))
    os.makedirs(d, exist_ok=True)
    return d


def debs():
    return os.path.join(cache(), "debs")


def work():
    d = os.path.join(build(), "e2e")
    os.makedirs(d, exist_ok=True)
    return d


def mipsel_build():
    return os.environ.get("OB_MIPSEL_BUILD", os.path.join(build(), "mipsel"))


def obinit():
    return os.path.join(mipsel_build(), "init", "obinit")


def orbiel():
    return os.path.join(mipsel_build(), "menu", "orbiel")
