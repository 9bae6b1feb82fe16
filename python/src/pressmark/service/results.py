"""An operation's output as the one file a job answers with."""

from __future__ import annotations

import contextlib
import json
import os
import zipfile

from .operations import Output
from .store import OutputRecord, write_atomic

MEDIA = {".pdf": "application/pdf", ".ps": "application/postscript", ".png": "image/png", ".jpg": "image/jpeg",
         ".jpeg": "image/jpeg", ".bmp": "image/bmp", ".zip": "application/zip", ".json": "application/json",
         ".txt": "text/plain; charset=utf-8",
         ".webp": "image/webp"}


def package(folder: str, out: Output) -> OutputRecord:
    """The operation's output as one result file in the job's folder: its path, media type and download name."""
    if out.json is not None:
        path = os.path.join(folder, "result.json")
        write_atomic(path, json.dumps(out.json).encode())
    elif out.text is not None:
        path = os.path.join(folder, "result.txt")
        write_atomic(path, out.text.encode())
    elif len(out.files) == 1:
        path = out.files[0]
    else:
        path = os.path.join(folder, "result.zip")
        tmp = path + ".part"
        try:
            with zipfile.ZipFile(tmp, "w", zipfile.ZIP_DEFLATED) as z:
                for f in out.files:
                    z.write(f, os.path.basename(f))
            os.replace(tmp, path)
        except BaseException:
            # A full disk leaves no part-written file behind.
            with contextlib.suppress(OSError):
                os.remove(tmp)
            raise
    ext = os.path.splitext(path)[1].lower()
    return {"path": os.path.relpath(path, folder), "media": MEDIA.get(ext, "application/octet-stream"),
            "name": os.path.basename(path)}
