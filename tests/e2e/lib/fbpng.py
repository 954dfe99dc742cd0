"""Screens photographed by the guest's fbshot (and the panel's frames), turned into PNG files."""
import struct
import zlib

SLOT_BYTES = 16 << 20
MAGIC = 0x544F4853


class Shot:
    def __init__(self, xres, yres, line_length, bpp, offsets, pixels):
        self.xres, self.yres, self.line_length, self.bpp = xres, yres, line_length, bpp
        self.offsets = offsets  # red, green, blue, transp bit offsets
        self.pixels = pixels

    def rgb(self, x, y):
        """The colour of one pixel as (r, g, b)."""
        if self.bpp != 32:
            raise ValueError("only 32 bpp screens are read")
        v, = struct.unpack_from("<I", self.pixels, y * self.line_length + 4 * x)
        return tuple((v >> self.offsets[i]) & 0xFF for i in range(3))

    def rows(self):
        r, g, b = (o // 8 for o in self.offsets[:3])
        for y in range(self.yres):
            line = self.pixels[y * self.line_length:y * self.line_length + 4 * self.xres]
            out = bytearray(3 * self.xres)
            out[0::3] = line[r::4]
            out[1::3] = line[g::4]
            out[2::3] = line[b::4]
            yield bytes(out)

    def count(self, colour, box=None):
        """How many pixels of the box (x0, y0, x1, y1; exclusive ends) have this colour."""
        x0, y0, x1, y1 = box or (0, 0, self.xres, self.yres)
        n = 0
        for y in range(y0, min(y1, self.yres)):
            for x in range(x0, min(x1, self.xres)):
                if self.rgb(x, y) == colour:
                    n += 1
        return n

    def half_rows(self):
        """Rows at half the width and height, each pixel the mean of four."""
        rows = self.rows()
        for top in rows:
            bottom = next(rows, top)
            pair = [a + b for a, b in zip(top, bottom)]
            out = bytearray(3 * (self.xres // 2))
            for x in range(self.xres // 2):
                for c in range(3):
                    out[3 * x + c] = (pair[6 * x + c] + pair[6 * x + 3 + c] + 2) // 4
            yield bytes(out)

    def write_png(self, path, half=False):
        width, height = (self.xres // 2, (self.yres + 1) // 2) if half else (self.xres, self.yres)
        _write_png(path, width, height, RGB, self.half_rows() if half else self.rows())


RGB, GREY = 2, 0  # PNG colour types: 3 bytes a pixel, or 1


def _write_png(path, width, height, colour_type, rows):
    raw = b"".join(b"\0" + row for row in rows)

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))

    png = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, colour_type, 0, 0, 0))
    png += chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b"")
    with open(path, "wb") as f:
        f.write(png)


def write_grey_png(path, width, height, rows):
    """rows: height rows of width bytes, 0 black to 255 white."""
    _write_png(path, width, height, GREY, rows)


def read_shot(disk, slot):
    with open(disk, "rb") as f:
        f.seek(slot * SLOT_BYTES)
        head = struct.unpack("<16I", f.read(64))
        if head[0] != MAGIC:
            return None
        xres, yres, line_length, bpp = head[1:5]
        pixels = f.read(line_length * yres)
    return Shot(xres, yres, line_length, bpp, head[5:9], pixels)
