"""The box's web page (obctl serve) from the host: its port forwarded from the
board's network card to the host's loopback, reached by a headless browser
(tests/web/browser_test, on Debian's own Python, which has Selenium) or by a
plain HTTP client for what a person cannot time, such as a power cut in the
middle of an upload."""
import http.client
import json
import os
import socket
import subprocess
import threading

from . import paths

GUEST_PORT = 8190  # obctl serve's own default
PASSWORD = "a box's password"
BROWSER_TEST = os.path.join(paths.REPO, "tests", "web", "browser_test")


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def password_file(box):
    path = os.path.join(box.workdir, "password")
    with open(path, "w") as f:
        f.write(PASSWORD + "\n")
    return path


def browse(port, archive, name):
    """The browser logs in, uploads archive as name and presses Boot now on it;
    (passed, what it printed)."""
    r = subprocess.run(["/usr/bin/python3", BROWSER_TEST, "--box", "http://127.0.0.1:%d/" % port,
                        "--password", PASSWORD, "--upload", archive, "--name", name],
                       capture_output=True, text=True, timeout=1200)
    return r.returncode == 0, r.stdout + r.stderr


class Client:
    """What the page's script sends, without the page."""

    def __init__(self, port):
        self.port = port
        self.cookie = ""

    def _headers(self, extra=None):
        headers = {"Host": "127.0.0.1:%d" % self.port, "X-Orbiel": "1"}
        if self.cookie:
            headers["Cookie"] = self.cookie
        headers.update(extra or {})
        return headers

    def call(self, method, path, body=None, timeout=120):
        conn = http.client.HTTPConnection("127.0.0.1", self.port, timeout=timeout)
        data = None if body is None else json.dumps(body).encode()
        conn.request(method, path, body=data, headers=self._headers())
        response = conn.getresponse()
        answer = response.read()
        cookie = response.getheader("Set-Cookie")
        conn.close()
        if cookie:
            self.cookie = cookie.split(";")[0]
        try:
            return response.status, json.loads(answer)
        except ValueError:
            return response.status, None

    def log_in(self):
        return self.call("POST", "/api/login", {"password": PASSWORD})[0] == 200

    def upload_in_background(self, archive, name, block=64 * 1024):
        """Sends archive to POST /api/add on a thread of its own, as a browser would."""
        def send():
            try:
                conn = http.client.HTTPConnection("127.0.0.1", self.port, timeout=600)
                conn.putrequest("POST", "/api/add?name=%s&file=%s" % (name, os.path.basename(archive)),
                                skip_host=True)
                for key, value in self._headers({"Content-Length": str(os.path.getsize(archive))}).items():
                    conn.putheader(key, value)
                conn.endheaders()
                with open(archive, "rb") as f:
                    for part in iter(lambda: f.read(block), b""):
                        conn.send(part)
                conn.getresponse().read()
            except OSError:
                pass  # the power went
        thread = threading.Thread(target=send, daemon=True)
        thread.start()
        return thread
