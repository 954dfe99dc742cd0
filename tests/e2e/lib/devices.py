"""What the box's front panel and video decoder were sent, as the guest's stand-in
drivers (guest/modules) recorded it and the boot's last step left it on the
scratch disk; and the host's own rendering of a name on the panel."""
import os
import subprocess

from . import fbpng, paths

MIB = 1 << 20
PANEL_AT = 96 * MIB  # the offsets the guest's init scripts write to
VIDEO_AT = 112 * MIB
FRAME_BYTES = 4096
PANEL_W, PANEL_H = 128, 64


def _read(disk, at, size):
    with open(disk, "rb") as f:
        f.seek(at)
        return f.read(size)


def panel_frames(disk):
    """The frames the panel kept (oldest first) and how many it took in all;
    None when nothing was recorded (no panel device at the end of the boot)."""
    head = _read(disk, PANEL_AT, 128)
    if not head.startswith(b"e2e-panel "):
        return None
    line = head[:head.index(b"\n") + 1]
    words = line.split()
    taken, kept, refused = int(words[2]), int(words[4]), int(words[6])
    data = _read(disk, PANEL_AT + len(line), kept * FRAME_BYTES)
    frames = [data[i * FRAME_BYTES:(i + 1) * FRAME_BYTES] for i in range(kept)]
    return {"taken": taken, "refused": refused, "frames": frames}


def decoder_record(disk):
    """(event lines, stream bytes) the decoder recorded; None when nothing was."""
    head = _read(disk, VIDEO_AT, 64 * 1024)
    if not head.startswith(b"e2e-video\n"):
        return None
    lines = []
    at = len(b"e2e-video\n")
    while True:
        end = head.index(b"\n", at)
        line = head[at:end].decode()
        at = end + 1
        if line.startswith("stream "):
            return lines, _read(disk, VIDEO_AT + at, int(line.split()[1]))
        lines.append(line)


def frame_pixels(frame):
    """A panel frame as rows of 4-bit grey levels, as the display shows them: 64 rows of
    64 bytes, two pixels a byte, the left pixel in the high nibble."""
    rows = []
    for y in range(PANEL_H):
        row = []
        for byte in frame[y * 64:(y + 1) * 64]:
            row += [byte >> 4, byte & 0x0F]
        rows.append(row)
    return rows


@paths.cache_builder
def _panel_text_program():
    src = os.path.join(paths.E2E, "host", "panel_text.c")
    out_dir = os.path.join(paths.cache(), "host-bin")
    out = os.path.join(out_dir, "panel_text")
    if not os.path.exists(out) or os.path.getmtime(out) < os.path.getmtime(src):
        os.makedirs(out_dir, exist_ok=True)
        flags = subprocess.run(["pkg-config", "--cflags", "--libs", "freetype2"], check=True,
                               capture_output=True, text=True).stdout.split()
        subprocess.run(["gcc", "-O2", "-Wall", "-Werror", "-o", out, src] + flags, check=True)
    return out


def expected_name(font, name):
    """The panel's pixels for a name (0 dark, 15 lit), drawn on the host: the menu puts
    the name at pen x 0 on baseline 32, 32 pixels high (24 from 9 bytes on), ending
    before pen x 130, and the panel shows the drawing from column 2 on."""
    size = 32 if len(name.encode()) < 9 else 24
    width = 130
    canvas = subprocess.run([_panel_text_program(), font, str(size), "0", "32", "130", str(width),
                             str(PANEL_H), name], check=True, capture_output=True).stdout
    return [[15 if canvas[y * width + x + 2] else 0 for x in range(PANEL_W)] for y in range(PANEL_H)]


def differences(got, wanted):
    """How many pixels differ, and a few of them as (x, y, got, wanted)."""
    diff = [(x, y, got[y][x], wanted[y][x]) for y in range(PANEL_H) for x in range(PANEL_W)
            if got[y][x] != wanted[y][x]]
    return len(diff), diff[:5]


def write_frame_png(frame, path, scale=4):
    """A panel frame as a PNG: each 4-bit pixel a grey level, scale x scale pixels big."""
    rows = []
    for row in frame_pixels(frame):
        line = bytes(v * 17 for v in row for _ in range(scale))
        rows += [line] * scale
    fbpng.write_grey_png(path, PANEL_W * scale, PANEL_H * scale, rows)
