"""Addresses the service reaches out to: inputs fetched by URL and webhooks.

Only http and https, only hosts the allow-list names, and never a loopback,
private, link-local, multicast, reserved or unspecified address unless the
settings allow it: a caller must not be able to make the service reach into
the network it sits in. A name is resolved once, every address it resolves
to is checked (whatever its spelling: the resolver reads `2130706433`,
`0x7f.1` and `127.1` as 127.0.0.1, and an IPv6 address may carry an IPv4
one), and the connection goes to the address that was checked, with the
name kept for the Host header and TLS; a second resolution could answer
otherwise. Each redirect is checked the same way.
"""

from __future__ import annotations

import dataclasses
import http.client
import ipaddress
import os
import re
import socket
import ssl
import urllib.parse
from typing import Dict, List, Optional, Union

from .config import Settings
from .formdata import disposition
from .problems import BadRequest

Address = Union[ipaddress.IPv4Address, ipaddress.IPv6Address]

# IPv6 ranges that carry an IPv4 address in their last 32 bits: NAT64
# (well-known and local-use prefixes) and the old IPv4-compatible form.
_EMBEDDING = [ipaddress.ip_network("64:ff9b::/96"), ipaddress.ip_network("64:ff9b:1::/48"),
              ipaddress.ip_network("::/96")]
MAX_REDIRECTS = 5
# Headers a caller may not have the service send: they frame the message or name the host.
FRAMING = {"host", "content-length", "transfer-encoding", "connection", "upgrade", "te", "trailer"}
HEADER_NAME = re.compile(r"[A-Za-z0-9!#$%&'*+.^_`|~-]{1,100}")


def sendable_header(name: object, value: object) -> bool:
    """Whether a caller's header may go out on a request the service makes: a token for its name, no framing or
    host header, and a value of printable text without line breaks."""
    return (isinstance(name, str) and isinstance(value, str) and bool(HEADER_NAME.fullmatch(name))
            and name.lower() not in FRAMING and len(value) <= 8192
            and not any(ord(c) < 32 or ord(c) == 127 for c in value))


def embedded_ipv4(addr: ipaddress.IPv6Address) -> Optional[ipaddress.IPv4Address]:
    """The IPv4 address an IPv6 address stands for, if it stands for one."""
    if addr.ipv4_mapped is not None:
        return addr.ipv4_mapped
    if addr.sixtofour is not None:
        return addr.sixtofour
    if addr.teredo is not None:
        return addr.teredo[1]
    if any(addr in net for net in _EMBEDDING) and int(addr) > 0xFFFF:
        return ipaddress.IPv4Address(int(addr) & 0xFFFFFFFF)
    return None


def public(addr: Address) -> bool:
    """True for an address of the public internet, and for no other."""
    if isinstance(addr, ipaddress.IPv6Address):
        inner = embedded_ipv4(addr)
        if inner is not None and not public(inner):
            return False
        if addr.scope_id:
            return False
    return addr.is_global and not (addr.is_multicast or addr.is_loopback or addr.is_link_local or addr.is_private
                                   or addr.is_reserved or addr.is_unspecified)


@dataclasses.dataclass
class Target:
    """A URL that passed the checks, and the address to connect to."""
    url: str
    scheme: str
    host: str
    port: int
    address: str
    path: str


def _host(parts: urllib.parse.SplitResult) -> str:
    host = (parts.hostname or "").rstrip(".").lower()
    if not host:
        raise BadRequest(f"the address names no host: {parts.geturl()[:200]}", "url-not-allowed")
    return host


def _allow_list(settings: Settings) -> List[str]:
    return [h.strip().rstrip(".").lower() for h in settings.fetch_allow.split(",") if h.strip()]


def check_url(url: str, settings: Settings) -> Target:
    """The address a URL may be reached at, or BadRequest."""
    try:
        parts = urllib.parse.urlsplit(url)
        port = parts.port
    except ValueError:
        raise BadRequest(f"not an address: {url[:200]}", "url-not-allowed")
    if parts.scheme not in ("http", "https") or not parts.hostname:
        raise BadRequest(f"only http and https addresses are allowed: {url[:200]}", "url-not-allowed")
    host = _host(parts)
    allow = _allow_list(settings)
    if "*" not in allow and host not in allow:
        raise BadRequest(f'host "{host}" is not in the allow-list (fetch_allow)', "url-not-allowed")
    port = port or (443 if parts.scheme == "https" else 80)
    try:
        infos = socket.getaddrinfo(host, port, type=socket.SOCK_STREAM, proto=socket.IPPROTO_TCP)
    except (OSError, UnicodeError):
        raise BadRequest(f'host "{host}" cannot be resolved', "url-not-allowed")
    addresses = [str(info[4][0]) for info in infos]
    if not addresses:
        raise BadRequest(f'host "{host}" cannot be resolved', "url-not-allowed")
    if not settings.allow_private:
        for a in addresses:
            if not public(ipaddress.ip_address(a.split("%")[0])):
                raise BadRequest(f'host "{host}" resolves to a loopback, private or reserved address',
                                 "url-not-allowed")
    path = parts.path or "/"
    if parts.query:
        path += "?" + parts.query
    return Target(url, parts.scheme, host, port, addresses[0], path)


class _PinnedHTTP(http.client.HTTPConnection):
    """Connects to the checked address; the Host header keeps the name."""

    def __init__(self, target: Target, timeout: float) -> None:
        super().__init__(target.host, target.port, timeout=timeout)
        self._address = target.address

    def connect(self) -> None:
        self.sock = socket.create_connection((self._address, self.port), self.timeout)


class _PinnedHTTPS(http.client.HTTPSConnection):
    """Connects to the checked address; the Host header, SNI and the certificate check keep the name."""

    def __init__(self, target: Target, timeout: float) -> None:
        self._tls = ssl.create_default_context()
        super().__init__(target.host, target.port, timeout=timeout, context=self._tls)
        self._address = target.address

    def connect(self) -> None:
        sock = socket.create_connection((self._address, self.port), self.timeout)
        self.sock = self._tls.wrap_socket(sock, server_hostname=self.host)


class Response:
    """An answer whose connection closes with it."""

    def __init__(self, conn: http.client.HTTPConnection, answer: http.client.HTTPResponse) -> None:
        self._conn = conn
        self.answer = answer
        self.status = answer.status

    def read(self, n: int) -> bytes:
        return self.answer.read(n)

    def close(self) -> None:
        self._conn.close()

    def __enter__(self) -> "Response":
        return self

    def __exit__(self, *exc: object) -> None:
        self.close()


def request(method: str, url: str, settings: Settings, body: Optional[bytes] = None,
            headers: Optional[Dict[str, str]] = None, timeout: float = 30, follow: bool = False) -> Response:
    """One request to a checked, pinned address; with `follow`, redirects are followed, each checked."""
    for _ in range(MAX_REDIRECTS + 1):
        target = check_url(url, settings)
        conn: http.client.HTTPConnection = (_PinnedHTTPS if target.scheme == "https" else _PinnedHTTP)(target, timeout)
        try:
            conn.request(method, target.path, body=body, headers=dict(headers or {}))
            answer = conn.getresponse()
        except BaseException:
            conn.close()
            raise
        location = answer.getheader("location")
        if follow and answer.status in (301, 302, 303, 307, 308) and location:
            conn.close()
            url = urllib.parse.urljoin(url, location)
            continue
        return Response(conn, answer)
    raise BadRequest(f"more than {MAX_REDIRECTS} redirects from {url[:200]}", "fetch-failed")


def download(url: str, target: str, settings: Settings, limit: int, headers: Optional[Dict[str, str]] = None) -> str:
    """The document at url into target, at most `limit` bytes; answers the file name its Content-Disposition
    gives ("" without one)."""
    try:
        r = request("GET", url, settings, headers=headers, timeout=30, follow=True)
    except (OSError, http.client.HTTPException) as e:
        raise BadRequest(f"fetching {url[:200]} failed: {e}", "fetch-failed")
    with r:
        if r.status != 200:
            raise BadRequest(f"fetching {url[:200]} answered {r.status}", "fetch-failed")
        got = 0
        with open(target, "wb") as f:
            while True:
                chunk = r.read(65536)
                if not chunk:
                    break
                got += len(chunk)
                if got > limit:
                    raise BadRequest(f"the document at {url[:200]} is larger than {limit} bytes", "too-large")
                f.write(chunk)
        given = r.answer.getheader("content-disposition") or ""
    _, params = disposition(given)
    return os.path.basename(params.get("filename", "").replace("\\", "/"))
