"""A multipart/form-data parser of the service's own.

It is fed the body as it arrives and hands each part to a handler: the
part's name and file name, then its bytes, then its end. It stops at the
closing boundary: whatever follows is never looked at, however long. It
logs nothing, finds boundaries with bytes.find (never byte by byte), and
bounds everything a caller controls: the preamble, each part's headers,
the number of parts.
"""

from __future__ import annotations

import re
from typing import Dict, Optional, Protocol, Tuple

from .problems import BadRequest

MAX_PREAMBLE = 64 * 1024
MAX_HEADERS = 16 * 1024
MAX_PARTS = 1000
MAX_BOUNDARY = 200

PARAM = re.compile(r';\s*([A-Za-z0-9!#$%&\'*+.^_`|~-]+)\s*=\s*(?:"((?:[^"\\]|\\.)*)"|([^;\s]*))')

_PREAMBLE, _DELIMITED, _HEADERS, _BODY, _DONE = range(5)


class PartHandler(Protocol):
    def begin(self, name: str, filename: Optional[str]) -> None: ...

    def data(self, chunk: bytes) -> None: ...

    def end(self) -> None: ...


def malformed(detail: str) -> BadRequest:
    return BadRequest(detail, "malformed-form")


def disposition(value: str) -> Tuple[str, Dict[str, str]]:
    """A Content-Disposition value as its type and parameters (names in lower case), in linear time."""
    kind, _, rest = value.partition(";")
    params: Dict[str, str] = {}
    for m in PARAM.finditer(";" + rest):
        quoted, bare = m.group(2), m.group(3)
        params.setdefault(m.group(1).lower(), re.sub(r"\\(.)", r"\1", quoted) if quoted is not None else bare)
    return kind.strip().lower(), params


def part_headers(block: bytes) -> Tuple[str, Optional[str]]:
    """The form name and file name (None for a plain field) of a part's header block."""
    found: Optional[str] = None
    for line in block.split(b"\r\n"):
        name, colon, value = line.partition(b":")
        if not colon:
            raise malformed("a part's header line has no colon")
        if name.strip().lower() == b"content-disposition":
            found = value.decode("utf-8", "replace").strip()
    if found is None:
        raise malformed("a part has no Content-Disposition header")
    kind, params = disposition(found)
    if kind != "form-data" or "name" not in params:
        raise malformed('a part\'s Content-Disposition is not form-data with a name')
    return params["name"], params.get("filename")


class MultipartParser:
    """Fed with feed(); `done` once the closing boundary has been read."""

    def __init__(self, boundary: str, handler: PartHandler) -> None:
        raw = boundary.encode("latin-1", "replace")
        if not 1 <= len(raw) <= MAX_BOUNDARY:
            raise malformed(f"the multipart boundary is 1 to {MAX_BOUNDARY} characters")
        self._delim = b"\r\n--" + raw
        # The first delimiter may open the body with no line break before it.
        self._buf = bytearray(b"\r\n")
        self._state = _PREAMBLE
        self._resume = _PREAMBLE
        self._skipped = 0
        self._handler = handler
        self._in_part = False
        self.parts = 0

    @property
    def done(self) -> bool:
        return self._state == _DONE

    def feed(self, data: bytes) -> None:
        if self._state == _DONE:
            return
        self._buf += data
        while self._step():
            pass

    def close(self) -> None:
        """The body has ended: it must have ended with the closing boundary."""
        if self._state != _DONE:
            raise malformed("the form ends before its closing boundary")

    def _step(self) -> bool:
        buf, delim = self._buf, self._delim
        if self._state in (_PREAMBLE, _BODY):
            i = buf.find(delim)
            if i < 0:
                # Keep what could be the start of a delimiter split across pieces.
                n = len(buf) - len(delim) + 1
                if n > 0:
                    self._emit(bytes(buf[:n]))
                    del buf[:n]
                return False
            self._emit(bytes(buf[:i]))
            del buf[:i]
            self._resume, self._state = self._state, _DELIMITED
            return True
        if self._state == _DELIMITED:
            # The delimiter is followed by "--" (the closing one) or by
            # optional spaces and a line break; else it is part of the data.
            after = len(delim)
            if len(buf) < after + 2:
                return False
            eol = buf.find(b"\r\n", after, after + 256)
            closing = buf[after:after + 2] == b"--"
            if not closing and eol < 0 and len(buf) < after + 256 and not buf[after:].strip(b" \t\r"):
                return False
            if not closing and (eol < 0 or buf[after:eol].strip(b" \t")):
                self._state = self._resume
                self._emit(bytes(buf[:after]))
                del buf[:after]
                return True
            if self._in_part:
                self._handler.end()
                self._in_part = False
            if closing:
                self._state = _DONE
                buf.clear()
                return False
            del buf[:eol + 2]
            self._state = _HEADERS
            return True
        if self._state == _HEADERS:
            end = buf.find(b"\r\n\r\n")
            if buf[:2] == b"\r\n":
                raise malformed("a part has no Content-Disposition header")
            if end < 0:
                if len(buf) > MAX_HEADERS:
                    raise malformed(f"a part's headers are longer than {MAX_HEADERS} bytes")
                return False
            if end > MAX_HEADERS:
                raise malformed(f"a part's headers are longer than {MAX_HEADERS} bytes")
            name, filename = part_headers(bytes(buf[:end]))
            del buf[:end + 4]
            self.parts += 1
            if self.parts > MAX_PARTS:
                raise malformed(f"the form has more than {MAX_PARTS} parts")
            self._handler.begin(name, filename)
            self._in_part = True
            self._state = _BODY
            return True
        return False

    def _emit(self, chunk: bytes) -> None:
        if not chunk:
            return
        if self._in_part:
            self._handler.data(chunk)
            return
        self._skipped += len(chunk)
        if self._skipped > MAX_PREAMBLE:
            raise malformed("no multipart boundary where the form begins")
