"""A newc cpio writer, so the initramfs can hold device nodes and root-owned
files without the harness running as root or calling cpio."""
import gzip
import os
import stat


class Archive:
    def __init__(self):
        self._parts = []
        self._ino = 1
        self._names = set()

    def _entry(self, name, mode, data=b"", rdev=(0, 0), nlink=1):
        name = name.lstrip("/")
        if name in self._names:
            raise ValueError("duplicate entry " + name)
        self._names.add(name)
        encoded = name.encode() + b"\0"
        fields = (self._ino, mode, 0, 0, nlink, 0, len(data), 0, 0, rdev[0], rdev[1], len(encoded), 0)
        self._ino += 1
        head = b"070701" + b"".join(b"%08X" % f for f in fields) + encoded
        self._parts.append(head + b"\0" * (-len(head) % 4))
        self._parts.append(data + b"\0" * (-len(data) % 4))

    def has(self, name):
        return name.lstrip("/") in self._names

    def dir(self, name, mode=0o755):
        # Parents first, so the kernel's unpacker never meets a missing one.
        parts = name.strip("/").split("/")
        for i in range(1, len(parts) + 1):
            sub = "/".join(parts[:i])
            if not self.has(sub):
                self._entry(sub, stat.S_IFDIR | mode, nlink=2)

    def _parent(self, name):
        parent = name.strip("/").rpartition("/")[0]
        if parent:
            self.dir(parent)

    def file(self, name, data, mode=0o644):
        self._parent(name)
        if isinstance(data, str):
            data = data.encode()
        self._entry(name, stat.S_IFREG | mode, data)

    def host_file(self, name, path, mode=None):
        with open(path, "rb") as f:
            data = f.read()
        self.file(name, data, mode if mode is not None else stat.S_IMODE(os.stat(path).st_mode))

    def host_copy(self, name, path):
        """A host file or symbolic link, as it is."""
        if os.path.islink(path):
            self.symlink(name, os.readlink(path))
        else:
            self.host_file(name, path)

    def symlink(self, name, target):
        self._parent(name)
        self._entry(name, stat.S_IFLNK | 0o777, target.encode())

    def node(self, name, kind, major, minor, mode=0o600):
        self._parent(name)
        self._entry(name, kind | mode, rdev=(major, minor))

    def write(self, path):
        trailer = b"070701" + b"".join(b"%08X" % f for f in (0, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 11, 0))
        trailer += b"TRAILER!!!\0"
        trailer += b"\0" * (-len(trailer) % 4)
        with gzip.open(path, "wb", compresslevel=1) as f:
            for part in self._parts:
                f.write(part)
            f.write(trailer)
