"""The emulated box's scenarios. Each boots the box once (rarely twice) and
checks what a person at the box would see: the console, the files on the
medium afterwards, and the screen."""
import os

from . import debian, paths
from .box import DM520, DM900

SCENARIOS = []

BANNER = "\nOrbiel V12.45 "
DOTS = "\n...........\n"


def scenario(name, needs=()):
    def register(func):
        SCENARIOS.append((name, tuple(needs), func))
        return func
    return register


def boots_flash(box, args=""):
    box.console_has("FLASH-INIT pid=1 argv0=/sbin/init args=[%s]" % args)


def boots_image(box, name, args=""):
    box.console_in_order("Orbiel is booting Image %s ...\n" % name, "Continue booting...\n",
                         "IMAGE-INIT pid=1 argv0=/sbin/init args=[%s]\nIMAGE-ENV HOME=/ TERM=linux\n" % args,
                         "IMAGE-NAME %s\n" % name)
    box.console_has("IMAGE-ROOT obinfo", "IMAGE-MEDIUM visible", "IMAGE-SYS visible", "IMAGE-DEV console")
    box.console_lacks("FLASH-INIT")


# -- the board itself ---------------------------------------------------------

@scenario("board")
def board(box):
    """The emulated board boots the patched kernels and switches itself off."""
    for release in (DM900, DM520):
        box.boot(release=release, init="testinit", timeout=40)
        box.console_has("E2E-TESTINIT pid=1 release=%s argc=1 argv0=/sbin/init" % release)


# -- obinit's boot spine --------------------------------------------------------

@scenario("no-medium", needs=["obinit"])
def no_medium(box):
    """Without a medium: eleven dots, then the flash's init with obinit's arguments."""
    box.boot(args=["e2e-arg"], timeout=60)
    box.console_in_order(BANNER, DOTS, "FLASH-INIT pid=1 argv0=/sbin/init args=[e2e-arg]")
    box.console_has("FLASH-ENV HOME=/ TERM=linux\n", "FLASH-MEDIUM absent")
    box.console_lacks("Orbiel found on device")


@scenario("runlevel", needs=["obinit"])
def runlevel(box):
    """A runlevel argument hands over to the flash's init at once, nothing mounted."""
    tree = box.new_medium()
    box.boot(medium_tree=tree, args=["3"], timeout=40)
    box.console_in_order(BANNER, "FLASH-INIT pid=1 argv0=/sbin/init args=[3]")
    box.console_has("FLASH-MEDIUM absent")
    box.console_lacks("...", "Orbiel found on device")


@scenario("flash", needs=["obinit"])
def flash(box):
    """Medium present, Flash selected: the flash's init starts with the medium mounted."""
    tree = box.new_medium(with_menu=False)
    tree.file("obboot.ini", "Flash\n")
    tree.image("img1")
    box.boot(medium_tree=tree, timeout=60)
    box.console_in_order(BANNER, "\nOrbiel found on device /dev/sda1 ...\n\n",
                         "e2e: modprobe dreambox_rc2", "e2e: modprobe lcd", "e2e: modprobe bcm7439",
                         "Orbiel is booting Image Flash ...\n")
    boots_flash(box)
    box.console_has("FLASH-MEDIUM mounted")
    box.check(box.run.medium().exists("/.oblog"), "the menu's log was not created")


@scenario("image", needs=["obinit"])
def image(box):
    """The selected image's init runs as process 1 inside it, with medium, /dev and /sys."""
    tree = box.new_medium(with_menu=False)
    tree.file("obboot.ini", "img1\n")
    tree.image("img1", fstab="proc /proc proc defaults 0 0\n/dev/sda1 / auto defaults 1 1\n",
               kernel_file="/boot/zImage")
    tree.image("img2")
    box.boot(medium_tree=tree, args=["e2e-arg"], timeout=60)
    boots_image(box, "img1", "e2e-arg")
    box.console_lacks("moving rootdir")


@scenario("disabled", needs=["obinit"])
def disabled(box):
    """With the boot manager disabled no menu and no modules: the stored image boots."""
    tree = box.new_medium()
    tree.file(".obnobootmanager", "")
    tree.file("obboot.ini", "img2\n")
    tree.image("img1")
    tree.image("img2")
    box.boot(medium_tree=tree, timeout=60)
    box.console_in_order("Orbiel found on device /dev/sda1 ...\n\n", "Orbiel Bootmanager is disabled ...\n",
                         "Orbiel is booting Image img2 ...\n")
    boots_image(box, "img2")
    box.console_lacks("e2e: modprobe")
    box.check(not box.run.medium().exists("/.oblog"), "the menu ran although disabled")


@scenario("plain-init", needs=["obinit"])
def plain_init(box):
    """An image with a plain /sbin/init gets nodes, modules and kernel file systems first."""
    tree = box.new_medium()
    tree.file(".obnobootmanager", "")
    tree.file("obboot.ini", "plain\n")
    tree.image("plain", init="plain")
    box.boot(medium_tree=tree, timeout=60)
    box.console_in_order("Continue booting...\n", "e2e: modprobe dreambox_rc2", "e2e: modprobe lcd",
                         "e2e: modprobe bcm7439", "e2e: modprobe usbhid", "IMAGE-INIT pid=1", "IMAGE-NAME plain")
    box.console_has("IMAGE-MOUNT /dev devtmpfs", "IMAGE-MOUNT /proc proc", "IMAGE-MOUNT /sys sysfs",
                    "IMAGE-MOUNT /run tmpfs", "IMAGE-MOUNT /dev/pts devpts", "IMAGE-MEDIUM visible")


@scenario("missing-image", needs=["obinit"])
def missing_image(box):
    """A selection naming no image directory must not touch the flash root: Flash boots."""
    tree = box.new_medium(with_menu=False)
    tree.file("obboot.ini", "gone\n")
    box.boot(medium_tree=tree, timeout=60)
    box.console_has("Orbiel is booting Image gone ...\n")
    boots_flash(box)
