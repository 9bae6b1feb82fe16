"""Bitmaps as PNG. The component's thumbnails are BMP files whatever their
extension, and its PNG export renders whole pages at a fixed resolution, not
at the thumbnail's zoom: the bitmaps are re-encoded here by Pillow, without
scaling."""

from __future__ import annotations

import io

from PIL import Image


def bmp_to_png(data: bytes) -> bytes:
    """A bitmap the component wrote, as PNG; ValueError when it is not one."""
    try:
        with Image.open(io.BytesIO(data), formats=["BMP"]) as image:
            out = io.BytesIO()
            image.save(out, "PNG")
            return out.getvalue()
    except (OSError, SyntaxError) as e:
        raise ValueError("not a bitmap") from e
