"""Bitmaps as PNG. The component's thumbnails are BMP files whatever their
extension, and its PNG export renders whole pages at a fixed resolution, not
at the thumbnail's zoom: the bitmaps are re-encoded here, without scaling."""

from __future__ import annotations

import struct
import zlib


def _chunk(kind: bytes, body: bytes) -> bytes:
    return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))


def bmp_to_png(data: bytes) -> bytes:
    """An uncompressed 24- or 32-bit bitmap as PNG."""
    if data[:2] != b"BM" or len(data) < 54:
        raise ValueError("not a bitmap")
    offset, = struct.unpack_from("<I", data, 10)
    width, height, _, bits, compression = struct.unpack_from("<iiHHI", data, 18)
    if bits not in (24, 32) or compression not in (0, 3) or width <= 0 or height == 0:
        raise ValueError("an unsupported bitmap")
    step = bits // 8
    stride = (width * step + 3) & ~3
    rows = []
    for y in range(abs(height)):
        src = y if height < 0 else abs(height) - 1 - y
        line = data[offset + src * stride: offset + src * stride + width * step]
        if len(line) < width * step:
            raise ValueError("a truncated bitmap")
        rgb = bytearray(width * 3)
        rgb[0::3], rgb[1::3], rgb[2::3] = line[2::step], line[1::step], line[0::step]
        rows.append(b"\0" + bytes(rgb))
    return (b"\x89PNG\r\n\x1a\n" + _chunk(b"IHDR", struct.pack(">IIBBBBB", width, abs(height), 8, 2, 0, 0, 0))
            + _chunk(b"IDAT", zlib.compress(b"".join(rows), 6)) + _chunk(b"IEND", b""))
