"""Addresses the service reaches out to: inputs fetched by URL and webhooks.

Only http and https, only hosts the allow-list names, and never a private,
loopback or link-local address unless the settings allow it: a caller must
not be able to make the service reach into the network it sits in. Every
address a name resolves to is checked, and redirects are not followed.
"""

import ipaddress
import socket
import urllib.parse
import urllib.request

from .problems import BadRequest


def _allowed_ip(ip, settings):
    addr = ipaddress.ip_address(ip)
    if settings.allow_private:
        return True
    return addr.is_global and not addr.is_multicast


def check_url(url, settings):
    """The address (host, port, resolved IP) a URL may be reached at, or BadRequest."""
    parts = urllib.parse.urlsplit(url)
    if parts.scheme not in ("http", "https") or not parts.hostname:
        raise BadRequest(f"only http and https addresses are allowed: {url[:200]}", "url-not-allowed")
    allow = {h.strip().lower() for h in settings.fetch_allow.split(",") if h.strip()}
    if "*" not in allow and parts.hostname.lower() not in allow:
        raise BadRequest(f'host "{parts.hostname}" is not in the allow-list (fetch_allow)', "url-not-allowed")
    port = parts.port or (443 if parts.scheme == "https" else 80)
    try:
        infos = socket.getaddrinfo(parts.hostname, port, proto=socket.IPPROTO_TCP)
    except OSError:
        raise BadRequest(f'host "{parts.hostname}" cannot be resolved', "url-not-allowed")
    for info in infos:
        if not _allowed_ip(info[4][0], settings):
            raise BadRequest(f'host "{parts.hostname}" resolves to a private or loopback address',
                             "url-not-allowed")
    return parts.hostname, port, infos[0][4][0]


class _NoRedirect(urllib.request.HTTPRedirectHandler):
    def redirect_request(self, *args, **kwargs):
        return None


def opener(settings):
    """An opener that follows no redirects (a redirect could lead past the checks)."""
    return urllib.request.build_opener(_NoRedirect)


def download(url, target, settings, limit):
    check_url(url, settings)
    with opener(settings).open(urllib.request.Request(url), timeout=30) as r:
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
