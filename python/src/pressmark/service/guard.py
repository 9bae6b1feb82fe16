"""The checks every request passes before any route runs: its request id,
its API key, the size of its body and the shape of its Content-Type.

Debian 12's multipart parser takes exponential time on crafted option lists
in a Content-Type header, and the form reader parses the header of any
request it reads. So the header is checked here, by a plain linear scan,
and anything but a simple `type/subtype; name=value; ...` is refused before
a route can read the form.
"""

from __future__ import annotations

import base64
import binascii
import hashlib
import hmac
import logging
import re
import time
import uuid
from typing import Any, Awaitable, Callable, Dict, List, MutableMapping, Optional, Sequence, Tuple

from starlette.routing import BaseRoute, Match

from .config import Settings
from .metrics import Metrics
from .problems import BodyTooLarge, problem_body
from .routers.page import PUBLIC

Scope = MutableMapping[str, Any]
Message = MutableMapping[str, Any]
Receive = Callable[[], Awaitable[Message]]
Send = Callable[[Message], Awaitable[None]]
ASGIApp = Callable[[Scope, Receive, Send], Awaitable[None]]

log = logging.getLogger("pressmark.service")

TOKEN = re.compile(r"[A-Za-z0-9!#$%&'*+.^_`|~-]{1,127}")
JOB_ID = re.compile(r"[0-9a-f]{32}")
REQUEST_ID = re.compile(r"[A-Za-z0-9._:-]{1,128}")
OPEN_PATHS = ("/health", "/ready", "/version", *PUBLIC)


def owner_of(key: bytes) -> str:
    """Who made a job, as the store keeps it: a digest of the caller's key, never the key."""
    return hashlib.sha256(b"pressmark-owner\0" + key).hexdigest()[:32]


def printable(text: str) -> str:
    """Text from a request as part of one log line: anything but printable characters is escaped, so a
    caller cannot start a line of its own."""
    return "".join(c if c.isprintable() and c != "\\" else c.encode("unicode_escape").decode()
                   for c in text[:2000])


def content_type_ok(value: str) -> bool:
    """True when a Content-Type is a media type with simple parameters, scanned in linear time."""
    if len(value) > 1024 or "\\" in value or any(ord(c) < 32 and c != "\t" for c in value):
        return False
    parts = value.split(";")
    media = parts[0].strip()
    kind, slash, sub = media.partition("/")
    if not slash or not TOKEN.fullmatch(kind) or not TOKEN.fullmatch(sub):
        return False
    names = set()
    for p in parts[1:]:
        name, eq, val = p.strip().partition("=")
        if not eq or not TOKEN.fullmatch(name) or name.lower() in names:
            return False
        names.add(name.lower())
        if val.startswith('"'):
            if len(val) < 2 or not val.endswith('"') or '"' in val[1:-1] or len(val) > 202:
                return False
        elif not TOKEN.fullmatch(val):
            return False
    if media.lower() == "multipart/form-data" and "boundary" not in names:
        return False
    return True


class Guard:
    """ASGI middleware in front of the application."""

    def __init__(self, app: ASGIApp, settings: Settings, metrics: Metrics,
                 routes: Sequence[BaseRoute] = ()) -> None:
        self.app = app
        self.routes = list(routes)
        self.settings = settings
        self.metrics = metrics
        self.keys = [k.encode() for k in settings.api_keys()]

    def reload_keys(self) -> None:
        """The API keys read again from their file (on SIGHUP); an unreadable file raises and changes nothing."""
        self.keys = [k.encode() for k in self.settings.api_keys()]

    async def _answer(self, send: Send, status: int, type_: str, title: str, detail: str, rid: str,
                      headers: Sequence[Tuple[bytes, bytes]] = (), path: str = "") -> None:
        body = problem_body(status, type_, title, detail, rid)
        await send({"type": "http.response.start", "status": status, "headers": [
            (b"content-type", b"application/problem+json"), (b"content-length", str(len(body)).encode()),
            (b"x-request-id", rid.encode()), (b"gotenberg-trace", rid.encode()), *headers]})
        await send({"type": "http.response.body", "body": body})
        self._count(path, status)

    def _count(self, route: str, status: int) -> None:
        self.metrics.requests.labels(route, str(status)).inc()

    def route_of(self, scope: Scope) -> str:
        """The template of the route a request goes to: the metrics carry these only, so requests to
        made-up paths cannot grow them."""
        for r in self.routes:
            match, _ = r.matches(scope)
            if match == Match.FULL:
                return str(getattr(r, "path", "unmatched"))
        return "unmatched"

    def _key(self, headers: Dict[bytes, bytes]) -> Optional[bytes]:
        """The valid API key the request carries, if any: as a bearer token, or as the password of Basic
        credentials (any user name), the way the convention's clients send it."""
        auth = headers.get(b"authorization", b"")
        scheme, _, given = auth.partition(b" ")
        if scheme.lower() == b"basic":
            try:
                given = base64.b64decode(given.strip(), validate=True).partition(b":")[2]
            except (binascii.Error, ValueError):
                return None
        elif scheme.lower() != b"bearer":
            return None
        given = given.strip()
        found = None
        for k in self.keys:
            if hmac.compare_digest(given, k):
                found = k
        return found

    async def __call__(self, scope: Scope, receive: Receive, send: Send) -> None:
        if scope["type"] != "http":
            return await self.app(scope, receive, send)
        started = time.monotonic()
        headers: Dict[bytes, bytes] = {}
        for k, v in scope["headers"]:
            headers.setdefault(k.lower(), v)
        # The caller's request id, or the trace of the convention's clients; made up when neither is usable.
        ids = [headers.get(h, b"").decode("latin-1") for h in (b"x-request-id", b"gotenberg-trace")]
        rid = next((i for i in ids if REQUEST_ID.fullmatch(i)), "") or uuid.uuid4().hex
        scope["pressmark.request_id"] = rid
        path = route = self.route_of(scope)
        key = self._key(headers)
        scope["pressmark.owner"] = owner_of(key) if key is not None else ""
        scope["pressmark.keyed"] = key is not None
        if self.keys and key is None and scope["path"] not in OPEN_PATHS:
            return await self._answer(send, 401, "unauthorised", "Unauthorised",
                                      "send a valid API key as Authorization: Bearer KEY (or as the password of "
                                      "Basic credentials)", rid,
                                      [(b"www-authenticate", b"Bearer"),
                                       (b"www-authenticate", b'Basic realm="pressmark"')], route)
        ctype = headers.get(b"content-type")
        if ctype is not None and not content_type_ok(ctype.decode("latin-1")):
            return await self._answer(send, 415, "bad-content-type", "Unsupported Content-Type",
                                      "the Content-Type header is not a plain media type with simple parameters",
                                      rid, path=path)
        length = headers.get(b"content-length")
        limit = self.settings.max_body
        try:
            too_large = length is not None and int(length) > limit
        except ValueError:
            return await self._answer(send, 400, "bad-request", "Bad request", "Content-Length is not a number",
                                      rid, path=path)
        if too_large:
            return await self._answer(send, 413, "too-large", "Request body too large",
                                      f"the body is larger than {limit} bytes", rid, path=path)
        seen = 0

        async def counted() -> Message:
            nonlocal seen
            message = await receive()
            if message["type"] == "http.request":
                seen += len(message.get("body", b""))
                if seen > limit:
                    raise BodyTooLarge()
            return message

        status: List[int] = [0]

        async def tagged(message: Message) -> None:
            if message["type"] == "http.response.start":
                status[0] = message["status"]
                message["headers"] = [*message.get("headers", []), (b"x-request-id", rid.encode()),
                                      (b"gotenberg-trace", rid.encode())]
            await send(message)

        try:
            await self.app(scope, counted, tagged)
        except BodyTooLarge:
            if status[0]:
                raise
            status[0] = 413
            await self._answer(send, 413, "too-large", "Request body too large",
                               f"the body is larger than {limit} bytes", rid, path=path)
            status[0] = 0
        finally:
            if status[0]:
                self._count(path, status[0])
            log.info("%s %s %s %.1f ms [request %s]", printable(scope["method"]), printable(scope["path"]),
                     status[0] or "-",
                     (time.monotonic() - started) * 1000, rid)
