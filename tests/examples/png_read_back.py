#!/usr/bin/env python3
"""Runs the example on the simulated display and reads its PNGs back with
Python's own zlib: chunk CRCs, the zlib stream's checksum, row filters and
every pixel against the simulated display's pattern. One rectangle fits one
stored block; one spans three; one is the last pixel of the display.

usage: png_read_back.py ZORSCK_CROP_SIM WORK_DIR
"""
import os
import struct
import subprocess
import sys
import zlib


def sim_rgb(x, y):
    """The simulated display's pixel (B = X, G = Y, R = X/256 + 16 * (Y/256)) as R, G, B."""
    return bytes(((x >> 8) % 16 + 16 * ((y >> 8) % 16), y % 256, x % 256))


def read_png(path):
    """(width, height, rows of RGB bytes) of an 8-bit RGB PNG; raises on any broken rule."""
    data = open(path, "rb").read()
    assert data[:8] == b"\x89PNG\r\n\x1a\n", "signature"
    at, chunks = 8, []
    while at < len(data):
        length, kind = struct.unpack(">I4s", data[at:at + 8])
        body = data[at + 8:at + 8 + length]
        (crc,) = struct.unpack(">I", data[at + 8 + length:at + 12 + length])
        assert crc == zlib.crc32(kind + body), f"CRC of {kind}"
        chunks.append((kind, body))
        at += 12 + length
    assert [k for k, _ in chunks] == [b"IHDR", b"IDAT", b"IEND"], chunks
    w, h, depth, color, compression, filtering, interlace = struct.unpack(">IIBBBBB", chunks[0][1])
    assert (depth, color, compression, filtering, interlace) == (8, 2, 0, 0, 0)
    raw = zlib.decompress(chunks[1][1])  # checks the zlib header and the Adler-32
    stride = 1 + 3 * w
    assert len(raw) == h * stride, (len(raw), h, stride)
    assert all(raw[r * stride] == 0 for r in range(h)), "row filters"
    return w, h, [raw[r * stride + 1:(r + 1) * stride] for r in range(h)]


def main():
    example, work = sys.argv[1], sys.argv[2]
    failures = []
    for x, y, w, h in [(300, 500, 7, 3), (1000, 20, 600, 120), (1919, 1079, 1, 1)]:
        out = os.path.join(work, f"read_back_{w}x{h}.png")
        run = subprocess.run([example, str(x), str(y), str(w), str(h), out],
                             capture_output=True, text=True, timeout=30)
        if run.returncode != 0:
            failures.append(f"{w}x{h}: exit {run.returncode}: {run.stderr.strip()}")
            continue
        got_w, got_h, rows = read_png(out)
        want = [b"".join(sim_rgb(x + i, y + j) for i in range(w)) for j in range(h)]
        if (got_w, got_h) != (w, h) or rows != want:
            failures.append(f"{w}x{h} at {x},{y}: pixels differ from the display's")
    print("\n".join(failures) or "every PNG reads back as the display shows")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
