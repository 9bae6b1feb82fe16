"""The HTTP server in front of the application: uvicorn's HTTP/1.1 protocol
with the limits a slow or greedy client meets before any request reaches
the application. A connection has header_timeout seconds to send each
request's headers (also between requests on a kept-alive connection), the
headers of a request are at most 16 KiB, one client address holds at most
client_connections connections, and the server at most max_connections
(beyond that uvicorn answers 503). The body's own time-out is the form
reader's."""

from __future__ import annotations

import asyncio
from typing import Any, Callable, Dict, Optional

import h11
import uvicorn
from uvicorn.protocols.http.h11_impl import H11Protocol

from .config import Settings
from .lifecycle import Lifecycle, Server

MAX_HEADER_BYTES = 16 * 1024


class GuardedH11(H11Protocol):  # type: ignore[misc]
    """One connection, with a header time-out and a share of connections per client address."""

    # Open connections by client address; protocols run on the server's one event loop.
    open_by_client: Dict[str, int] = {}
    header_timeout = 10.0
    client_connections = 32

    def __init__(self, *args: Any, **kwargs: Any) -> None:
        super().__init__(*args, **kwargs)
        self.conn = h11.Connection(h11.SERVER, max_incomplete_event_size=MAX_HEADER_BYTES)
        self._peer: Optional[str] = None
        self._header_timer: Optional[asyncio.TimerHandle] = None

    def connection_made(self, transport: Any) -> None:
        super().connection_made(transport)
        peer = transport.get_extra_info("peername")
        self._peer = str(peer[0]) if peer else "?"
        count = self.open_by_client.get(self._peer, 0) + 1
        self.open_by_client[self._peer] = count
        if count > self.client_connections:
            self.logger.warning("%s holds %d connections already: closing another", self._peer, count - 1)
            transport.close()
            return
        self._await_headers()

    def connection_lost(self, exc: Optional[Exception]) -> None:
        self._stop_header_timer()
        if self._peer is not None:
            left = self.open_by_client.get(self._peer, 1) - 1
            if left > 0:
                self.open_by_client[self._peer] = left
            else:
                self.open_by_client.pop(self._peer, None)
            self._peer = None
        super().connection_lost(exc)

    def handle_events(self) -> None:
        super().handle_events()
        if self.conn.their_state is not h11.IDLE:
            self._stop_header_timer()   # the request's headers are in

    def on_response_complete(self) -> None:
        super().on_response_complete()
        if not self.transport.is_closing():
            self._await_headers()       # the next request's headers have the same time

    def _await_headers(self) -> None:
        self._stop_header_timer()
        self._header_timer = self.loop.call_later(self.header_timeout, self._headers_late)

    def _stop_header_timer(self) -> None:
        if self._header_timer is not None:
            self._header_timer.cancel()
            self._header_timer = None

    def _headers_late(self) -> None:
        self._header_timer = None
        if self.conn.their_state is h11.IDLE and not self.transport.is_closing():
            self.transport.close()


def run(app: Any, settings: Settings, lifecycle: Lifecycle, reload_keys: Callable[[], None]) -> None:
    limits = {"open_by_client": {}, "header_timeout": settings.header_timeout,
              "client_connections": settings.client_connections}
    protocol = type("ServiceH11", (GuardedH11,), limits)
    server_config = uvicorn.Config(app, host=settings.host, port=settings.port, log_level=settings.log_level,
                                   access_log=False, server_header=False, log_config=None, http=protocol,
                                   limit_concurrency=settings.max_connections,
                                   timeout_keep_alive=int(max(1, min(settings.header_timeout, 5))))
    Server(server_config, lifecycle, reload_keys).run()
