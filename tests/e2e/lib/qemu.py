"""One run of the emulated box: qemu-system-mipsel on the Malta board with a
time limit, the serial console captured, keys pressed through QMP and the
guest's harness agent reached over the second serial port."""
import json
import os
import select
import shlex
import socket
import subprocess
import time

CONSOLE_ARGS = "console=ttyS0 loglevel=3 panic=1 rdinit=/init"
COMMAND_FILE = "qemu-command.sh"  # in the scenario's folder, to re-run a boot by hand


class BoardGone(Exception):
    """qemu ended while the harness still wanted to talk to the box."""


class Board:
    def __init__(self, kernel, initrd, workdir, ide=None, virtio=(), sdcard=None, args=(),
                 cmdline_extra="", echo=None, cpu=None, forward=None):
        self.workdir = workdir
        self.qmp_path = os.path.join(workdir, "qmp.sock")
        self.agent_path = os.path.join(workdir, "agent.sock")
        for p in (self.qmp_path, self.agent_path):
            if os.path.exists(p):
                os.unlink(p)
        append = CONSOLE_ARGS + (" " + cmdline_extra if cmdline_extra else "")
        if args:
            append += " -- " + " ".join(args)
        # Without a network card qemu needs no boot ROM; with one (forward:
        # (host port, guest port), on user-mode networking) its ROM is left
        # out, as a box has none.
        if forward:
            network = ["-netdev", "user,id=net,hostfwd=tcp:127.0.0.1:%d-:%d" % forward,
                       "-device", "virtio-net-pci,netdev=net,romfile="]
        else:
            network = ["-nic", "none"]
        cmd = ["qemu-system-mipsel", "-M", "malta", "-m", "256", "-smp", "1", "-nographic", "-vga", "none"] + \
              network + ["-no-reboot", "-monitor", "none", "-serial", "stdio",
               "-serial", "unix:%s,server=on,wait=off" % self.agent_path,
               "-qmp", "unix:%s,server=on,wait=off" % self.qmp_path,
               "-kernel", kernel, "-initrd", initrd, "-append", append]
        if cpu:
            cmd += ["-cpu", cpu]
        if ide:
            cmd += ["-drive", "file=%s,format=raw,if=ide,index=0" % ide]
        for i, disk in enumerate(virtio):
            cmd += ["-drive", "file=%s,format=raw,if=virtio,index=%d" % (disk, i)]
        if sdcard:
            cmd += ["-device", "sdhci-pci", "-drive", "id=sdcard,if=none,format=raw,file=%s" % sdcard,
                    "-device", "sd-card,drive=sdcard"]
        self.command = cmd
        with open(os.path.join(workdir, COMMAND_FILE), "w") as f:
            f.write("#!/bin/sh\n# The boot of this scenario, as the harness started it.\n")
            f.write("cd %s && exec %s\n" % (shlex.quote(os.path.abspath(workdir)), self.command_line()))
        os.chmod(os.path.join(workdir, COMMAND_FILE), 0o755)
        self.console = b""
        self.echo = echo  # a binary stream that sees the console as it comes
        self.started = time.monotonic()
        self.proc = subprocess.Popen(cmd, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                     stderr=subprocess.STDOUT)
        self._qmp = None
        self._agent = None
        self._agent_buf = b""

    # -- console ---------------------------------------------------------
    def _pump(self, timeout):
        r, _, _ = select.select([self.proc.stdout], [], [], max(timeout, 0))
        if r:
            chunk = os.read(self.proc.stdout.fileno(), 65536)
            if not chunk:
                return False
            self.console += chunk
            if self.echo:
                self.echo.write(chunk)
                self.echo.flush()
        return True

    def text(self):
        return self.console.decode("utf-8", "replace").replace("\r\n", "\n")

    def wait_for(self, marker, timeout):
        """Read the console until marker appears; False on time-out or exit."""
        deadline = time.monotonic() + timeout
        while marker.encode() not in self.console:
            left = deadline - time.monotonic()
            if left <= 0 or not self._pump(min(left, 0.5)):
                return marker.encode() in self.console
        return True

    def finish(self, timeout):
        """Let the guest run to its end (it powers off) within timeout seconds."""
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            if not self._pump(min(deadline - time.monotonic(), 0.5)):
                if self.proc.poll() is not None:
                    break
                time.sleep(0.05)
        timed_out = self.proc.poll() is None
        if timed_out:
            self.proc.kill()
        self.proc.wait()
        rest = self.proc.stdout.read()
        self.console += rest
        if self.echo and rest:
            self.echo.write(rest)
            self.echo.flush()
        for s in (self._qmp, self._agent):
            if s:
                s.close()
        self.seconds = time.monotonic() - self.started
        return not timed_out

    def _connect(self, path, timeout=20):
        """qemu makes its sockets a moment after it starts."""
        deadline = time.monotonic() + timeout
        while True:
            sock = socket.socket(socket.AF_UNIX)
            try:
                sock.connect(path)
                return sock
            except OSError:
                sock.close()
                if self.proc.poll() is not None:
                    raise BoardGone("qemu exited with status %d" % self.proc.returncode)
                if time.monotonic() > deadline:
                    raise
                self._pump(0.1)

    def command_line(self):
        return shlex.join(self.command)

    def gone(self):
        """True once qemu has ended."""
        return self.proc.poll() is not None

    def last_lines(self, count=15):
        return self.text().rstrip("\n").splitlines()[-count:]

    # -- QMP keys --------------------------------------------------------
    def _qmp_call(self, command, **arguments):
        if self._qmp is None:
            self._qmp = self._connect(self.qmp_path)
            self._qmp_file = self._qmp.makefile("rwb")
            self._qmp_file.readline()  # greeting
            self._qmp_call("qmp_capabilities")
        msg = {"execute": command}
        if arguments:
            msg["arguments"] = arguments
        self._qmp_file.write(json.dumps(msg).encode() + b"\n")
        self._qmp_file.flush()
        while True:
            reply = json.loads(self._qmp_file.readline())
            if "return" in reply or "error" in reply:
                return reply

    def key(self, qcode):
        """Press and release one key of the board's keyboard (the remote)."""
        return self._qmp_call("send-key", keys=[{"type": "qcode", "data": qcode}], **{"hold-time": 100})

    # -- agent -----------------------------------------------------------
    def agent(self, line, timeout=30):
        """Send one command to the guest's agent; returns its reply words or None."""
        if self._agent is None:
            self._agent = self._connect(self.agent_path)
            if self._agent_reply(timeout) != ["ready"]:
                return None
        self._agent.sendall(line.encode() + b"\n")
        return self._agent_reply(timeout)

    def _agent_reply(self, timeout):
        deadline = time.monotonic() + timeout
        while True:
            while b"\n" in self._agent_buf:
                raw, self._agent_buf = self._agent_buf.split(b"\n", 1)
                words = raw.decode("utf-8", "replace").strip().split()
                if words[:1] == ["e2e-done"]:
                    return words[1:]
            left = deadline - time.monotonic()
            if left <= 0:
                return None
            # Keep the console flowing while waiting, so its pipe never fills.
            r, _, _ = select.select([self._agent, self.proc.stdout], [], [], min(left, 0.5))
            if self.proc.stdout in r:
                self._pump(0)
            if self._agent in r:
                chunk = self._agent.recv(4096)
                if not chunk:
                    return None
                self._agent_buf += chunk
