"""Reading a route's form: uploads saved in the job's folder (or fetched
from an allowed address), the other fields as text."""

from __future__ import annotations

import os
import shutil
from typing import BinaryIO, Dict, Tuple

from fastapi import Request
from starlette.concurrency import run_in_threadpool
from starlette.datastructures import UploadFile

from . import fetch
from .config import Settings
from .operations import Op
from .operations.base import stem
from .problems import BadRequest
from .store import Inputs


def _save(src: BinaryIO, target: str) -> None:
    with open(target, "wb") as out:
        shutil.copyfileobj(src, out, 1 << 20)


async def read_form(settings: Settings, request: Request, op: Op, folder: str) -> Tuple[Inputs, Dict[str, str]]:
    """The request's uploads saved in the job's folder, and its other fields."""
    os.makedirs(os.path.join(folder, "in"), mode=0o700)
    form = await request.form()
    try:
        names = {n: many for n, many in op.inputs}
        inputs: Inputs = {}
        fields: Dict[str, str] = {}
        count = 0
        for key, value in form.multi_items():
            if isinstance(value, UploadFile):
                if key not in names:
                    raise BadRequest(f'form field "{key}" takes no file; files go in '
                                     f'{", ".join(names) or "no field"}', "unknown-field")
                if inputs.get(key) and not names[key]:
                    raise BadRequest(f'form field "{key}" takes one file', "invalid-argument")
                count += 1
                safe = stem(value.filename) + os.path.splitext(value.filename or "")[1].lower()[:10]
                target = os.path.join(folder, "in", f"{count}-{safe}")
                await run_in_threadpool(_save, value.file, target)
                inputs.setdefault(key, []).append([target, value.filename or safe])
            elif key in names and str(value) == "":
                # A file field left empty (as an interactive page or an HTML
                # form sends it) gives no file.
                continue
            elif key.endswith("Url") and key[:-3] in names:
                # An input fetched from an allowed address instead of uploaded.
                count += 1
                target = os.path.join(folder, "in", f"{count}-fetched")
                url = str(value)
                name = os.path.basename(url.split("?")[0]) or "document"
                await run_in_threadpool(fetch.download, url, target, settings, settings.max_body)
                inputs.setdefault(key[:-3], []).append([target, name])
            elif key in fields:
                raise BadRequest(f'form field "{key}" is given twice', "invalid-argument")
            else:
                fields[key] = str(value)
        return inputs, fields
    finally:
        await form.close()
