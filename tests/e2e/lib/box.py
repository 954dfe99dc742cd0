"""The scenario's view of the emulated box: build a boot medium, boot the box
with it, press keys, take screenshots, then check console, files and pixels.

A scenario collects failures instead of stopping at the first, so one run
reports everything that differs."""
import os
import shutil
import stat

from . import fbpng, guest, kernel, medium, paths, qemu, release1

DM900 = "3.14.28-1.12-dm900"
DM520 = "3.4-4.0-dm520"

FONT = "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf"


# What obinit mounts the medium and the kernel file systems on in an image.
MOUNT_POINTS = ("media/ob", "sys", "dev", "proc", "tmp")


class MediumTree:
    """The directory tree that becomes the boot medium's ext4 file system."""

    def __init__(self, root):
        self.root = root
        if os.path.exists(root):
            shutil.rmtree(root)
        os.makedirs(os.path.join(root, "ob"))

    def path(self, rel):
        return os.path.join(self.root, rel.lstrip("/"))

    def file(self, rel, content=b"", mode=0o644):
        p = self.path(rel)
        os.makedirs(os.path.dirname(p), exist_ok=True)
        with open(p, "wb") as f:
            f.write(content.encode() if isinstance(content, str) else content)
        os.chmod(p, mode)
        return p

    def copy(self, rel, source, mode=None):
        p = self.path(rel)
        os.makedirs(os.path.dirname(p), exist_ok=True)
        shutil.copyfile(source, p)
        os.chmod(p, mode if mode is not None else stat.S_IMODE(os.stat(source).st_mode))
        return p

    def symlink(self, rel, target):
        p = self.path(rel)
        os.makedirs(os.path.dirname(p), exist_ok=True)
        os.symlink(target, p)

    def installation(self, with_menu=True, with_obctl=False):
        """What an installation puts on a medium: marker, menu program, font, logo."""
        self.file("ob.sh", "#!/bin/sh\n", 0o755)
        if with_menu and os.path.exists(paths.orbiel()):
            self.copy("bin/orbiel", paths.orbiel(), 0o755)
        if with_obctl:
            self.copy("bin/obctl", paths.obctl(), 0o755)
        if os.path.exists(FONT):
            self.copy("fonts/orbiel.ttf", FONT, 0o644)
        logo = logo_jpeg()
        if logo:
            self.copy("logos/orbiel.jpg", logo, 0o644)
        return self

    def image(self, name, init="sysvinit", obinfo="", fstab="proc /proc proc defaults 0 0\n",
              mdev=False, kernel_file=None, mount_points=True):
        """An installed image: a root tree whose init reports what it sees.

        init: "sysvinit" (/sbin/init.sysvinit), "systemd" (/lib/systemd/systemd),
        "plain" (/sbin/init only) or "none". mount_points: the directories that
        obinit mounts the medium and the kernel file systems on."""
        base = "ob/" + name
        for d in ("run", "var", "etc/rcS.d", "boot") + (MOUNT_POINTS if mount_points else ()):
            os.makedirs(self.path(base + "/" + d), exist_ok=True)
        self._link_shared(base + "/bin/busybox", guest.busybox(), 0o755)
        for applet in guest.APPLETS:
            where = "/sbin/" if applet in guest.SBIN_APPLETS else "/bin/"
            self.symlink(base + where + applet, "/bin/busybox")
        # Images bring their own shell and module loader; dash (no built-in
        # applets) lets "modprobe" reach the board's stand-in.
        for rel, source in guest.userland_files("shell"):
            if os.path.islink(source):
                self.symlink(base + "/" + rel, os.readlink(source))
            else:
                self._link_shared(base + "/" + rel, source, 0o755)
        self.symlink(base + "/bin/sh", "/bin/dash")
        self.copy(base + "/sbin/modprobe", os.path.join(paths.GUEST, "modprobe"), 0o755)
        if not mdev and os.path.lexists(self.path(base + "/sbin/mdev")):
            os.unlink(self.path(base + "/sbin/mdev"))
        init_path = {"sysvinit": "/sbin/init.sysvinit", "systemd": "/lib/systemd/systemd",
                     "plain": "/sbin/init"}.get(init)
        if init_path:
            self.copy(base + init_path, guest.helper("report"), 0o755)
        self.copy(base + "/etc/e2e-init.sh", os.path.join(paths.GUEST, "image-init"), 0o755)
        self.file(base + "/etc/e2e-role", "IMAGE\n")
        if obinfo is not None:
            self.file(base + "/.obinfo", obinfo)
        self.file(base + "/etc/image-name", name + "\n")
        if fstab is not None:
            self.file(base + "/etc/fstab", fstab)
        if kernel_file:
            self.file(base + kernel_file, "kernel placeholder\n")
        return base

    def _link_shared(self, rel, source, mode):
        """Every image's copy of a file shares one inode, which keeps the medium small."""
        stash = os.path.join(self.root, ".stash", source.lstrip("/"))
        if not os.path.exists(stash):
            os.makedirs(os.path.dirname(stash), exist_ok=True)
            shutil.copyfile(source, stash)
            os.chmod(stash, mode)
        p = self.path(rel)
        os.makedirs(os.path.dirname(p), exist_ok=True)
        os.link(stash, p)

    def finish(self):
        shutil.rmtree(os.path.join(self.root, ".stash"), ignore_errors=True)


def logo_jpeg():
    """The start logo that the project's build generates (tools/make_logo); in the
    release-1 mode the release bundle's first."""
    logos = [os.path.join(paths.build(), preset, "medium", "logos", "orbiel.jpg")
             for preset in ("mipsel", "host", "host-asan", "mipsel-r1")]
    if paths.release1():
        logos.insert(0, paths.from_bundle("logos/orbiel.jpg"))
    return next((logo for logo in logos if os.path.exists(logo)), None)


class Run:
    """One boot of the box and what came out of it."""

    def __init__(self, board, workdir, media):
        self.board = board
        self.workdir = workdir
        self.media = media
        self.console = ""
        self.shots = {}
        self._readback = {}

    def medium(self, which="boot"):
        if which not in self._readback:
            self._readback[which] = medium.Readback(self.media[which], self.workdir)
        return self._readback[which]


class Box:
    """A scenario's handle on the emulated box; collects failures."""

    def __init__(self, name, workdir, shots_dir):
        self.name = name
        self.workdir = workdir
        self.shots_dir = shots_dir
        self.failures = []
        self.notes = []
        self.run = None
        os.makedirs(workdir, exist_ok=True)

    # -- building --------------------------------------------------------
    def new_medium(self, installation=True, with_menu=True, with_obctl=False):
        tree = MediumTree(os.path.join(self.workdir, "medium"))
        if installation:
            tree.installation(with_menu=with_menu, with_obctl=with_obctl)
        return tree

    def boot(self, release=DM900, medium_tree=None, args=(), on_card=False, init="obinit",
             config=None, extra=None, timeout=90, interact=None, label="obtest", cmdline="",
             features=None, echo=None, disk=None, menu=None, while_up=None, full=False,
             data_disk=None, obctl=False, module_params=None, medium_mib=64, forward=None):
        """Boot the box; interact(board) runs while it is up (keys, shots).
        data_disk: a second disk (/dev/vdb) for what a scenario brings along; obctl:
        the flash root can run the medium's obctl.
        full: the medium made of medium_tree has no free block left.
        disk: a boot medium made before (instead of medium_tree); menu: the menu
        program for the flash root then (bin/orbiel of its tree). while_up(board)
        watches the console without the guest's agent; when it returns True it
        has cut the power (killed qemu), which is then no failure.
        module_params: {module: parameters} for the panel and decoder stand-ins;
        medium_mib: the size of the medium made of medium_tree.
        forward: (host port, guest port): a network card, the guest's port reached
        on the host's loopback; the flash brings it up and restarts on a reboot."""
        media = {}
        if disk is not None:
            media["boot"] = disk
        if medium_tree is not None:
            medium_tree.finish()
            disk = os.path.join(self.workdir, "boot.img")
            media["boot"] = medium.make_ext4(disk, medium_tree.root, label=label, size_mib=medium_mib,
                                             features=features, full=full)
        scratch = medium.make_blank(os.path.join(self.workdir, "scratch.img"), 128)
        media["scratch"] = scratch
        config = dict(config or {})
        if interact:
            config["E2E_AGENT"] = 1
        if forward:
            config["E2E_NET"] = 1
        if data_disk:
            media["data"] = data_disk
        program = paths.obinit() if init == "obinit" else init
        if medium_tree is not None:
            menu = medium_tree.path("bin/orbiel")
        initrd = guest.flash_root(os.path.join(self.workdir, "initrd.gz"), release, program,
                                  config=config, extra=extra,
                                  menu=menu if menu and os.path.exists(menu) else None,
                                  obctl=paths.obctl() if obctl else None,
                                  module_params=module_params)
        cmdline = " ".join(filter(None, [guest.kernel_options(), cmdline]))
        board = qemu.Board(kernel.kernel_for(release), initrd, self.workdir,
                           ide=None if on_card else media.get("boot"),
                           sdcard=media.get("boot") if on_card else None,
                           virtio=[scratch] + ([data_disk] if data_disk else []), args=args, cmdline_extra=cmdline, echo=echo,
                           cpu=release1.CPU if paths.release1() else None, forward=forward)
        run = Run(board, self.workdir, media)
        self.run = run
        lost = False
        cut = False
        try:
            if interact:
                interact(Session(self, board, run))
            if while_up:
                cut = bool(while_up(board))
        except Exception:
            if not board.gone():
                raise
            lost = True  # reported below, in qemu's own words
        finally:
            ended = board.finish(timeout)
            run.console = board.text()
            run.seconds = board.seconds
            with open(os.path.join(self.workdir, "console.log"), "w") as f:
                f.write(run.console)
        status = board.proc.returncode
        run.cut = cut
        if ended and status != 0 and not cut:
            self._qemu_failed(board, "qemu failed with status %d" % status)
        elif lost:
            self._qemu_failed(board, "the box switched itself off while the scenario still used it")
        if not ended:
            self.fail("the box did not switch itself off within %d s" % timeout)
        for line in run.console.splitlines():
            if "Kernel panic" in line or "insmod" in line and "failed" in line:
                self.fail("console: " + line.strip())
        return run

    def _qemu_failed(self, board, why):
        lines = "\n".join("  | " + line for line in board.last_lines()) or "  | (nothing)"
        self.fail("%s; its last lines:\n%s\ncommand: %s\nre-run: %s" % (
            why, lines, board.command_line(), os.path.join(self.workdir, qemu.COMMAND_FILE)))

    # -- checking --------------------------------------------------------
    def fail(self, message):
        self.failures.append(message)

    def check(self, condition, message):
        if not condition:
            self.fail(message)
        return condition

    def console_has(self, *texts):
        for text in texts:
            self.check(text in self.run.console, "console lacks %r" % text)

    def console_lacks(self, *texts):
        for text in texts:
            self.check(text not in self.run.console, "console shows %r" % text)

    def console_in_order(self, *texts):
        at = 0
        for text in texts:
            found = self.run.console.find(text, at)
            if not self.check(found >= 0, "console lacks %r (in order)" % text):
                return
            at = found + len(text)

    def file_is(self, path, expected, which="boot"):
        got = self.run.medium(which).read(path)
        if isinstance(expected, str):
            expected = expected.encode()
        self.check(got == expected, "%s holds %r, expected %r" % (path, got, expected))

    def shot(self, name):
        return self.run.shots.get(name)


class Session:
    """While the box runs: keys, waiting for the menu, screenshots."""

    def __init__(self, box, board, run):
        self.box, self.board, self.run = box, board, run
        self.slot = 0

    def log_wait(self, text, timeout=60):
        """Wait until the menu's log on the medium holds text."""
        reply = self.board.agent("wait-log %d %s" % (timeout, text), timeout + 10)
        ok = reply == ["ok"]
        self.box.check(ok, "menu log never showed %r" % text)
        return ok

    def key(self, qcode):
        try:
            self.board.key(qcode)
        except OSError as e:
            self.box.fail("key %s not pressed: %s (the box is off?)" % (qcode, e))

    def pause(self, seconds):
        self.board.wait_for("\0never\0", seconds)

    def settle(self, seconds=1.5):
        """The menu logs an action before it draws it; give the drawing time."""
        self.pause(seconds)

    def screenshot(self, name):
        reply = self.board.agent("shot %d" % self.slot, 60)
        if reply != ["shot", str(self.slot)]:
            self.box.fail("screenshot %s failed: %s" % (name, reply))
            return None
        shot = fbpng.read_shot(self.run.media["scratch"], self.slot)
        self.slot += 1
        if shot is None:
            self.box.fail("screenshot %s is not on the scratch disk" % name)
            return None
        self.run.shots[name] = shot
        os.makedirs(self.box.shots_dir, exist_ok=True)
        path = os.path.join(self.box.shots_dir, "%s-%s.png" % (self.box.name, name))
        shot.write_png(path)
        self.box.notes.append(path)
        return shot
