"""Boot media and scratch disks for the emulated box, made without root or
loop devices: an MBR with one partition at 1 MiB and an ext4 file system
written into it by mke2fs -d. Reading a medium back goes through e2fsck and
debugfs on a copy of the partition, since the guest may not have unmounted it."""
import os
import re
import shutil
import struct
import subprocess
import tempfile

from . import paths

PART_OFFSET = 1 << 20
BLOCK = 4096


def write_mbr(path, total_bytes, part_type=0x83):
    sectors = (total_bytes - PART_OFFSET) // 512
    entry = struct.pack("<B3sB3sII", 0x00, b"\xfe\xff\xff", part_type, b"\xfe\xff\xff",
                        PART_OFFSET // 512, sectors)
    mbr = bytearray(512)
    mbr[446:446 + 16] = entry
    mbr[510:512] = b"\x55\xaa"
    with open(path, "wb") as f:
        f.write(mbr)
        f.truncate(total_bytes)


def ext_check(*args):
    """The project's check of an ext file system against the features the boxes'
    kernels mount (tools/ext_check, the rule obinit applies), from the first build
    that has it; the mipsel one runs under qemu-user."""
    for preset in ("host", "host-asan", "mipsel"):
        tool = os.path.join(paths.build(), preset, "tools", "ext_check")
        if os.path.exists(tool):
            prefix = ["qemu-mipsel-static"] if preset == "mipsel" else []
            return subprocess.run(prefix + [tool] + list(args), capture_output=True, text=True)
    raise RuntimeError("no build has tools/ext_check: build the host or mipsel preset first")


def make_ext4(path, source_dir, label="obtest", size_mib=64, features=None, full=False):
    """A partitioned disk image whose first partition is ext4 with the tree of source_dir,
    made as the README tells a user to: with the boxes' feature set, which is checked;
    full: no free block left (filler files take them)."""
    total = size_mib << 20
    write_mbr(path, total)
    fs_kib = (total - PART_OFFSET) // 1024
    # 4 KiB blocks as on a real disk; small file systems would get 1 KiB ones.
    cmd = ["mke2fs", "-q", "-F", "-t", "ext4", "-b", str(BLOCK), "-L", label, "-E", "offset=%d" % PART_OFFSET]
    cmd += ext_check("--mke2fs-options").stdout.split()
    if features:
        cmd += ["-O", features]
    subprocess.run(cmd + ["-d", source_dir, path, "%dk" % fs_kib], check=True)
    checked = ext_check(path, str(PART_OFFSET))
    if checked.returncode != 0:
        raise RuntimeError("the medium is one the boxes cannot mount: " + checked.stderr.strip())
    if full:
        fill(path)
    return path


def free_blocks(device):
    r = subprocess.run(["debugfs", "-R", "stats", device], check=True, capture_output=True, text=True)
    return int(re.search(r"^Free blocks: +(\d+)$", r.stdout, re.M).group(1))


def fill(path):
    """Filler files in the partition until no block is free. A file in pieces needs
    blocks for its extent tree too, so each round leaves a few for the next."""
    device = "%s?offset=%d" % (path, PART_OFFSET)
    for round_ in range(32):
        free = free_blocks(device)
        if free == 0:
            return
        with tempfile.NamedTemporaryFile() as filler:
            filler.write(b"\xa5" * (max(free - 8, 1) * BLOCK))  # zeros would become holes
            filler.flush()
            subprocess.run(["debugfs", "-w", "-R", "write %s /.filler%d" % (filler.name, round_), device],
                           check=True, capture_output=True)
    raise RuntimeError("%s: %d blocks still free after filling" % (path, free_blocks(device)))


def make_blank(path, size_mib):
    with open(path, "wb") as f:
        f.truncate(size_mib << 20)
    return path


def superblock(disk):
    """The ext4 superblock of the disk image's partition as it was left: its state and
    features (as dumpe2fs names them), before any check changes them."""
    r = subprocess.run(["dumpe2fs", "-h", "%s?offset=%d" % (disk, PART_OFFSET)], capture_output=True,
                       text=True)
    fields = dict(line.split(":", 1) for line in r.stdout.splitlines() if ":" in line)
    return fields.get("Filesystem state", "").strip(), fields.get("Filesystem features", "").split()


class Readback:
    """The partition of a disk image after a run, checked and readable."""

    def __init__(self, disk, workdir, replay_only=False):
        """replay_only: as the kernel would mount it after a power cut: the journal
        replayed, nothing repaired; fsck_status is then that of a read-only check
        (0: clean)."""
        self.part = os.path.join(workdir, os.path.basename(disk) + ".part")
        with open(disk, "rb") as src, open(self.part, "wb") as dst:
            src.seek(PART_OFFSET)
            shutil.copyfileobj(src, dst, 1 << 20)
        # Read before e2fsck, which gives a volume with the all-zero UUID a new one.
        self.uuid_before_check = self._raw_uuid()
        if replay_only:
            subprocess.run(["e2fsck", "-y", "-E", "journal_only", self.part], capture_output=True)
            r = subprocess.run(["e2fsck", "-fn", self.part], capture_output=True, text=True)
        else:
            r = subprocess.run(["e2fsck", "-fy", self.part], capture_output=True, text=True)
        self.fsck_status = r.returncode
        self.fsck_output = r.stdout + r.stderr

    def read(self, path):
        """Contents of a file on the medium, or None when it does not exist."""
        r = subprocess.run(["debugfs", "-R", "cat %s" % path, self.part], capture_output=True)
        if r.returncode != 0 or b"File not found" in r.stderr:
            return None
        return r.stdout

    def names(self, directory):
        """The names in a directory of the medium ([] when it does not exist)."""
        r = subprocess.run(["debugfs", "-R", "ls -l %s" % directory, self.part], capture_output=True,
                           text=True, errors="replace")
        return [line.split()[-1] for line in r.stdout.splitlines() if len(line.split()) >= 8]

    def exists(self, path):
        r = subprocess.run(["debugfs", "-R", "stat %s" % path, self.part], capture_output=True)
        return r.returncode == 0 and b"File not found" not in r.stderr and b"Inode:" in r.stdout

    def _raw_uuid(self):
        with open(self.part, "rb") as f:
            f.seek(1024 + 0x68)  # s_uuid in the primary superblock
            u = f.read(16).hex()
        return "%s-%s-%s-%s-%s" % (u[:8], u[8:12], u[12:16], u[16:20], u[20:])
