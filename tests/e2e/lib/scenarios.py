"""The emulated box's scenarios. Each boots the box once (rarely twice) and
checks what a person at the box would see: the console, the files on the
medium afterwards, and the screen."""
import glob
import hashlib
import os
import shutil
import signal
import struct
import subprocess
import time

from . import devices, guest, medium, paths, release1, web
from .box import DM520, DM900, FONT

SCENARIOS = []

BANNER = "\nOrbiel V12.45 "
SYSCALL_FILTER_ON = "e2e: seccomp filter on: system calls above 4346 answer ENOSYS"
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
    box.console_has("IMAGE-ROOT obinfo", "IMAGE-MEDIUM visible", "IMAGE-SYS visible", "IMAGE-DEV console",
                    "IMAGE-ROOT-MOUNT yes", "IMAGE-PRIVATE-MOUNTS yes")
    box.console_lacks("FLASH-INIT")


# -- the board itself ---------------------------------------------------------

@scenario("board")
def board(box):
    """The emulated board boots the patched kernels and switches itself off; in the
    release-1 mode on the release-1 CPU model, or nothing here shows release 1 works,
    and with the 3.4 system-call table."""
    for release in (DM900, DM520):
        box.boot(release=release, init="testinit", timeout=40)
        box.console_has("E2E-TESTINIT pid=1 release=%s argc=1 argv0=/sbin/init" % release)
        if paths.release1():
            box.console_has("(MIPS %s)\n" % release1.CPU, SYSCALL_FILTER_ON)


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


KERNEL_FS_TABLE = ["IMAGE-MOUNT /dev/pts devpts", "IMAGE-MOUNT /dev/shm tmpfs", "IMAGE-MOUNT /proc proc",
                   "IMAGE-MOUNT /run tmpfs", "IMAGE-MOUNT /tmp tmpfs", "IMAGE-MOUNT /var/volatile tmpfs",
                   "IMAGE-MOUNT /sys/fs/cgroup tmpfs"]

TIMESYNCD = "/lib/systemd/system/systemd-timesyncd.service"


@scenario("image", needs=["obinit"])
def image(box):
    """The selected image's init runs as process 1 inside it, with medium, /dev, /sys and
    the kernel file systems; its mount table and units are edited once, on the medium."""
    tree = box.new_medium(with_menu=False)
    tree.file("obboot.ini", "img1\n")
    base = tree.image("img1", fstab="proc /proc proc defaults 0 0\n/dev/sda1 / auto defaults 1 1\n",
                      kernel_file="/boot/zImage")
    tree.file(base + TIMESYNCD, "[Service]\nPrivateTmp=yes\nProtectHome=yes\n")
    tree.image("img2")
    box.boot(medium_tree=tree, args=["e2e-arg"], timeout=60)
    boots_image(box, "img1", "e2e-arg")
    # On a kernel with cgroup namespaces the image's init sets up /sys/fs/cgroup itself.
    namespaces = "IMAGE-CGROUP-NAMESPACES yes" in box.run.console
    box.console_in_order("IMAGE-MOUNT /media/ob ext4 /dev/sda1", *KERNEL_FS_TABLE[:-1 if namespaces else None])
    if namespaces:
        box.console_lacks(KERNEL_FS_TABLE[-1])
    box.console_lacks("moving rootdir")
    box.file_is("/ob/img1/etc/fstab", "#proc /proc proc defaults 0 0\n/dev/sda1 / auto defaults 1 1\n")
    box.file_is("/ob/img1" + TIMESYNCD, "[Service]\n#PrivateTmp=yes\n#ProtectHome=yes\n")
    box.file_is("/ob/img2/etc/fstab", "proc /proc proc defaults 0 0\n")


@scenario("disabled", needs=["obinit"])
def disabled(box):
    """With the boot manager disabled no menu and no modules: the stored image boots,
    also when a one-shot choice names an image that was removed since."""
    tree = box.new_medium()
    tree.file(".obnobootmanager", "")
    tree.file("obboot.ini", "img2\n")
    tree.file(".oboneshot", "img3\n")
    tree.image("img1")
    tree.image("img2")
    box.boot(medium_tree=tree, timeout=60)
    box.console_in_order("Orbiel found on device /dev/sda1 ...\n\n",
                         "Orbiel: cannot enter image directory /media/ob/ob/img3: No such file or directory "
                         "(/media/ob/.oboneshot), not honoured\n",
                         "Orbiel Bootmanager is disabled ...\n", "Orbiel is booting Image img2 ...\n")
    box.check(not box.run.medium().exists("/.oboneshot"), "the one-shot choice was not removed")
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


@scenario("image-no-mount-points", needs=["obinit"])
def image_no_mount_points(box):
    """An image without the directories the medium and the kernel file systems go on
    gets them, where its own links put them (its media is an absolute link, as in
    images that keep their mounts below /var): the medium, /sys, /dev, /proc and
    /tmp are there inside it."""
    tree = box.new_medium(with_menu=False)
    tree.file("obboot.ini", "bare\n")
    base = tree.image("bare", mount_points=False)
    os.makedirs(tree.path(base + "/var/media"))
    tree.symlink(base + "/media", "/var/media")
    box.boot(medium_tree=tree, timeout=60)
    boots_image(box, "bare")
    box.console_has("IMAGE-MOUNT /var/media/ob ext4 /dev/sda1", "IMAGE-MOUNT /proc proc", "IMAGE-MOUNT /tmp tmpfs")
    box.console_lacks("left out")


@scenario("missing-image", needs=["obinit"])
def missing_image(box):
    """A selection naming no image directory must not touch the flash root: Flash boots."""
    tree = box.new_medium(with_menu=False)
    tree.file("obboot.ini", "gone\n")
    box.boot(medium_tree=tree, timeout=60)
    box.console_has("Orbiel is booting Image gone ...\n")
    boots_flash(box)


# -- a real systemd image ---------------------------------------------------------

# An ordinary service with a private /tmp and /usr, /boot and /etc read-only: systemd
# sets up a mount namespace for it below the image's "/".
PRIVATE_UNIT = """[Unit]
Description=A service with its own /tmp and a read-only system
[Service]
Type=oneshot
RemainAfterExit=yes
PrivateTmp=yes
ProtectSystem=full
ExecStart=/bin/sh -c 'touch /tmp/mine && ! touch /etc/written 2>/dev/null && echo E2E-PRIVATE started >/dev/console'
[Install]
WantedBy=multi-user.target
"""

# Once the start-up has ended: what the harness checks, then power off.
CHECK_UNIT = """[Unit]
Description=The emulated box's check of the running image
[Service]
ExecStart=/etc/e2e-check
[Install]
WantedBy=multi-user.target
"""

CHECK_SCRIPT = """#!/bin/sh
exec >/dev/console 2>&1
echo "E2E-STATE $(systemctl is-system-running --wait)"
systemctl list-units --failed --plain --no-legend | sed 's/^/E2E-FAILED /'
echo "E2E-CONTAINER $(systemd-detect-virt --container)"
echo "E2E-ROOT $(findmnt -n -o FSTYPE,SOURCE /)"
sed 's/^/E2E-MOUNTINFO /' /proc/self/mountinfo
ls -l /dev/mmcblk0 /dev/mmcblk0p1 2>&1 | sed 's/^/E2E-NODE /'
systemctl poweroff
"""

SYSTEMD_MARKS = (("banner", BANNER.strip()), ("medium found", "Orbiel found on device"),
                 ("named", "Orbiel is booting Image deb"),
                 ("handed over", "Continue booting..."), ("multi-user", "Multi-User System"))


def systemd_root():
    """Debian's mipsel root file system with systemd (scripts/systemd-image, cached
    outside the work tree); its progress goes to the harness's output."""
    r = subprocess.run([os.path.join(paths.REPO, "scripts", "systemd-image")], stdout=subprocess.PIPE, text=True)
    if r.returncode != 0 or not r.stdout.strip():
        raise RuntimeError("scripts/systemd-image failed (its messages are above)")
    return r.stdout.strip().splitlines()[-1]


@scenario("systemd-image", needs=["obinit", "release2"])
def systemd_image(box):
    """A Debian image with systemd, udev and dbus as image builders publish it: every unit
    starts, a service with private mounts among them, systemd sees no container, "/" is
    the image's own mount, and its power-off leaves the medium clean."""
    archive = systemd_root()
    tree = box.new_medium(with_menu=False)
    tree.file("obboot.ini", "deb\n")
    base = tree.path("ob/deb")
    os.makedirs(base)
    subprocess.run(["tar", "--numeric-owner", "--xattrs", "--xattrs-include=*", "-xpf", archive, "-C", base],
                   check=True)
    tree.file("ob/deb/.obinfo", "")
    units = "ob/deb/etc/systemd/system/"
    for name, content in (("e2e-private.service", PRIVATE_UNIT), ("e2e-check.service", CHECK_UNIT)):
        tree.file(units + name, content)
        tree.symlink(units + "multi-user.target.wants/" + name, "/etc/systemd/system/" + name)
    tree.file("ob/deb/etc/e2e-check", CHECK_SCRIPT, 0o755)
    times = {}

    def watch(board):
        for key, marker in SYSTEMD_MARKS:
            if board.wait_for(marker, 240):
                times[key] = time.monotonic()
        return False

    run = box.boot(medium_tree=tree, while_up=watch, timeout=300, medium_mib=512)
    box.console_has("E2E-PRIVATE started", "E2E-STATE running", "E2E-CONTAINER none", "E2E-ROOT ext4 ")
    box.console_lacks("E2E-FAILED", "container-other", "226/NAMESPACE")
    state, features = medium.superblock(run.media["boot"])
    box.check(state == "clean" and "needs_recovery" not in features,
              "the medium was left %s%s after the power-off" % (state, " with needs_recovery" * ("needs_recovery" in features)))
    if len(times) == len(SYSTEMD_MARKS):
        start = times["banner"]
        print("systemd-image: %s; powered off at %.1f s" % (
            ", ".join("%s %.1f s" % (key, times[key] - start) for key, _ in SYSTEMD_MARKS[1:]),
            run.seconds - (start - run.board.started)))


# -- hostile media ----------------------------------------------------------------

@scenario("hostile-fifo-selection", needs=["obinit"])
def hostile_fifo_selection(box):
    """A FIFO named obboot.ini holds nobody: it counts as missing and Flash boots."""
    tree = box.new_medium(with_menu=False)
    os.mkfifo(tree.path("obboot.ini"))
    tree.image("img1")
    box.boot(medium_tree=tree, timeout=60)
    box.console_has("Orbiel is booting Image Flash ...\n")
    boots_flash(box)


@scenario("hostile-no-init", needs=["obinit"])
def hostile_no_init(box):
    """A half-copied image without any init program: one line says so and Flash boots,
    its mount table untouched."""
    tree = box.new_medium(with_menu=False)
    tree.file("obboot.ini", "half\n")
    tree.image("half", init="none")
    box.boot(medium_tree=tree, timeout=60)
    box.console_in_order("Orbiel is booting Image half ...\n",
                         "Orbiel: image directory /media/ob/ob/half holds no init program\n",
                         "Orbiel is booting Flash instead ...\n")
    boots_flash(box)
    box.console_lacks("Continue booting...", "booting failed")
    box.file_is("/ob/half/etc/fstab", "proc /proc proc defaults 0 0\n")


def lost_execute_bit(tree, init):
    os.chmod(tree.path(init), 0o644)


def other_cpu(tree, init):
    tree.copy(init, "/bin/true", 0o755)  # the host's: an x86-64 program


def hostile_init_unstartable(name, spoil, why):
    """An image whose init cannot be started: one line says why and Flash boots, its
    mount table untouched."""

    @scenario(name, needs=["obinit"])
    def run(box):
        tree = box.new_medium(with_menu=False)
        tree.file("obboot.ini", "bad\n")
        spoil(tree, tree.image("bad", init="plain") + "/sbin/init")
        box.boot(medium_tree=tree, timeout=60)
        box.console_in_order("Orbiel is booting Image bad ...\n",
                             "Orbiel: image directory /media/ob/ob/bad cannot start its init: %s\n" % why,
                             "Orbiel is booting Flash instead ...\n")
        boots_flash(box)
        box.console_lacks("Continue booting...", "booting failed")
        box.file_is("/ob/bad/etc/fstab", "proc /proc proc defaults 0 0\n")


hostile_init_unstartable("hostile-init-no-exec", lost_execute_bit, "/sbin/init has no execute permission")
hostile_init_unstartable("hostile-init-other-cpu", other_cpu,
                         "/sbin/init is a program for x86-64, not for 32-bit little-endian MIPS")


@scenario("hostile-flash-link", needs=["obinit"])
def hostile_flash_link(box):
    """An image entry that links to a directory of the flash is refused: Flash boots."""
    tree = box.new_medium(with_menu=False)
    tree.file("obboot.ini", "flashetc\n")
    tree.symlink("ob/flashetc", "/etc")
    box.boot(medium_tree=tree, timeout=60)
    box.console_in_order("Orbiel is booting Image flashetc ...\n",
                         "Orbiel: image directory /media/ob/ob/flashetc lies outside /media/ob/ob\n",
                         "Orbiel is booting Flash instead ...\n")
    boots_flash(box)
    box.console_lacks("Continue booting...")


@scenario("hostile-start-pid1", needs=["obinit"])
def hostile_start_pid1(box):
    """"start" given to process 1 (on the kernel command line): the remount is done and
    the flash's init starts, without the command, instead of process 1 exiting."""
    tree = box.new_medium(with_menu=False)
    tree.image("img1")
    box.boot(medium_tree=tree, args=["start"], timeout=60)
    box.console_in_order("Orbiel remounts only ...\n", "FLASH-INIT pid=1 argv0=/sbin/init args=[]")
    box.console_has("FLASH-MEDIUM mounted")
    box.console_lacks("booting failed")


# -- power cuts -------------------------------------------------------------------

UNIT_DIR = "/lib/systemd/system/"
# The units obinit edits in a systemd image, with the settings it comments out.
CUT_UNITS = {
    "systemd-sysctl.service": ["ConditionPathIsReadWrite=/proc/sys/"],
    "systemd-udevd.service": ["ConditionPathIsReadWrite=/sys", "MountFlags=slave"],
    "systemd-udev-settle.service": ["ConditionPathIsReadWrite=/sys"],
    "systemd-udev-trigger.service": ["ConditionPathIsReadWrite=/sys"],
    "connman.service": ["ProtectHome=true", "ProtectSystem=full"],
    "systemd-timesyncd.service": ["PrivateTmp=yes", "PrivateDevices=yes", "ProtectSystem=full",
                                  "ProtectHome=yes"],
}
# The serial console ends its lines with CR LF: markers hold no line end.
FOUND_MARKER = "Orbiel found on device"
CUT_MARKER = "Orbiel is booting Image sd ..."
INIT_MARKER = "IMAGE-INIT pid=1"
CUTS = 16
CUTS_IN_INIT = 4


def cut_image_files():
    """{path on the medium: (old, fully edited)}: the mount table and the units, padded so
    that writing them takes the emulated disk a while."""
    pad = "".join("# filler line %04d of the unit, long enough to take its time\n" % i
                  for i in range(2500))
    files = {}
    table = "proc /proc proc defaults 0 0\n/dev/sda1 / auto defaults 1 1\n" + pad
    files["/ob/sd/etc/fstab"] = (table, "#" + table)
    for unit, settings in CUT_UNITS.items():
        old = "[Unit]\nDescription=%s\n[Service]\n" % unit + "".join(s + "\n" for s in settings) + pad
        new = old
        for setting in settings:
            new = new.replace(setting, "#" + setting)
        files["/ob/sd" + UNIT_DIR + unit] = (old, new)
    return files


def temporaries(readback):
    return [d + "/" + n for d in ("/ob/sd/etc", "/ob/sd" + UNIT_DIR.rstrip("/"))
            for n in readback.names(d) if n.endswith(".obnew")]


@scenario("power-cut", needs=["obinit"])
def power_cut(box):
    """The power is cut (qemu killed) at many moments while obinit prepares a systemd image:
    every edited file is then its old or its fully edited version, the volume is clean after
    the journal replay, edits are on the medium once the image's init ran, and the next boot
    completes with every file edited and no temporary left."""
    files = cut_image_files()
    tree = box.new_medium(with_menu=False)
    tree.file("obboot.ini", "sd\n")
    tree.image("sd", init="systemd", fstab=None, kernel_file="/boot/zImage")
    # The image's init holds for a second before it ends, so that the cuts as it
    # starts meet it running however fast this host boots it (a release-1 run ended
    # it before 5 of 16 cuts when it took a tenth of a second).
    tree.file("/ob/sd/etc/image-check", "#!/bin/sh\nsleep 1\n", 0o755)
    for path, (old, _) in files.items():
        tree.file(path, old)
    # Left by a cut during an edit at an earlier boot.
    tree.file("/ob/sd/etc/fstab.obnew", "half a table")
    tree.file("/ob/sd" + UNIT_DIR + "connman.service.obnew", "")
    tree.finish()
    pristine = medium.make_ext4(os.path.join(box.workdir, "pristine.img"), tree.root, label="obtest")
    disk = os.path.join(box.workdir, "cut.img")

    # Two uncut boots measure when the preparation runs on this host, counted from
    # the medium's discovery; the cuts are spread from a little before the
    # image's name to a little after its init started. The faster boot counts: a
    # first boot from cold caches comes late, and cuts timed by it would come
    # after the boots that follow had ended.
    times = {}

    def measure(board):
        if board.wait_for(FOUND_MARKER, 60):
            found = time.monotonic()
            for key, marker in (("name", CUT_MARKER), ("init", INIT_MARKER), ("done", "IMAGE-INIT done")):
                if board.wait_for(marker, 30):
                    times[key] = min(times.get(key, 1e9), time.monotonic() - found)
        return False

    for _ in range(2):
        shutil.copyfile(pristine, disk)
        box.boot(disk=disk, while_up=measure, timeout=60)
        box.console_has("IMAGE-INIT done")
    if not box.check(len(times) == 3, "the uncut boot did not get to the end of the image's init"):
        return
    # Most cuts are timed from the medium's discovery, up to the image's init; the
    # last ones come right after the console shows that init started, to show the
    # edits are on the medium by then. Boots vary by a few tenths of a second, so a
    # timed cut can come after the boot ended; it is counted as late.
    first = max(times["name"] - 0.4, 0.0)
    last = times["init"]
    editing = CUTS - CUTS_IN_INIT
    cuts = [(FOUND_MARKER, first + (last - first) * i / (editing - 1)) for i in range(editing)]
    cuts += [(INIT_MARKER, 0.02 * k) for k in range(CUTS_IN_INIT)]

    checked = bad = with_temporary = old_files = edited_files = init_ran_cuts = late = 0
    for i, (marker, delay) in enumerate(cuts):

        def cut(board, marker=marker, delay=delay):
            if not board.wait_for(marker, 60):
                return False
            board.wait_for("\0never\0", delay)
            board.proc.send_signal(signal.SIGKILL)
            return True

        shutil.copyfile(pristine, disk)
        run = box.boot(disk=disk, while_up=cut, timeout=60)
        if "IMAGE-INIT done" in run.console:
            # The image's init runs for a tenth of a second; on a slower run the cut
            # can come after it, which shows nothing new.
            late += 1
            continue
        init_ran = INIT_MARKER in run.console
        init_ran_cuts += init_ran
        what = "cut %d %.2f s after %r%s" % (i + 1, delay, marker, " (init ran)" if init_ran else "")
        if not box.check(run.cut, "%s: the box was not running" % what):
            continue
        rb = medium.Readback(disk, box.workdir, replay_only=True)
        box.check(rb.fsck_status == 0, "%s: volume not clean after the journal replay:\n%s"
                  % (what, rb.fsck_output))
        for path, (old, new) in files.items():
            checked += 1
            got = rb.read(path)
            wanted = (new.encode(),) if init_ran else (old.encode(), new.encode())
            old_files += got == old.encode()
            edited_files += got == new.encode()
            if got not in wanted:
                bad += 1
                state = "missing" if got is None else "%d bytes, neither old nor edited" % len(got)
                if got == old.encode():
                    state = "old although the image's init ran"
                box.fail("%s: %s is %s" % (what, path, state))
        with_temporary += bool(temporaries(rb))

        # The next boot of the medium as the cut left it.
        after = box.boot(disk=disk, timeout=60)
        box.check("IMAGE-INIT done" in after.console, "%s: the next boot did not complete" % what)
        rb = medium.Readback(disk, box.workdir, replay_only=True)
        box.check(rb.fsck_status == 0, "%s: volume not clean after the next boot" % what)
        for path, (_, new) in files.items():
            checked += 1
            if rb.read(path) != new.encode():
                bad += 1
                box.fail("%s: %s not fully edited after the next boot" % (what, path))
        left = temporaries(rb)
        box.check(not left, "%s: temporaries left after the next boot: %s" % (what, left))
    box.check(late <= CUTS // 4, "%d of %d cuts came after the image's init had ended" % (late, CUTS))
    print("power-cut: %d cuts from %.2f to %.2f s after the medium was found (image named at "
          "%.2f s, its init at %.2f s) and %d as the image's init started; %d after the image's "
          "init started, %d after it ended; %d files checked, %d bad files; right after the cuts "
          "%d files old, %d fully edited; %d cuts left a temporary (gone after the next boot)"
          % (editing, first, last, times["name"], times["init"], CUTS_IN_INIT, init_ran_cuts, late,
             checked, bad, old_files, edited_files, with_temporary))


# -- the menu -------------------------------------------------------------------

READY = "waiting for input from remote ..."

WHITE, YELLOW, GREEN, RED = (255, 255, 255), (255, 255, 15), (15, 255, 15), (255, 0, 0)


def label_box(k):
    """The band of entry k's label above its baseline (106 + 46k) that no other entry reaches."""
    y = 106 + 46 * k
    return (200, y - 30, 800, y)


def mark_box(k):
    """The cursor / boot-mark column left of entry k's index."""
    y = 106 + 46 * k
    return (88, y - 40, 128, y + 4)


def has_colour(box, shot_name, colour, area, what, minimum=40):
    shot = box.shot(shot_name)
    if shot is None:
        return box.fail("no screenshot %s" % shot_name)
    n = shot.count(colour, area)
    box.check(n >= minimum, "%s: %s has %d pixels of %s" % (shot_name, what, n, colour))


def lacks_colour(box, shot_name, colour, area, what):
    shot = box.shot(shot_name)
    if shot is not None:
        n = shot.count(colour, area)
        box.check(n == 0, "%s: %s has %d pixels of %s" % (shot_name, what, n, colour))


@scenario("menu-keys", needs=["obinit", "orbiel"])
def menu_keys(box):
    """The remote moves the highlight, OK writes the choice, the chosen image boots."""
    tree = box.new_medium()
    tree.file("obboot.ini", "img1\n")
    tree.file(".obtimeout", "30\n")
    tree.image("img1")
    tree.image("img2")
    tree.image("1", obinfo="OpenXYZ 6.1\n")

    def interact(s):
        if not s.log_wait(READY, 120):
            return
        s.key("down")
        if s.log_wait("DOWN - selected 3 img2", 60):
            s.settle()
            s.screenshot("moved")
        s.key("ret")
        if s.log_wait("OK   - booting 3 img2", 60):
            s.settle(0.4)  # the menu ends a second after this line
            s.screenshot("chosen")

    box.boot(medium_tree=tree, interact=interact, timeout=180)
    box.console_has("Orbiel is booting Image img2 ...\n", "IMAGE-NAME img2\n")
    box.file_is("/obboot.ini", "img2\n")
    has_colour(box, "moved", YELLOW, label_box(3), "the highlighted img2")
    lacks_colour(box, "moved", YELLOW, label_box(2), "the left img1")
    has_colour(box, "moved", WHITE, mark_box(3), "the cursor at img2", 20)
    has_colour(box, "chosen", GREEN, label_box(3), "the booted img2")
    has_colour(box, "chosen", GREEN, mark_box(3), "the boot mark at img2", 20)


FLASH_CHECK_DM900 = """#!/bin/sh
stat -c 'CHECK %n %s' /var/volatile/.mmcblk0
stat -c 'CHECK %n %F %t:%T' /dev/mmcblk0 /dev/mmcblk0p1
echo "CHECK loop8 $(cat /sys/block/loop8/loop/backing_file)"
"""

FLASH_CHECK_DM520 = """#!/bin/sh
stat -c 'CHECK %n %s' /var/volatile/.mtd2
stat -c 'CHECK %n %F %t:%T' /dev/mtd2 /dev/mtd2ro /dev/mtdblock2 /dev/loop7
echo "CHECK loop7 $(cat /sys/block/loop7/loop/backing_file)"
sed 's/^/CHECK proc-mtd /' /proc/mtd
"""


@scenario("dm900", needs=["obinit"])
def dm900(box):
    """dm900: the image gets a 16 MiB RAM-backed /dev/mmcblk0 and p1 on loop 8."""
    tree = box.new_medium(with_menu=False)
    tree.file(".obnobootmanager", "")
    tree.file("obboot.ini", "img1\n")
    base = tree.image("img1", kernel_file="/boot/zImage")
    tree.file(base + "/etc/image-check", FLASH_CHECK_DM900, 0o755)
    box.boot(medium_tree=tree, timeout=60)
    boots_image(box, "img1")
    box.console_has("CHECK /var/volatile/.mmcblk0 16777216\n",
                    "CHECK /dev/mmcblk0 block special file 7:8\n",
                    "CHECK /dev/mmcblk0p1 block special file 7:8\n",
                    "CHECK loop8 /var/volatile/.mmcblk0\n")


@scenario("dm520", needs=["obinit"])
def dm520(box):
    """dm520: MTD partition 2 becomes a 5 MiB block2mtd device over loop 7."""
    tree = box.new_medium(with_menu=False)
    tree.file(".obnobootmanager", "")
    tree.file("obboot.ini", "img1\n")
    base = tree.image("img1", kernel_file="/boot/vmlinux.gz")
    tree.file(base + "/etc/image-check", FLASH_CHECK_DM520, 0o755)
    box.boot(release=DM520, medium_tree=tree, timeout=60)
    boots_image(box, "img1")
    box.console_has("CHECK /var/volatile/.mtd2 5242880\n", "CHECK loop7 /var/volatile/.mtd2\n",
                    "CHECK /dev/mtd2 character special file 5a:a\n",
                    "CHECK /dev/mtd2ro character special file 5a:b\n",
                    "CHECK /dev/mtdblock2 block special file 1f:5\n",
                    "CHECK proc-mtd mtd5: 00500000 00020000 ")


@scenario("mdev", needs=["obinit"])
def mdev(box):
    """An mdev image gets the start link; its scripts run "obinit start", which remounts."""
    tree = box.new_medium(with_menu=False)
    tree.file(".obnobootmanager", "")
    tree.file("obboot.ini", "mdevimg\n")
    base = tree.image("mdevimg", mdev=True)
    tree.copy(base + "/sbin/obinit", paths.obinit(), 0o755)
    box.boot(medium_tree=tree, timeout=90)
    boots_image(box, "mdevimg")
    box.console_in_order("IMAGE-MOUNT /media tmpfs tmpfs", "IMAGE-MOUNT /media/ob ext4 /dev/sda1",
                         "IMAGE-RCS /etc/rcS.d/S99obinit", BANNER, "Orbiel found on device /dev/sda1 ...\n\n",
                         "Orbiel remounts only ...\n", "IMAGE-INIT done")
    box.check(box.run.medium().exists("/ob/mdevimg/etc/rcS.d/S99obinit"), "the start link is not on the medium")


@scenario("memory-card", needs=["obinit"])
def memory_card(box):
    """A medium on a memory card (major 179) is found as mmcblk0p1."""
    tree = box.new_medium(with_menu=False)
    tree.file("obboot.ini", "Flash\n")
    box.boot(release=DM520, medium_tree=tree, on_card=True, timeout=60)
    box.console_in_order(BANNER, "\nOrbiel found on device /dev/mmcblk0p1 ...\n\n",
                         "e2e: modprobe dreambox_rc2", "e2e: modprobe bcm73625",
                         "Orbiel is booting Image Flash ...\n")
    boots_flash(box)
    box.console_has("FLASH-MEDIUM mounted")


def add_e2fsprogs(archive):
    guest.add_userland(archive, "e2fsprogs")


@scenario("fsck", needs=["obinit"])
def fsck(box):
    """"obinit 90" from the running flash: check the medium, mount it again, zero its UUID."""
    tree = box.new_medium(with_menu=False)
    tree.file("obboot.ini", "Flash\n")
    tree.copy("bin/tune2fs", guest.tune2fs(), 0o755)
    # tune2fs changes the UUID of a mounted file system only without metadata
    # checksums, as the boxes' own tools format their media.
    box.boot(medium_tree=tree, extra=add_e2fsprogs, features="^metadata_csum",
             config={"E2E_FLASH_RUN": "/sbin/obinit 90; echo obinit-90 exit $?"}, timeout=120)
    boots_flash(box)
    box.console_in_order("FLASH-MEDIUM mounted", BANNER, "Orbiel found on device /dev/sda1 ...\n\n",
                         "Orbiel does Filesystemcheck now on /dev/sda1 device\n",
                         "\nOrbiel Filesystemcheck done\n\n", "\nOrbiel UUID reset done\n\n",
                         "obinit-90 exit 0", "FLASH-INIT done")
    box.console_lacks("still mounted")
    uuid = box.run.medium().uuid_before_check
    box.check(uuid == "00000000-0000-0000-0000-000000000000", "the medium's UUID is %s" % uuid)


@scenario("menu-timeout", needs=["obinit", "orbiel"])
def menu_timeout(box):
    """Nobody presses a key: the bar runs down, the stored image boots, the file stays."""
    tree = box.new_medium()
    tree.file("obboot.ini", "img1\n")
    tree.file(".obtimeout", "4\n")
    tree.file(".obprogress", "")
    tree.image("img1")
    tree.image("img2")

    def interact(s):
        if s.log_wait(READY, 120):
            s.settle()
            s.screenshot("counting")
            s.log_wait("EXIT - continue booting 1 img1", 60)
            s.screenshot("timed-out")

    box.boot(medium_tree=tree, interact=interact, timeout=180)
    log = (box.run.medium().read("/.oblog") or b"").decode("utf-8", "replace")
    box.check("Menu timeout 4 sec\nProgress timeout is shown" in log, "the log lacks the time-out settings")
    box.check("OK   - booting 1 img1\nEXIT - continue booting 1 img1\n" in log,
              "the log lacks the time-out's keep action")
    box.console_has("Orbiel is booting Image img1 ...\n", "IMAGE-NAME img1\n")
    box.file_is("/obboot.ini", "img1\n")
    has_colour(box, "timed-out", GREEN, label_box(1), "the kept img1")
    lacks_colour(box, "timed-out", WHITE, (40, 69, 61, 670), "the erased bar")


PIN_1234 = "81dc9bdb52d04dc20036dbd8313ed055\n"  # MD5 of the four bytes "1234"


def type_pin(s, digits):
    for d in digits:
        s.key(d)
        s.pause(0.3)
    s.key("ret")


@scenario("pin", needs=["obinit", "orbiel"])
def pin(box):
    """The right PIN opens the list; the chosen image boots."""
    tree = box.new_medium()
    tree.file("obboot.ini", "img1\n")
    tree.file(".obtimeout", "30\n")
    tree.file(".oblocked", PIN_1234)
    tree.image("img1")
    tree.image("img2")

    def interact(s):
        if not s.log_wait(READY, 120):
            return
        s.settle()
        s.screenshot("asked")
        type_pin(s, "1234")
        s.key("down")
        if s.log_wait("DOWN - selected 2 img2", 60):
            s.settle()
            s.screenshot("list")
        s.key("ret")
        s.log_wait("OK   - booting 2 img2", 60)

    box.boot(medium_tree=tree, interact=interact, timeout=180)
    box.console_has("Orbiel is booting Image img2 ...\n", "IMAGE-NAME img2\n")
    box.file_is("/obboot.ini", "img2\n")
    has_colour(box, "asked", WHITE, (80, 620, 180, 670), "the PIN label")
    has_colour(box, "list", YELLOW, label_box(2), "the highlighted img2")


@scenario("pin-wrong", needs=["obinit", "orbiel"])
def pin_wrong(box):
    """Three wrong PINs write Flash and the flash image boots."""
    tree = box.new_medium()
    tree.file("obboot.ini", "img1\n")
    tree.file(".obtimeout", "30\n")
    tree.file(".oblocked", PIN_1234)
    tree.image("img1")

    def interact(s):
        if not s.log_wait(READY, 120):
            return
        for attempt in range(3):
            type_pin(s, "4321")
            if attempt < 2:
                s.pause(1.5)
        if s.log_wait("PIN 3 times wrong - continue booting Flash", 60):
            s.settle(0.4)  # the field turns red, a second later the menu ends
            s.screenshot("rejected")

    box.boot(medium_tree=tree, interact=interact, timeout=180)
    log = (box.run.medium().read("/.oblog") or b"").decode("utf-8", "replace")
    box.check(log.count("PIN wrong - continue trying\n") == 2, "the log lacks two 'PIN wrong' lines")
    box.check("PIN 3 times wrong - continue booting Flash\n" in log, "the log lacks the third rejection")
    box.console_has("Orbiel is booting Image Flash ...\n")
    boots_flash(box)
    box.file_is("/obboot.ini", "Flash\n")
    has_colour(box, "rejected", RED, (80, 620, 180, 670), "the red PIN label")


@scenario("menu-many", needs=["obinit", "orbiel"])
def menu_many(box):
    """Twelve images: digits and colour keys select by position, EXIT keeps the stored image;
    the accent colour comes from the medium."""
    tree = box.new_medium()
    tree.file(".obcolor", "100\n")
    for name in ["img%02d" % i for i in range(1, 13)]:
        tree.image(name)
    tree.file("obboot.ini", "img05\n")
    tree.file(".obtimeout", "30\n")

    def interact(s):
        if not s.log_wait(READY, 120):
            return
        s.key("f1")  # RED
        s.log_wait("RED = 10 - selected 10 img10", 60)
        s.key("f3")  # YELLOW
        s.log_wait("YELLOW = 12 - selected 12 img12", 60)
        s.key("7")
        if s.log_wait("7 - selected 7 img07", 60):
            s.settle()
            s.screenshot("seven")
        s.key("esc")  # EXIT
        s.log_wait("EXIT - continue booting 5 img05", 60)

    box.boot(medium_tree=tree, interact=interact, timeout=180)
    log = (box.run.medium().read("/.oblog") or b"").decode("utf-8", "replace")
    box.check("12: img12\n" in log, "the list lacks its twelfth entry")
    box.console_has("Orbiel is booting Image img05 ...\n", "IMAGE-NAME img05\n")
    box.file_is("/obboot.ini", "img05\n")
    has_colour(box, "seven", YELLOW, label_box(7), "the highlighted img07")
    has_colour(box, "seven", (100, 100, 100), (0, 680, 180, 720), "the left band", 180 * 40)
    for k, colour in ((10, RED), (11, GREEN), (12, YELLOW)):
        has_colour(box, "seven", colour, (130, 86 + 46 * k, 150, 106 + 46 * k), "the colour mark of entry %d" % k,
                   300)


@scenario("menu-flash", needs=["obinit", "orbiel"])
def menu_flash(box):
    """Key 0 and OK choose Flash: the file says so and the flash boots with the swap file on."""
    tree = box.new_medium()
    tree.file("obboot.ini", "img1\n")
    tree.file(".obtimeout", "30\n")
    tree.image("img1")
    # Not zeros: mke2fs -d leaves holes for them, and swap refuses files with holes.
    swap = tree.file("swapfile", b"\xa5" * (4 << 20), 0o600)
    subprocess.run(["mkswap", swap], check=True, capture_output=True)

    def interact(s):
        if not s.log_wait(READY, 120):
            return
        s.key("0")
        s.log_wait("0 - selected 0 Flash", 60)
        s.key("ret")
        s.log_wait("OK   - booting 0 Flash", 60)

    box.boot(medium_tree=tree, interact=interact, timeout=180,
             config={"E2E_FLASH_RUN": "grep swapfile /proc/swaps | sed 's/ .*//; s/^/FLASH-SWAP /'"})
    box.console_has("Orbiel is booting Image Flash ...\n", "FLASH-MEDIUM mounted", "FLASH-SWAP /media/ob/swapfile\n")
    boots_flash(box)
    box.file_is("/obboot.ini", "Flash\n")


# -- hostile media in the menu ------------------------------------------------------

def menu_log(box):
    return (box.run.medium().read("/.oblog") or b"").decode("utf-8", "replace")


@scenario("hostile-menu-blank-name", needs=["obinit", "orbiel"])
def hostile_menu_blank_name(box):
    """An image whose name holds a blank could be chosen but never booted: the menu leaves
    it out with the reason in its log; the stored image boots."""
    tree = box.new_medium()
    tree.file("obboot.ini", "img1\n")
    tree.file(".obtimeout", "2\n")
    tree.image("img1")
    tree.image("my img")
    box.boot(medium_tree=tree, timeout=120)
    log = menu_log(box)
    box.check("/media/ob/ob/my img: image name holds a blank, tab or line end, not listed\n" in log,
              "the log does not say why 'my img' is left out")
    box.check("0: Flash\n1: img1\n-" in log and "from: 1 images boot: 1 named: img1\n" in log,
              "the list is not Flash and img1 alone")
    boots_image(box, "img1")
    box.file_is("/obboot.ini", "img1\n")


@scenario("hostile-menu-ok-flash", needs=["obinit", "orbiel"])
def hostile_menu_ok_flash(box):
    """A stored name that matches no entry (a carriage return after it) preselects Flash;
    OK on it writes Flash, through a temporary that is gone afterwards, and Flash boots."""
    tree = box.new_medium()
    tree.file("obboot.ini", "img1\r\n")
    tree.file(".obtimeout", "30\n")
    tree.image("img1")

    def interact(s):
        if not s.log_wait(READY, 120):
            return
        s.key("ret")
        s.log_wait("OK   - booting 0 Flash", 60)

    box.boot(medium_tree=tree, interact=interact, timeout=180)
    box.check("from: 1 images boot: 0 named: img1\r\n" in menu_log(box), "Flash was not preselected")
    box.console_has("Orbiel is booting Image Flash ...\n")
    boots_flash(box)
    box.file_is("/obboot.ini", "Flash\n")
    box.check(not box.run.medium().exists("/obboot.ini.obnew"), "the temporary was left on the medium")


@scenario("hostile-menu-full-medium", needs=["obinit", "orbiel"])
def hostile_menu_full_medium(box):
    """A medium without a free block: DOWN and OK on img2 over a stored img1 still record
    img2, which boots, and no temporary is left."""
    tree = box.new_medium()
    tree.file("obboot.ini", "img1\n")
    tree.file(".obtimeout", "30\n")
    # No mount table to edit: the selection is the only write.
    tree.image("img1", fstab=None)
    tree.image("img2", fstab=None)
    # The menu's log could not grow on the full medium, and the harness follows the
    # menu by it: it goes to the flash's RAM.
    tree.symlink(".oblog", "/tmp/oblog")

    def interact(s):
        if s.log_wait(READY, 120):
            s.key("down")
            if s.log_wait("DOWN - selected 2 img2", 60):
                s.key("ret")
                s.log_wait("OK   - booting 2 img2", 60)

    box.boot(medium_tree=tree, interact=interact, timeout=180, full=True)
    boots_image(box, "img2")
    box.file_is("/obboot.ini", "img2\n")
    box.check(not box.run.medium().exists("/obboot.ini.obnew"), "the temporary was left on the medium")


MENU_CUTS = 8


@scenario("power-cut-menu", needs=["obinit", "orbiel"])
def power_cut_menu(box):
    """The power is cut at many moments after OK chose another image: obboot.ini then names
    the old image or the chosen one, and always the chosen one once obinit went on; the volume
    is clean after the journal replay; the next boot (EXIT) boots what the file names and
    leaves no temporary."""
    tree = box.new_medium()
    tree.file("obboot.ini", "img1\n")
    tree.file(".obtimeout", "30\n")
    tree.image("img1")
    tree.image("img2")
    # The menu's log goes to the flash's RAM: a log that a cut boot left on the medium
    # would show the next boot's harness a menu that has not started yet (its EXIT
    # would then come before the menu and be lost).
    tree.symlink(".oblog", "/tmp/oblog")
    tree.finish()
    pristine = medium.make_ext4(os.path.join(box.workdir, "pristine.img"), tree.root, label="obtest")
    disk = os.path.join(box.workdir, "cut.img")
    menu = tree.path("bin/orbiel")
    chosen = "Orbiel is booting Image img2 ..."
    pressed = {}

    def choose(s):
        if s.log_wait(READY, 120):
            s.key("down")
            if s.log_wait("DOWN - selected 2 img2", 60):
                s.key("ret")
                pressed["at"] = time.monotonic()

    # An uncut run measures how long after OK obinit goes on with the chosen image.
    def measure(board):
        if "at" in pressed and board.wait_for(chosen, 60):
            pressed["boot"] = time.monotonic() - pressed["at"]
        return False

    shutil.copyfile(pristine, disk)
    box.boot(disk=disk, menu=menu, interact=choose, while_up=measure, timeout=180)
    if not box.check("boot" in pressed, "the uncut run did not boot the chosen image"):
        return
    last = pressed["boot"] + 0.2

    old = new = 0
    for i in range(MENU_CUTS):
        # Denser right after OK, where the menu writes the file.
        delay = last * (i / (MENU_CUTS - 1)) ** 2
        pressed.clear()

        def cut(board, delay=delay):
            if "at" not in pressed:
                return False
            board.wait_for("\0never\0", max(pressed["at"] + delay - time.monotonic(), 0))
            board.proc.send_signal(signal.SIGKILL)
            return True

        shutil.copyfile(pristine, disk)
        run = box.boot(disk=disk, menu=menu, interact=choose, while_up=cut, timeout=180)
        went_on = chosen in run.console
        what = "cut %d at %.2f s after OK%s" % (i + 1, delay, " (obinit went on)" if went_on else "")
        if not box.check(run.cut, "%s: OK was not pressed" % what):
            continue
        rb = medium.Readback(disk, box.workdir, replay_only=True)
        box.check(rb.fsck_status == 0, "%s: volume not clean after the journal replay:\n%s"
                  % (what, rb.fsck_output))
        got = rb.read("/obboot.ini")
        old += got == b"img1\n"
        new += got == b"img2\n"
        wanted = (b"img2\n",) if went_on else (b"img1\n", b"img2\n")
        if not box.check(got in wanted, "%s: obboot.ini is %r" % (what, got)):
            continue

        def leave(s):
            if s.log_wait(READY, 120):
                s.key("esc")

        after = box.boot(disk=disk, menu=menu, interact=leave, timeout=180)
        name = got.decode().strip()
        box.check("IMAGE-NAME %s\n" % name in after.console, "%s: the next boot did not boot %s" % (what, name))
        rb = medium.Readback(disk, box.workdir, replay_only=True)
        box.check(rb.fsck_status == 0, "%s: volume not clean after the next boot" % what)
        box.check(rb.read("/obboot.ini") == got, "%s: EXIT changed obboot.ini" % what)
        box.check(not rb.exists("/obboot.ini.obnew"), "%s: the temporary was left after the next boot" % what)
    print("power-cut-menu: %d cuts from 0.00 to %.2f s after OK (obinit went on at %.2f s); "
          "obboot.ini old after %d, new after %d, anything else after %d"
          % (MENU_CUTS, last, last - 0.2, old, new, MENU_CUTS - old - new))


@scenario("hostile-menu-corrupt-logo", needs=["obinit", "orbiel"])
def hostile_menu_corrupt_logo(box):
    """A start logo that does not decode: the decoder's message is logged, the menu is
    drawn all the same, and the stored image boots after the time-out."""
    tree = box.new_medium()
    tree.file("logos/orbiel.jpg", b"\xff\xd8\xff\xe0\x00\x10JFIF\x00" + b"\x5a" * 4096)
    tree.file("obboot.ini", "img1\n")
    tree.file(".obtimeout", "5\n")
    tree.image("img1")

    def interact(s):
        if s.log_wait(READY, 120):
            s.settle()
            s.screenshot("menu")

    box.boot(medium_tree=tree, interact=interact, timeout=180)
    log = menu_log(box)
    box.check("EXIT - continue booting 1 img1\n" in log, "the menu did not time out into img1")
    has_colour(box, "menu", YELLOW, label_box(1), "the preselected img1")
    boots_image(box, "img1")
    box.file_is("/obboot.ini", "img1\n")


# -- obctl, the user's tool -------------------------------------------------------

OBCTL = "/media/ob/bin/obctl"


def image_tree(box, name, filler_mib=0):
    """The root tree of an image as its publisher packs it (no .obinfo, which obctl
    adds), with filler_mib MiB that do not compress."""
    from .box import MediumTree
    tree = MediumTree(os.path.join(box.workdir, "image-" + name))
    base = tree.image(name, obinfo=None)
    if filler_mib:
        tree.file(base + "/var/filler", os.urandom(filler_mib << 20))
    return tree.path(base)


def image_archive(box, name, path, filler_mib=0):
    """An image's tree packed by tar, owners by number, compressed by the name's suffix."""
    import tarfile
    root = image_tree(box, name, filler_mib)

    def by_number(info):
        info.uid = info.gid = 0
        info.uname = info.gname = ""
        return info

    mode = {".gz": "w:gz", ".bz2": "w:bz2", ".xz": "w:xz"}.get(os.path.splitext(path)[1], "w")
    with tarfile.open(path, mode) as tar:
        tar.add(root, arcname=".", filter=by_number)
    return path


def data_disk(box, files):
    """A second disk whose ext4 holds the files (name: host path)."""
    folder = os.path.join(box.workdir, "data")
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(folder)
    for name, path in files.items():
        shutil.move(path, os.path.join(folder, name))
    return medium.make_ext4(os.path.join(box.workdir, "data.img"), folder, label="data", size_mib=96)


def obctl_run(*commands):
    """A flash shell's commands, stopped at the first that fails; OBCTL-DONE and its status."""
    steps = " && ".join(["mount -t ext4 -o ro /dev/vdb1 /mnt"] + [OBCTL + " " + c for c in commands])
    return "%s; echo OBCTL-DONE $?" % steps


@scenario("obctl-on-the-box", needs=["obinit", "orbiel", "obctl"])
def obctl_on_the_box(box):
    """From a shell of the running Flash image, obctl adds an image from an archive on a
    second disk, stores it as the choice, turns the menu on behind a PIN and the time-out
    down, and chooses img1 for one start: that start boots img1 without the menu; the next
    shows the menu, asks for that PIN, lists the new image and boots it."""
    tree = box.new_medium(with_obctl=True)
    tree.file("obboot.ini", "Flash\n")
    tree.file(".obnobootmanager", "")
    tree.image("img1")
    archive = image_archive(box, "img9", os.path.join(box.workdir, "img9.tar.gz"))
    run = obctl_run("add img9 /mnt/img9.tar.gz --label Nine", "set-default img9", "set menu on",
                    "set timeout 20", "pin set --pin 2468", "set-oneshot img1", "list")
    box.boot(medium_tree=tree, config={"E2E_FLASH_RUN": run}, obctl=True, timeout=300,
             data_disk=data_disk(box, {"img9.tar.gz": archive}))
    boots_flash(box)
    box.console_has("added ob/img9 from a tar archive (gzip)", "OBCTL-DONE 0")
    disk = box.run.media["boot"]
    menu = tree.path("bin/orbiel")

    box.boot(disk=disk, menu=menu, timeout=90)
    boots_image(box, "img1")
    box.check(not box.run.medium().exists("/.oboneshot"), "the one-shot choice outlived its start")
    box.file_is("/obboot.ini", "img9\n")
    box.file_is("/ob/img9/.obinfo", "Nine\n")
    box.file_is("/.oblocked", hashlib.md5(b"2468").hexdigest() + "\n")

    def interact(s):
        if not s.log_wait(READY, 120):
            return
        s.settle()
        s.screenshot("asked")
        type_pin(s, "2468")
        s.key("up")
        s.key("down")
        if s.log_wait("DOWN - selected 2 img9", 60):
            s.settle()
            s.screenshot("list")
        s.key("ret")
        s.log_wait("OK   - booting 2 img9", 60)

    box.boot(disk=disk, menu=menu, interact=interact, timeout=180)
    boots_image(box, "img9")
    has_colour(box, "asked", WHITE, (80, 620, 180, 670), "the PIN label")
    has_colour(box, "list", YELLOW, label_box(2), "the highlighted img9")


@scenario("obctl-prepare", needs=["obinit", "obctl"])
def obctl_prepare(box):
    """On a PC, no box at all: obctl prepare lays out a freshly made ext4 medium from the
    release's medium tree, obctl add installs an image from a box-image zip (its
    rootfs.tar.bz2 read out of the zip) and stores it; that medium then boots the image."""
    import zipfile
    if not box.check(os.geteuid() == 0, "a loop mount of the fresh medium needs root"):
        return
    empty = os.path.join(box.workdir, "empty")
    shutil.rmtree(empty, ignore_errors=True)
    os.makedirs(empty)
    disk = medium.make_ext4(os.path.join(box.workdir, "fresh.img"), empty, label="obfresh")
    rootfs = image_archive(box, "img7", os.path.join(box.workdir, "rootfs.tar.bz2"))
    published = os.path.join(box.workdir, "img7.zip")
    with zipfile.ZipFile(published, "w") as z:
        z.write(rootfs, "box/rootfs.tar.bz2")
        z.writestr("box/kernel.bin", "kernel placeholder\n")
    if paths.release1():
        bundle = max(glob.glob(os.path.join(paths.dist(), "orbiel-*-medium.tar.gz")), key=os.path.getmtime)
    else:
        bundle = box.new_medium(with_obctl=True).root
    mnt = os.path.join(box.workdir, "mnt")
    os.makedirs(mnt, exist_ok=True)
    subprocess.run(["mount", "-o", "loop,offset=%d" % medium.PART_OFFSET, disk, mnt], check=True)
    said = ""
    try:
        for args in (["prepare", mnt, "--from", bundle], ["--medium", mnt, "add", "img7", published],
                     ["--medium", mnt, "set-default", "img7"], ["--medium", mnt, "set", "menu", "off"]):
            r = subprocess.run(paths.pc_obctl() + args, capture_output=True, text=True)
            said += r.stdout + r.stderr
            if not box.check(r.returncode == 0, "obctl %s: %s" % (" ".join(args), r.stderr.strip())):
                break
    finally:
        subprocess.run(["umount", mnt], check=True)
    box.check("added ob/img7 from box/rootfs.tar.bz2 (tar, bzip2) in a zip archive" in said, said)
    box.boot(disk=disk, timeout=90)
    boots_image(box, "img7")


@scenario("obctl-power-cut", needs=["obinit", "obctl"])
def obctl_power_cut(box):
    """The power is cut while obctl add unpacks an image on the box: after the journal
    replay the volume is clean and the menu's list holds no half image."""
    tree = box.new_medium(with_menu=False, with_obctl=True)
    tree.file("obboot.ini", "Flash\n")
    tree.image("img1")
    archive = image_archive(box, "big", os.path.join(box.workdir, "big.tar.gz"), filler_mib=24)

    def cut(board):
        if board.wait_for("obctl: add big: 4", 180):  # the line of the fifth tenth
            board.proc.send_signal(signal.SIGKILL)
            return True
        return False

    run = box.boot(medium_tree=tree, config={"E2E_FLASH_RUN": obctl_run("add big /mnt/big.tar.gz 2>&1 | cat")},
                   data_disk=data_disk(box, {"big.tar.gz": archive}), obctl=True, while_up=cut, timeout=240)
    if not box.check(run.cut, "obctl add did not get to 40 % before the box stopped"):
        return
    back = medium.Readback(run.media["boot"], box.workdir, replay_only=True)
    box.check(back.fsck_status == 0, "volume not clean after the replay:\n" + back.fsck_output)
    names = back.names("/ob")
    box.check("big" not in names, "a half image is listed: %s" % names)
    box.check(any(n.startswith(".obadd-") for n in names), "the cut left no unpack under a hidden name: %s" % names)


# -- the front panel and the video decoder ------------------------------------------

PES_HEADER = b"\x00\x00\x01\xe0\x00\x00\x80\x00\x00"
SEQUENCE_END = b"\x00\x00\x01\xb7"
DECODER_PADDING = bytes(8192)
# The menu's decoder child: memory input, play, picture, stop keeping it, demultiplexer.
TAKE_DECODER = ["SET_STREAMTYPE 0 ok", "SELECT_SOURCE 1 ok", "PLAY ok", "CONTINUE ok", "CLEAR_BUFFER ok"]
HAND_BACK_DECODER = ["STOP 0 ok", "SELECT_SOURCE 0 ok"]


def still_picture(pes=False):
    """A stand-in for an MPEG-2 still: a sequence header, a picture and a slice start and
    filler without start codes; raw, or in a PES packet with its length set and the
    sequence end already at its end."""
    es = (b"\x00\x00\x01\xb3\x2d\x02\xd0\x13\xff\xff\xe0\x18\x00\x00\x01\x00\x00\x0f\xff\xf8"
          b"\x00\x00\x01\x01" + bytes((i * 7 + 3) % 251 + 1 for i in range(20000)))
    if not pes:
        return es
    es += SEQUENCE_END
    return b"\x00\x00\x01\xe0" + struct.pack(">H", len(es) + 3) + b"\x80\x00\x00" + es


def panel_shows(box, names):
    """The panel's frames, drawn on the host from the same font, show names in this order
    (each one frame or more) and nothing else."""
    rec = devices.panel_frames(box.run.media["scratch"])
    if not box.check(rec is not None, "the panel recorded nothing (no panel device?)"):
        return
    box.check(rec["refused"] == 0, "the panel refused %d writes" % rec["refused"])
    wanted = {name: devices.expected_name(FONT, name) for name in names}
    shown = []
    for i, frame in enumerate(rec["frames"]):
        pixels = devices.frame_pixels(frame)
        name = next((n for n in names if devices.differences(pixels, wanted[n])[0] == 0), None)
        if name is None:
            misses = ["%r: %d pixels differ, e.g. (x, y, got, wanted) %s"
                      % ((n,) + devices.differences(pixels, wanted[n])) for n in names]
            box.fail("panel frame %d of %d shows none of the names: %s"
                     % (i + 1, len(rec["frames"]), "; ".join(misses)))
        elif not shown or shown[-1] != name:
            shown.append(name)
    box.check(shown == names, "the panel showed %s, expected %s" % (shown, names))
    return rec


def decoder_fed(box, stream, status=0, requests=TAKE_DECODER + HAND_BACK_DECODER):
    """The decoder got the requests in this order with the data between the first five
    and the rest, all of it taken, the data being stream; its writer ended with status."""
    rec = devices.decoder_record(box.run.media["scratch"])
    if not box.check(rec is not None, "the decoder recorded nothing (no video device?)"):
        return
    lines, got = rec
    steps = [line for line in lines if not line.startswith(("open ", "close ", "exit "))]
    data = [i for i, line in enumerate(steps) if line.startswith("write ")]
    asked = [line for line in steps if not line.startswith("write ")]
    box.check(asked == requests, "the decoder's requests were %s, expected %s" % (asked, requests))
    if data:
        box.check(steps[data[0] - 1] == TAKE_DECODER[-1] and steps[data[-1] + 1] == HAND_BACK_DECODER[0]
                  and data == list(range(data[0], data[-1] + 1)),
                  "the data did not come between taking the decoder and handing it back: %s" % steps)
    refused = [steps[i] for i in data if not steps[i].endswith(" ok")]
    box.check(not refused, "the decoder refused data: %s" % refused)
    box.check(got == stream, "the decoder got %d bytes, expected %d%s" % (
        len(got), len(stream), first_difference(got, stream)))
    exits = [line for line in lines if line.startswith("exit ")]
    box.check(len(exits) == 1 and exits[0].endswith(" status %d" % status),
              "the decoder's writer ended %s, expected one exit with status %d" % (exits, status))


def first_difference(got, wanted):
    at = next((i for i, (a, b) in enumerate(zip(got, wanted)) if a != b), min(len(got), len(wanted)))
    return "" if got == wanted else " (first difference at byte %d: %s against %s)" % (
        at, got[at:at + 8].hex(), wanted[at:at + 8].hex())


@scenario("devices-panel-decoder", needs=["obinit", "orbiel"])
def devices_panel_decoder(box):
    """DOWN shows the next name on the front panel; OK puts the chosen image's raw still on
    the video decoder, in a PES packet with a sequence end and padding after it, through
    the requests the decoder takes, in order; the child that feeds it ends with status 0."""
    tree = box.new_medium()
    tree.file("obboot.ini", "img1\n")
    tree.file(".obtimeout", "30\n")
    tree.image("img1")
    base = tree.image("img2")
    picture = still_picture()
    tree.file(base + "/usr/share/bootlogo.mvi", picture)

    def interact(s):
        if s.log_wait(READY, 120):
            s.key("down")
            if s.log_wait("DOWN - selected 2 img2", 60):
                s.key("ret")
                s.log_wait("OK   - booting 2 img2", 60)

    box.boot(medium_tree=tree, interact=interact, timeout=180)
    boots_image(box, "img2")
    panel_shows(box, ["img1", "img2"])
    decoder_fed(box, PES_HEADER + picture + SEQUENCE_END + DECODER_PADDING)


@scenario("devices-pes-picture", needs=["obinit", "orbiel"])
def devices_pes_picture(box):
    """A still already in a PES packet goes to the decoder as it is but for its length field
    (zero: unbounded), with no second sequence end; a name of nine bytes or more shows at
    the smaller size on the panel."""
    tree = box.new_medium()
    tree.file("obboot.ini", "nightly-pes\n")
    tree.file(".obtimeout", "2\n")
    base = tree.image("nightly-pes")
    picture = still_picture(pes=True)
    tree.file(base + "/usr/share/bootlogo.mvi", picture)
    box.boot(medium_tree=tree, timeout=120)
    boots_image(box, "nightly-pes")
    panel_shows(box, ["nightly-pes"])
    decoder_fed(box, picture[:4] + b"\0\0" + picture[6:] + DECODER_PADDING)


@scenario("devices-dm520-refused", needs=["obinit", "orbiel"])
def devices_dm520_refused(box):
    """A dm520 has no front panel: the menu writes no frame although the device is there.
    A decoder that is busy playing refuses the switch to memory input: the child says so
    in the log and ends with status 6, sending no data, and the image boots all the same."""
    tree = box.new_medium()
    tree.file("obboot.ini", "img1\n")
    tree.file(".obtimeout", "2\n")
    base = tree.image("img1")
    tree.file(base + "/usr/share/bootlogo.mvi", still_picture())
    box.boot(release=DM520, medium_tree=tree, timeout=120, module_params={"e2e_video": "playing=1"})
    boots_image(box, "img1")
    rec = devices.panel_frames(box.run.media["scratch"])
    if box.check(rec is not None, "the panel device was not there at the end of the boot"):
        box.check(rec["taken"] == 0 and rec["refused"] == 0,
                  "the menu wrote %d frames to the panel (and %d refused writes)" % (rec["taken"], rec["refused"]))
    box.check("ioctl: Operation not permitted\n" in menu_log(box), "the log does not show the refused request")
    decoder_fed(box, b"", status=6, requests=["SET_STREAMTYPE 0 refused EPERM", "SELECT_SOURCE 1 refused EPERM"])


# -- obctl serve: the web page, from the host's browser --------------------------------

def serving_medium(box, filler_mib=0):
    """A medium whose Flash image is booted once (the one-shot choice) and serves the
    page with the password given on the data disk; img1 is the stored choice."""
    tree = box.new_medium(with_menu=False, with_obctl=True)
    tree.file("obboot.ini", "img1\n")
    tree.file(".oboneshot", "Flash\n")
    tree.image("img1")
    name = "big" if filler_mib else "img9"
    archive = image_archive(box, name, os.path.join(box.workdir, name + ".tar.gz"), filler_mib)
    disk = data_disk(box, {"password": web.password_file(box)})
    run = obctl_run("web password --password-file /mnt/password", "serve")
    return tree, archive, disk, run


@scenario("obctl-web", needs=["obinit", "obctl"])
def obctl_web(box):
    """The Flash image sets the page's password and runs obctl serve; the host's browser
    (headless Chromium) logs in, uploads an image archive, sees it installed and presses
    Boot now on it: the box restarts by its own reboot command, the next start boots the
    new image once, and the one after it the stored choice."""
    tree, archive, disk, run = serving_medium(box)
    port = web.free_port()

    def browse(board):
        passed = box.check(board.wait_for("obctl serve: the page", 300), "obctl serve did not start")
        if passed:
            passed, said = web.browse(port, archive, "img9")
            box.check(passed, "the browser on the box's page:\n" + said)
        if not passed:  # nothing will restart the box: it serves on
            board.proc.send_signal(signal.SIGKILL)
        return not passed

    box.boot(medium_tree=tree, config={"E2E_FLASH_RUN": run}, obctl=True, data_disk=disk,
             while_up=browse, forward=(port, web.GUEST_PORT), timeout=1200)
    boots_flash(box)
    box.console_in_order("FLASH-NET up", "obctl serve: the page", "FLASH-INIT reboot",
                         "obctl serve: ended")
    box.file_is("/.oboneshot", "img9\n")
    box.file_is("/ob/img9/.obinfo", "img9\n")
    medium_disk = box.run.media["boot"]
    box.boot(disk=medium_disk, timeout=180)
    boots_image(box, "img9")
    box.boot(disk=medium_disk, timeout=180)
    boots_image(box, "img1")


@scenario("obctl-web-power-cut", needs=["obinit", "obctl"])
def obctl_web_power_cut(box):
    """The power is cut while an upload is unpacked on the box: after the journal replay
    the volume is clean and no half image is listed."""
    tree, archive, disk, run = serving_medium(box, filler_mib=24)
    port = web.free_port()

    def cut(board):
        if not box.check(board.wait_for("obctl serve: the page", 300), "obctl serve did not start"):
            return False
        page = web.Client(port)
        if not box.check(page.log_in(), "no login on the box's page"):
            return False
        page.upload_in_background(archive, "big")
        deadline = time.monotonic() + 600
        while time.monotonic() < deadline and not board.gone():
            status, add = page.call("GET", "/api/add")
            if status == 200 and add and add["phase"] == "unpacking" and add["received"] * 2 > add["total"]:
                board.proc.send_signal(signal.SIGKILL)
                return True
            if status == 200 and add and add["finished"]:
                box.fail("the upload ended before the cut: %s" % add["verdict"]["message"])
                break
            board.wait_for("\0never\0", 0.3)
        board.proc.send_signal(signal.SIGKILL)
        return False

    run = box.boot(medium_tree=tree, config={"E2E_FLASH_RUN": run}, obctl=True, data_disk=disk,
                   while_up=cut, forward=(port, web.GUEST_PORT), timeout=900)
    if not box.check(run.cut, "the upload did not get half-way before the box stopped"):
        return
    back = medium.Readback(run.media["boot"], box.workdir, replay_only=True)
    box.check(back.fsck_status == 0, "volume not clean after the replay:\n" + back.fsck_output)
    names = back.names("/ob")
    box.check("big" not in names, "a half image is listed: %s" % names)
    box.check(any(n.startswith(".obadd-") for n in names), "the cut left no unpack under a hidden name: %s" % names)
