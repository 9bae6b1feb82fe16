"""Warm browsers, kept by a supervisor thread: one job at a time on each, a
fresh browser context per job. A browser that ends (or is ended at a job's
time-out) is replaced; a job whose browser ended under it runs once more on a
fresh one, and a second loss answers 503, retryable, as for an office.

The supervisor thread starts every browser, so the signal that ends a browser
with the thread that started it ends it with this process only."""

from __future__ import annotations

import atexit
import logging
import threading
import time
from typing import List, Optional

from .. import faults
from ..problems import JobProblem
from .devtools import Gone
from .job import PageJob, Tab, close_tab, open_tab, run
from .process import Browser

log = logging.getLogger("pressmark.service")


def browser_unavailable(detail: str) -> JobProblem:
    return JobProblem({"status": 503, "type": "browser-unavailable", "title": "The browser failed",
                       "detail": detail, "retryable": True, "retryAfter": faults.RETRY_AFTER})


class Pool:
    def __init__(self, program: str, user: str, heap_mb: int, size: int) -> None:
        self.program, self.user, self.heap_mb, self.size = program, user, heap_mb, max(1, size)
        self._lock = threading.Condition()
        self._idle: List[Browser] = []
        self._all: List[Browser] = []
        self._doomed: List[Browser] = []
        self._error = ""
        self._stopping = False
        self._thread = threading.Thread(target=self._supervise, name="browser-pool", daemon=True)
        self._thread.start()
        atexit.register(self.stop)

    def _supervise(self) -> None:
        while True:
            with self._lock:
                while not self._stopping and not self._doomed and len(self._all) >= self.size:
                    self._lock.wait(1.0)
                    for b in list(self._idle):
                        if not b.alive:
                            self._idle.remove(b)
                            self._all.remove(b)
                            self._doomed.append(b)
                doomed, self._doomed = self._doomed, []
                if self._stopping:
                    doomed += self._all
                    self._all, self._idle = [], []
                need = 0 if self._stopping else self.size - len(self._all)
            for b in doomed:
                b.kill()
            if self._stopping:
                return
            for _ in range(need):
                try:
                    b = Browser(self.program, self.user, self.heap_mb)
                except Exception as e:
                    self._failed_start(e)
                    break
                try:
                    b.devtools.call("Browser.getVersion", timeout=30)
                except Exception as e:
                    b.kill()
                    self._failed_start(e)
                    break
                self._next_tab(b, None)
                with self._lock:
                    self._error = ""
                    self._all.append(b)
                    self._idle.append(b)
                    self._lock.notify_all()

    def _failed_start(self, e: Exception) -> None:
        """Callers waiting for a browser hear why none comes; another is tried a little later."""
        log.warning("the browser did not start: %s", e)
        with self._lock:
            self._error = f"the browser did not start: {e}"
            self._lock.notify_all()
            self._lock.wait(5.0)

    def _lease(self, seconds: float) -> Browser:
        """An idle browser, one whose next tab is ready first."""
        with self._lock:
            waited = 0.0
            while not self._idle:
                if self._error and not self._all:
                    raise browser_unavailable(self._error)
                if waited >= seconds:
                    raise TimeoutError(f"no browser was free within {seconds:.0f} s")
                self._lock.wait(0.5)
                waited += 0.5
            b = next((b for b in self._idle if b.spare_ready.is_set()), self._idle[0])
            self._idle.remove(b)
            return b

    def _lease_answering(self, seconds: float) -> Browser:
        """An idle browser that answers: after a loss, the others may have gone the same way, unnoticed yet."""
        deadline = time.monotonic() + seconds
        while True:
            b = self._lease(max(0.0, deadline - time.monotonic()))
            try:
                b.devtools.call("Browser.getVersion", timeout=5)
                return b
            except (Gone, TimeoutError):
                self._give_back(b, False)

    def _give_back(self, b: Browser, healthy: bool) -> None:
        with self._lock:
            if healthy and b.alive and not self._stopping:
                self._idle.append(b)
            else:
                if b in self._all:
                    self._all.remove(b)
                self._doomed.append(b)
            self._lock.notify_all()

    @staticmethod
    def _next_tab(b: Browser, used: Optional[Tab]) -> None:
        """In the background, once a job has its answer: its context goes, and the browser's next tab is made."""
        def work() -> None:
            try:
                b.spare = open_tab(b.devtools)
            except Exception as e:   # made again when a job takes the browser
                log.info("no tab made ahead: %s", e)
                b.spare = None
            b.spare_ready.set()
            if used is not None:
                close_tab(b.devtools, used.box)
        b.spare_ready.clear()
        threading.Thread(target=work, name="browser-tab", daemon=True).start()

    @staticmethod
    def _take_tab(b: Browser, seconds: float) -> Tab:
        b.spare_ready.wait(seconds)
        tab, b.spare = b.spare, None
        return tab if tab is not None else open_tab(b.devtools, seconds)

    def run(self, job: PageJob) -> bytes:
        """The job's output, on a browser of the pool; once more on a fresh one when its browser ends under it."""
        for attempt in (1, 2):
            b = self._lease(job.seconds) if attempt == 1 else self._lease_answering(job.seconds)
            tab: Optional[Tab] = None
            try:
                tab = self._take_tab(b, job.seconds)
                out = run(b.devtools, job, tab)
            except Gone as e:
                self._give_back(b, False)
                if attempt == 2:
                    raise browser_unavailable(f"the browser ended twice while running this job ({e})")
                log.warning("the browser ended under a job (%s); running it again on a fresh browser", e)
                continue
            except TimeoutError:
                # A browser left at a time-out is in a state nobody knows: it goes.
                self._give_back(b, False)
                raise
            except BaseException:
                self._next_tab(b, tab)
                self._give_back(b, b.alive)
                raise
            self._next_tab(b, tab)
            self._give_back(b, True)
            return out
        raise AssertionError("unreachable")

    def pids(self) -> List[int]:
        with self._lock:
            return [b.pid for b in self._all]

    def stop(self) -> None:
        with self._lock:
            self._stopping = True
            self._lock.notify_all()
        self._thread.join(15)
