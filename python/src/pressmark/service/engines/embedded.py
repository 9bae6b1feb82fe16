"""The embedded engine: jobs run in this process on worker threads, each
thread with its own CreatePDF; at most `queue_size` wait. At start every job
the store holds unfinished is queued again."""

from __future__ import annotations

import logging
import os
import queue
import threading
import time
from typing import Any, Callable, Dict, List, Optional, Tuple

import pressmark

from ..config import Settings
from ..metrics import Metrics
from ..problems import ProblemFields, QueueFull, problem_of
from ..store import OutputRecord, Store
from .base import OnFinish, execute, office_pool_size, office_status

log = logging.getLogger("pressmark.service")


class _Worker:
    """One worker thread; retired when a job of its runs past the time-out."""

    def __init__(self, engine: "Embedded") -> None:
        self.retired = False
        self.cancelled = threading.Event()
        self.thread = threading.Thread(target=engine._work, args=(self,), name="job-worker", daemon=True)


class Embedded:
    """Runs jobs in this process on worker threads."""

    def __init__(self, settings: Settings, store: Store, metrics: Metrics, on_finish: OnFinish) -> None:
        self.settings = settings
        self.store = store
        self.metrics = metrics
        self.on_finish = on_finish
        self.workers = settings.workers or office_pool_size()
        self._q: "queue.Queue[Optional[str]]" = queue.Queue()
        self._waiting = 0
        self._lock = threading.Lock()
        self._running: Dict[str, Tuple[float, _Worker]] = {}   # job id -> start time, worker
        self._pool: List[_Worker] = []
        self._stopping = threading.Event()
        self._watcher = threading.Thread(target=self._watch, name="job-watch", daemon=True)

    def start(self) -> None:
        for _ in range(self.workers):
            self._spawn()
        self._watcher.start()
        for job_id in self.store.unfinished():
            self.store.requeue(job_id)
            self._put(job_id)

    def stop(self) -> None:
        """Running jobs are left to the process's end; waiting ones stay queued in the store."""
        self._stopping.set()
        with self._lock:
            pool = list(self._pool)
        for _ in pool:
            self._q.put(None)

    def _spawn(self) -> None:
        w = _Worker(self)
        with self._lock:
            self._pool.append(w)
        w.thread.start()

    def _put(self, job_id: str) -> None:
        with self._lock:
            self._waiting += 1
        self.metrics.queue_depth.labels("embedded").inc()
        self._q.put(job_id)

    def submit(self, job_id: str, queue_name: str) -> None:
        with self._lock:
            if self._waiting >= self.settings.queue_size:
                raise QueueFull()
        self._put(job_id)

    def readiness(self) -> Tuple[bool, Dict[str, Any]]:
        with self._lock:
            alive = sum(1 for w in self._pool if w.thread.is_alive() and not w.retired)
        details = {"engine": "embedded", "workers": alive, "waiting": self._waiting, "office": office_status()}
        return alive >= self.workers, details

    def _work(self, me: _Worker) -> None:
        pdf: Any = None
        while not me.retired:
            job_id = self._q.get()
            if job_id is None:
                return
            with self._lock:
                self._waiting -= 1
            self.metrics.queue_depth.labels("embedded").dec()
            job = self.store.get(job_id)
            if job is None or not self.store.start(job_id):
                continue
            if pdf is None:
                pdf = pressmark.CreatePDF()
                # The component's own temporary files stay in the service's private state.
                tmp = os.path.join(self.settings.state_dir, "tmp", f"{os.getpid()}-{threading.get_ident()}")
                os.makedirs(tmp, mode=0o700, exist_ok=True)
                pdf.TempFilePath = tmp
            folder = os.path.join(self.settings.jobs_dir(), job_id)
            with self._lock:
                self._running[job_id] = (time.time(), me)
            self.metrics.observe_wait(job)
            started = time.monotonic()
            output, error = execute(pdf, folder, job.op, job.fields, job.inputs, self._progress_of(job_id),
                                    me.cancelled, (self.settings.state_dir, self.settings.store_dir),
                                    self.settings.call_timeout)
            if error is not None and time.monotonic() - started >= self.settings.call_timeout:
                # The engine stopped the work at the time-out (it has the same one): say so.
                error = problem_of(TimeoutError(), self.settings.call_timeout)
            with self._lock:
                self._running.pop(job_id, None)
            self.finish(job_id, output, error)
        # Retired at a time-out: only now that its job has let go of the thread
        # does another take its place, so no more jobs run than `workers`.
        with self._lock:
            if me in self._pool:
                self._pool.remove(me)
        if not self._stopping.is_set():
            self._spawn()

    def _progress_of(self, job_id: str) -> Callable[[int], None]:
        def progress(percent: int) -> None:
            self.store.progress(job_id, percent)
        return progress

    def finish(self, job_id: str, output: Optional[OutputRecord], error: Optional[ProblemFields]) -> None:
        if self.store.finish(job_id, output, error):
            self.on_finish(job_id)

    def _watch(self) -> None:
        """A job past its time-out fails and is told to stop; its thread is retired, and replaced once the
        job has let go of it."""
        while not self._stopping.wait(0.5):
            now = time.time()
            with self._lock:
                late = [(j, w) for j, (s, w) in self._running.items() if now - s > self.settings.call_timeout]
                for j, w in late:
                    self._running.pop(j, None)
                    w.retired = True
                    w.cancelled.set()
            for j, _ in late:
                log.warning("job %s ran past %s s and failed", j, self.settings.call_timeout)
                self.finish(j, None, problem_of(TimeoutError(), self.settings.call_timeout))
