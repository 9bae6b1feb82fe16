"""The farm: the gateway sends jobs to Celery queues split by cost, workers
on any host run them. Documents never travel through the broker: a job's
folder sits in the shared store (a folder every node mounts), its message
carries only the job's id, and the worker reports through the folder's
status file, which the gateway watches.

Delivery is at least once (acknowledged late, requeued when a worker is
lost); the status file makes the outcome once: a job whose folder says it
ended is not run again, and the gateway records the first outcome only.
"""

from __future__ import annotations

import json
import logging
import os
import shutil
import socket
import threading
import time
from typing import Any, Dict, Optional, Tuple

import pressmark
from celery import Celery
from celery.signals import worker_process_init

from ..config import Settings
from ..metrics import Metrics
from ..problems import ProblemFields, QueueFull, problem_of
from ..store import FINISHED, OutputRecord, Store, write_atomic
from .base import OnFinish, execute, office_pool_size
from .pickup import PromptPickup

log = logging.getLogger("pressmark.service")

QUEUES = ("office", "postscript", "fast")
TASK = "pressmark.run_job"

# One application for the gateway and the workers; `configure` gives it the broker.
celery = Celery("pressmark", set_as_current=False)


def configure(settings: Settings) -> Celery:
    celery.conf.update(
        broker_url=settings.broker,
        task_acks_late=True,
        task_reject_on_worker_lost=True,
        worker_prefetch_multiplier=1,
        task_time_limit=settings.call_timeout,
        # A message not acknowledged within the window goes to another
        # worker: the window is longer than a job may run.
        broker_transport_options={"visibility_timeout": int(settings.call_timeout) + 60},
        task_ignore_result=True,
        worker_hijack_root_logger=False,
        broker_connection_retry_on_startup=True,
        task_default_queue="fast",
    )
    return celery


def read_status(folder: str) -> Optional[Dict[str, Any]]:
    try:
        with open(os.path.join(folder, "status.json")) as f:
            status = json.load(f)
    except (OSError, ValueError):
        return None
    return status if isinstance(status, dict) else None


def write_status(folder: str, status: Dict[str, Any]) -> None:
    write_atomic(os.path.join(folder, "status.json"), json.dumps(status).encode())


class Gateway:
    """The engine of `serve --broker`: queues jobs and watches their folders."""

    def __init__(self, settings: Settings, store: Store, metrics: Metrics, on_finish: OnFinish) -> None:
        if not settings.store_dir:
            raise SystemExit("pressmark serve: --broker needs --store-dir, a folder every farm node mounts")
        self.settings = settings
        self.store = store
        self.metrics = metrics
        self.on_finish = on_finish
        self.app = configure(settings)
        self.workers = settings.workers or office_pool_size()
        self._stopping = threading.Event()
        self._watcher = threading.Thread(target=self._watch, name="farm-watch", daemon=True)

    def start(self) -> None:
        self._watcher.start()

    def stop(self) -> None:
        self._stopping.set()

    def submit(self, job_id: str, queue: str) -> None:
        if self.store.count("queued") > self.settings.queue_size:
            raise QueueFull()
        job = self.store.get(job_id)
        if job is None:
            return
        folder = os.path.join(self.settings.jobs_dir(), job_id)
        # Paths relative to the job's folder: every node may mount the store elsewhere.
        inputs = {k: [[os.path.relpath(p, folder), n] for p, n in v] for k, v in job.inputs.items()}
        write_atomic(os.path.join(folder, "job.json"), json.dumps(
            {"op": job.op, "fields": job.fields, "inputs": inputs, "request_id": job.request_id}).encode())
        self.app.send_task(TASK, args=[job_id], queue=queue)

    def readiness(self) -> Tuple[bool, Dict[str, Any]]:
        try:
            with self.app.connection_for_write() as conn:
                conn.ensure_connection(max_retries=1, timeout=2)
            return True, {"engine": "farm", "broker": "up", "queued": self.store.count("queued")}
        except Exception as e:
            return False, {"engine": "farm", "broker": f"down: {e}"}

    def _watch(self) -> None:
        # A finished job is seen within tens of milliseconds; a sweep over a
        # long queue is paid for with a longer pause, so watching never takes
        # more than a fifth of a core.
        pause = 0.02
        while not self._stopping.wait(pause):
            began = time.monotonic()
            try:
                self._sweep()
            except Exception as e:
                log.warning("farm watch: %s", e)
            pause = min(1.0, max(0.02, 4 * (time.monotonic() - began)))

    def _sweep(self) -> None:
        depth = {q: 0 for q in QUEUES}
        for job_id in self.store.unfinished():
            folder = os.path.join(self.settings.jobs_dir(), job_id)
            st = read_status(folder)
            job = self.store.get(job_id)
            if job is None:
                continue
            if st is None:
                depth[job.queue] = depth.get(job.queue, 0) + 1
                continue
            if job.status == "queued":
                self.store.start(job_id)
                self.metrics.observe_wait(job)
            if st["status"] == "running":
                self.store.progress(job_id, st.get("progress", 0))
                if time.time() - st.get("started", time.time()) > self.settings.call_timeout + 30:
                    self._finish(job_id, None, problem_of(TimeoutError(), self.settings.call_timeout))
            elif st["status"] in FINISHED:
                self._finish(job_id, st.get("output"), st.get("error"))
        for q, n in depth.items():
            self.metrics.queue_depth.labels(q).set(n)

    def _finish(self, job_id: str, output: Optional[OutputRecord], error: Optional[ProblemFields]) -> None:
        if self.store.finish(job_id, output, error):
            self.on_finish(job_id)


# A worker process's own: the settings it was started with, and its CreatePDF.
_settings: Optional[Settings] = None
_pdf: Any = None


@worker_process_init.connect  # type: ignore[misc]
def _process_init(**_: Any) -> None:
    global _pdf
    _pdf = pressmark.CreatePDF()


@celery.task(name=TASK)  # type: ignore[misc]
def run_job(job_id: str) -> None:
    """One delivery of a job's message, in a worker process."""
    global _pdf
    assert _settings is not None
    folder = os.path.join(_settings.jobs_dir(), job_id)
    st = read_status(folder)
    if st is not None and st["status"] in FINISHED:
        return  # delivered again after it ended: the first outcome stands
    try:
        with open(os.path.join(folder, "job.json")) as f:
            job = json.load(f)
    except OSError:
        return  # deleted meanwhile
    # A delivery after a lost worker starts from a clean output folder.
    shutil.rmtree(os.path.join(folder, "out"), ignore_errors=True)
    started = time.time()
    host = f"{socket.gethostname()}:{os.getpid()}"
    write_status(folder, {"status": "running", "progress": 0, "started": started, "worker": host})
    if _pdf is None:
        _pdf = pressmark.CreatePDF()
    inputs = {k: [[os.path.join(folder, p), n] for p, n in v] for k, v in job["inputs"].items()}

    def progress(p: int) -> None:
        write_status(folder, {"status": "running", "progress": p, "started": started, "worker": host})

    output, error = execute(_pdf, folder, job["op"], job["fields"], inputs, progress)
    write_status(folder, {"status": "failed" if error else "done", "output": output, "error": error,
                          "started": started, "worker": host})


def run_worker(settings: Settings) -> int:
    global _settings
    if not settings.store_dir:
        raise SystemExit("pressmark worker: --store-dir is required, the folder every farm node mounts")
    _settings = settings
    app = configure(settings)
    app.steps["worker"].add(PromptPickup)
    concurrency = settings.workers or office_pool_size()
    queues = ",".join(q.strip() for q in settings.queues.split(",") if q.strip())
    app.worker_main(["worker", "-P", "prefork", "-c", str(concurrency), "-Q", queues, "--prefetch-multiplier", "1",
                     "--without-gossip", "--without-mingle", "-n", f"pressmark-{os.getpid()}@{socket.gethostname()}",
                     "-l", settings.log_level.upper()])
    return 0
