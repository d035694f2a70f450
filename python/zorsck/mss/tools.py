"""PNG writing, as the mss-compatible interface offers it."""
import struct
import zlib


def to_png(data, size, level=6, output=None):
    """Encodes RGB `data` of `size` (width, height) as a PNG: writes it to `output`,
    or returns its bytes when `output` is None."""
    width, height = size
    line = width * 3
    rows = b"".join(b"\0" + bytes(data[y * line:(y + 1) * line]) for y in range(height))

    def chunk(kind, body):
        return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))

    png = b"".join([b"\x89PNG\r\n\x1a\n",
                    chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)),
                    chunk(b"IDAT", zlib.compress(rows, level)), chunk(b"IEND", b"")])
    if output is None:
        return png
    with open(output, "wb") as f:
        f.write(png)
    return None
