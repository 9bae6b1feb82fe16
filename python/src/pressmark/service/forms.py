"""Reading a route's form: uploads saved in the job's folder (or fetched
from an allowed address), the other fields as text.

The body is read here, not by the framework: each piece must arrive within
the body time-out, parsing and writing run on worker threads so the event
loop only moves bytes, and a multipart body is parsed up to its closing
boundary only (what follows is read and dropped unparsed). The form's
fingerprint (its fields, and each file's name and digest) binds an
idempotency key to the request that made it.
"""

from __future__ import annotations

import asyncio
import hashlib
import json
import os
import urllib.parse
from typing import BinaryIO, Dict, List, Optional, Tuple, Union

from fastapi import Request
from starlette.concurrency import run_in_threadpool

from . import conventions, fetch
from .config import Settings
from .formdata import MultipartParser, malformed
from .operations import Op
from .operations.base import stem
from .problems import BadRequest, BodyTimeout, ClientGone
from .store import Inputs

# Pieces of the body are handed to the parser's thread in batches of about this size.
BATCH = 256 * 1024
MAX_FIELD = 1024 * 1024
MAX_URLENCODED = 1024 * 1024


class _Saved:
    """A file part saved in the job's folder."""

    def __init__(self, field: str, filename: str, path: str) -> None:
        self.field = field
        self.filename = filename
        self.path = path
        self.digest = hashlib.sha256()
        self.file: Optional[BinaryIO] = open(path, "wb")


Item = Tuple[str, Union[str, _Saved]]


class _Collector:
    """The parser's handler: files go to disk as they come, fields to memory (each bounded)."""

    def __init__(self, op: Op, folder: str) -> None:
        self.names = {n: many for n, many in op.inputs}
        self.folder = folder
        self.items: List[Item] = []
        self._files = 0
        self._field: Optional[Tuple[str, bytearray]] = None
        self._saved: Optional[_Saved] = None

    def begin(self, name: str, filename: Optional[str]) -> None:
        if filename is None:
            self._field = (name, bytearray())
            return
        if name not in self.names:
            raise BadRequest(f'form field "{name}" takes no file; files go in '
                             f'{", ".join(self.names) or "no field"}', "unknown-field")
        self._files += 1
        safe = stem(filename) + os.path.splitext(filename)[1].lower()[:10]
        self._saved = _Saved(name, filename, os.path.join(self.folder, "in", f"{self._files}-{safe}"))

    def data(self, chunk: bytes) -> None:
        if self._saved is not None and self._saved.file is not None:
            self._saved.file.write(chunk)
            self._saved.digest.update(chunk)
        elif self._field is not None:
            if len(self._field[1]) + len(chunk) > MAX_FIELD:
                raise malformed(f'form field "{self._field[0]}" is longer than {MAX_FIELD} bytes')
            self._field[1].extend(chunk)

    def end(self) -> None:
        if self._saved is not None:
            saved, self._saved = self._saved, None
            assert saved.file is not None
            size = saved.file.tell()
            saved.file.close()
            saved.file = None
            if saved.filename == "" and size == 0:
                # A file input left empty, as an HTML form sends it: no file.
                os.remove(saved.path)
                return
            self.items.append((saved.field, saved))
        elif self._field is not None:
            name, value = self._field
            self._field = None
            self.items.append((name, value.decode("utf-8", "replace")))

    def close(self) -> None:
        if self._saved is not None and self._saved.file is not None:
            self._saved.file.close()


class Consumer:
    def feed(self, data: bytes, last: bool) -> bool:
        """Takes a batch; False when it wants no more."""
        raise NotImplementedError


async def _read(request: Request, settings: Settings, consume: Consumer) -> None:
    """Receives the body piece by piece, each within the body time-out, and hands batches to `consume` on a
    worker thread until it says it has had enough; the rest is received and dropped."""
    pending = bytearray()
    wanted = True
    while True:
        try:
            message = await asyncio.wait_for(request.receive(), settings.body_timeout)
        except asyncio.TimeoutError:
            raise BodyTimeout()
        if message["type"] == "http.disconnect":
            raise ClientGone()
        more = bool(message.get("more_body", False))
        if wanted:
            pending += message.get("body", b"")
            if len(pending) >= BATCH or not more:
                wanted = await run_in_threadpool(consume.feed, bytes(pending), not more)
                pending.clear()
        if not more:
            return


class _Multipart(Consumer):
    def __init__(self, boundary: str, collector: _Collector) -> None:
        self.parser = MultipartParser(boundary, collector)

    def feed(self, data: bytes, last: bool) -> bool:
        self.parser.feed(data)
        if last:
            self.parser.close()
        return not self.parser.done


class _Urlencoded(Consumer):
    def __init__(self, collector: _Collector) -> None:
        self.collector = collector
        self.body = bytearray()

    def feed(self, data: bytes, last: bool) -> bool:
        self.body += data
        if len(self.body) > MAX_URLENCODED:
            raise malformed(f"a urlencoded form is longer than {MAX_URLENCODED} bytes; send files as multipart")
        if last:
            try:
                pairs = urllib.parse.parse_qsl(self.body.decode("latin-1"), keep_blank_values=True,
                                               max_num_fields=1000, encoding="utf-8", errors="replace")
            except ValueError as e:
                raise malformed(f"the form cannot be read: {e}")
            self.collector.items.extend(pairs)
        return True


def boundary_of(content_type: str) -> str:
    for param in content_type.split(";")[1:]:
        name, _, value = param.strip().partition("=")
        if name.strip().lower() == "boundary":
            return value.strip().strip('"')
    raise malformed("a multipart form needs a boundary in its Content-Type")


def fingerprint(route: str, webhook: Optional[str], items: List[Item]) -> str:
    """What makes two requests the same request: the route, the webhook address, the fields and each file's
    field, name and digest, in order."""
    shown = [[k, v] if isinstance(v, str) else [k, v.filename, v.digest.hexdigest()] for k, v in items]
    return hashlib.sha256(json.dumps([route, webhook or "", shown]).encode()).hexdigest()


async def read_form(settings: Settings, request: Request, op: Op, folder: str,
                    webhook: Optional[str] = None) -> Tuple[Inputs, Dict[str, str], str]:
    """The request's uploads saved in the job's folder, its other fields, and its fingerprint."""
    os.makedirs(os.path.join(folder, "in"), mode=0o700)
    ctype = request.headers.get("content-type", "")
    collector = _Collector(op, folder)
    consumer: Consumer
    if ctype.split(";")[0].strip().lower() == "multipart/form-data":
        consumer = _Multipart(boundary_of(ctype), collector)
    else:
        consumer = _Urlencoded(collector)
    try:
        await _read(request, settings, consumer)
    finally:
        collector.close()
    names = collector.names
    inputs: Inputs = {}
    fields: Dict[str, str] = {}
    count = 0
    for key, value in collector.items:
        if not isinstance(value, str):
            if inputs.get(key) and not names[key]:
                raise BadRequest(f'form field "{key}" takes one file', "invalid-argument")
            inputs.setdefault(key, []).append([value.path, value.filename or os.path.basename(value.path)])
            count += 1
        elif (key in names or key.endswith("Url") and key[:-3] in names) and value == "":
            # A file or address field left empty (as an interactive page sends it) gives no file.
            continue
        elif key.endswith("Url") and key[:-3] in names:
            # An input fetched from an allowed address instead of uploaded.
            count += 1
            target = os.path.join(folder, "in", f"f{count}-fetched")
            name = os.path.basename(value.split("?")[0]) or "document"
            await run_in_threadpool(fetch.download, value, target, settings, settings.max_body)
            inputs.setdefault(key[:-3], []).append([target, name])
        elif key == "downloadFrom" and value.strip() and names:
            # Inputs the service downloads itself, within the limit an upload has (all of them together).
            for url, headers, field in conventions.download_list(value):
                into = {"": next(iter(names)), "embedded": "embeds"}.get(field, field)
                if into not in names:
                    raise BadRequest(f'downloadFrom: this route takes no "{field}" file', "unsupported-field")
                if inputs.get(into) and not names[into]:
                    raise BadRequest(f'form field "{into}" takes one file', "invalid-argument")
                count += 1
                target = os.path.join(folder, "in", f"f{count}-fetched")
                left = settings.max_body - sum(os.path.getsize(p) for v in inputs.values() for p, _ in v)
                try:
                    told = await run_in_threadpool(fetch.download, url, target, settings, left, headers)
                except BadRequest as e:
                    raise (conventions.Forbidden(e.detail, e.type) if e.type == "url-not-allowed" else e)
                told = told or os.path.basename(url.split("?")[0])
                inputs.setdefault(into, []).append([target, stem(told) + os.path.splitext(told)[1].lower()[:10]])
        elif key in fields:
            raise BadRequest(f'form field "{key}" is given twice', "invalid-argument")
        else:
            fields[key] = value
    return inputs, fields, fingerprint(op.name, webhook, collector.items)
