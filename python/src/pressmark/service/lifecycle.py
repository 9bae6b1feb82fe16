"""The service's life as a process: starting, ready, draining.

SIGTERM starts draining: the listener closes (uvicorn), new work is refused
with a retryable 503, a caller waiting on its job is answered by the end of
the grace period (the job's result if it finished, else 202 with its
Location: the job stays queued in the store and runs after the restart), and
the process then exits 0. SIGHUP re-reads the API keys file.
"""

from __future__ import annotations

import asyncio
import logging
import signal
import threading
import time
from typing import Any, Callable, Optional

import uvicorn

log = logging.getLogger("pressmark.service")

STARTING, READY, DRAINING = "starting", "ready", "draining"


class Lifecycle:
    def __init__(self, grace: float) -> None:
        self.grace = grace
        self.state = STARTING
        self._deadline: Optional[float] = None
        self._lock = threading.Lock()

    def ready(self) -> None:
        with self._lock:
            if self.state == STARTING:
                self.state = READY

    def drain(self) -> None:
        with self._lock:
            if self.state != DRAINING:
                log.info("draining: no new work; callers waiting are answered within %s s", self.grace)
                self.state = DRAINING
                self._deadline = time.monotonic() + self.grace

    @property
    def draining(self) -> bool:
        return self.state == DRAINING

    def budget(self, wanted: float) -> float:
        """How long a caller may still wait for its job: `wanted`, cut to what is left of the grace period."""
        deadline = self._deadline
        return wanted if deadline is None else max(0.0, min(wanted, deadline - time.monotonic()))


async def wait_within(lifecycle: Lifecycle, fut: "asyncio.Future[Any]", budget: float) -> None:
    """Waits for fut at most `budget` seconds, and no longer than a drain that begins meanwhile allows."""
    end = time.monotonic() + budget
    while not fut.done():
        left = lifecycle.budget(end - time.monotonic())
        if left <= 0:
            return
        # Wakes at least twice a second to see a drain that began meanwhile.
        try:
            await asyncio.wait_for(asyncio.shield(fut), min(left, 0.5))
        except asyncio.TimeoutError:
            pass


class Server(uvicorn.Server):  # type: ignore[misc]  # uvicorn ships no types in Debian
    """uvicorn's server, telling the service when SIGTERM (or SIGINT) arrives and re-reading keys on SIGHUP."""

    def __init__(self, config: uvicorn.Config, lifecycle: Lifecycle, reload_keys: Callable[[], None]) -> None:
        super().__init__(config)
        self.lifecycle = lifecycle
        self.reload_keys = reload_keys

    def install_signal_handlers(self) -> None:
        super().install_signal_handlers()
        if threading.current_thread() is threading.main_thread():
            asyncio.get_event_loop().add_signal_handler(signal.SIGHUP, self._hangup)

    def _hangup(self) -> None:
        try:
            self.reload_keys()
            log.info("SIGHUP: API keys read again")
        except OSError as e:
            log.error("SIGHUP: the API keys file cannot be read (%s); the keys stay as they were", e)

    def handle_exit(self, sig: int, frame: Any) -> None:
        self.lifecycle.drain()
        super().handle_exit(sig, frame)
