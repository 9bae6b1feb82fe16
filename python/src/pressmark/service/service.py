"""The service's shared state: the job store, the engine, the webhooks and
what waits on them. Made with the application; its threads start and stop
with the application's lifespan."""

from __future__ import annotations

import asyncio
import json
import os
import threading
import time
from typing import Dict, List, Optional, Tuple

from . import browser
from .config import Settings
from .conventions import delivery
from .engines import Embedded, Engine, Gateway, farm
from .engines.base import office_pool_size
from .lifecycle import Lifecycle, wait_within
from .metrics import Metrics
from .store import Job, Store, remove_job
from .views import status_of
from .webhooks import Hooks, Sender

Waiter = Tuple[asyncio.AbstractEventLoop, "asyncio.Future[bool]"]


class Service:
    def __init__(self, settings: Settings) -> None:
        self.settings = settings
        self.metrics = Metrics()
        browser.configure(settings)
        os.makedirs(settings.jobs_dir(), mode=0o700, exist_ok=True)
        os.chmod(settings.jobs_dir(), 0o700)
        self.store = Store(os.path.join(settings.state_dir, "jobs.sqlite"))
        self.hooks: Sender
        if settings.broker:
            self.hooks = farm.Hooks()
        else:
            self.hooks = Hooks(settings, self.store)
        self._waiters: Dict[str, List[Waiter]] = {}
        self._lock = threading.Lock()
        self.lifecycle = Lifecycle(settings.drain_grace)
        self.engine: Engine
        if settings.broker:
            self.engine = Gateway(settings, self.store, self.metrics, self.finished)
        else:
            self.engine = Embedded(settings, self.store, self.metrics, self.finished)
        self.metrics.workers.set(self.engine.workers)
        self.metrics.pool.set(office_pool_size())
        self._stopping = threading.Event()
        self._wake = threading.Event()
        self._expiry = threading.Thread(target=self._expire, name="job-expiry", daemon=True)

    def start(self) -> None:
        self.hooks.start()
        self.engine.start()
        self._expiry.start()

    def stop(self) -> None:
        self._stopping.set()
        self._wake.set()
        self.engine.stop()
        self.hooks.stop()

    def finished(self, job_id: str) -> None:
        """Called once per job from the thread that saw it end."""
        job = self.store.get(job_id)
        if job is None:
            return
        self.metrics.finished(job)
        self._wake.set()   # the kept results have grown: the disk cap is checked again
        with self._lock:
            waiters = self._waiters.pop(job_id, [])
        for loop, fut in waiters:
            try:
                loop.call_soon_threadsafe(lambda f=fut: f.done() or f.set_result(True))
            except RuntimeError:
                pass  # the loop has ended: nobody waits any more
        if job.webhook:
            body = json.dumps(status_of(job)).encode()
            self.hooks.send(job.webhook, body, job.request_id)
        hook = delivery(job)
        if hook is not None:
            url, method, headers, body, file = hook
            self.hooks.send(url, body, job.request_id, method, headers, file)

    async def wait(self, job_id: str, budget: float) -> Optional[Job]:
        """The job once it has finished, or as it is when the budget runs out."""
        loop = asyncio.get_running_loop()
        fut: "asyncio.Future[bool]" = loop.create_future()
        with self._lock:
            self._waiters.setdefault(job_id, []).append((loop, fut))
        try:
            job = self.store.get(job_id)
            if job is None or job.done:
                return job
            await wait_within(self.lifecycle, fut, budget)
            return self.store.get(job_id)
        finally:
            with self._lock:
                lst = self._waiters.get(job_id, [])
                if (loop, fut) in lst:
                    lst.remove((loop, fut))
                if not lst:
                    self._waiters.pop(job_id, None)

    def remove(self, job_id: str) -> None:
        remove_job(self.settings.jobs_dir(), self.store, job_id)

    def _expire(self) -> None:
        while not self._stopping.is_set():
            self._wake.wait(max(1.0, min(60.0, self.settings.result_ttl / 4)))
            self._wake.clear()
            for job_id in self.store.expired(time.time() - self.settings.result_ttl):
                self.remove(job_id)
            self._cap()

    def _cap(self) -> None:
        """The oldest finished jobs go until the kept ones fit in results_disk_cap; the newest stays, so an
        answer being sent is never taken away."""
        finished = self.store.finished_oldest_first()
        sizes = [folder_size(os.path.join(self.settings.jobs_dir(), j)) for j in finished]
        total = sum(sizes)
        for job_id, size in zip(finished[:-1], sizes):
            if total <= self.settings.results_disk_cap:
                break
            self.remove(job_id)
            total -= size


def folder_size(folder: str) -> int:
    total = 0
    for base, _, files in os.walk(folder):
        for f in files:
            try:
                total += os.lstat(os.path.join(base, f)).st_size
            except OSError:
                pass
    return total
