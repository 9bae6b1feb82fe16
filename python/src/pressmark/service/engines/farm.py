"""The farm: the gateway sends jobs to Celery queues split by cost, workers
on any host run them. Documents never travel through the broker: a job's
folder sits in the shared store (a folder every node mounts) and its message
carries only the job's id.

A worker records a job's state in the folder's status file and announces
each change on a Redis channel; the gateway listens on the channel, and
reads the status files only when it (re)subscribes, for what it may have
missed meanwhile.

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
import redis
from celery import Celery
from celery.signals import worker_process_init

from ..config import Settings
from ..metrics import Metrics
from ..problems import ProblemFields, QueueFull, problem_of
from ..store import FINISHED, OutputRecord, Store, write_atomic
from ..webhooks import Refused, attempt, new_id
from .base import OnFinish, execute, office_pool_size
from .pickup import PromptPickup

log = logging.getLogger("pressmark.service")

QUEUES = ("office", "ocr", "postscript", "fast")
TASK = "pressmark.run_job"
WEBHOOK_TASK = "pressmark.deliver_webhook"
CHANNEL = "pressmark:job-events"
# How often the gateway looks for jobs whose worker went silent past the time-out.
CHECK_EVERY = 5.0

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
    deliver_webhook.max_retries = max(0, settings.webhook_retries - 1)
    return celery


def read_status(folder: str) -> Optional[Dict[str, Any]]:
    try:
        with open(os.path.join(folder, "status.json")) as f:
            status = json.load(f)
    except (OSError, ValueError):
        return None
    return status if isinstance(status, dict) else None


class Gateway:
    """The engine of `serve --broker`: queues jobs and listens for their state."""

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
        self._redis: Optional[redis.Redis] = None
        self._listener = threading.Thread(target=self._listen, name="farm-listen", daemon=True)
        self._checker = threading.Thread(target=self._check, name="farm-check", daemon=True)

    def start(self) -> None:
        self._redis = redis.Redis.from_url(self.settings.broker)
        self._listener.start()
        self._checker.start()

    def stop(self) -> None:
        self._stopping.set()
        if self._redis is not None:
            self._redis.close()

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
        self._depths()

    def readiness(self) -> Tuple[bool, Dict[str, Any]]:
        try:
            with self.app.connection_for_write() as conn:
                conn.ensure_connection(max_retries=1, timeout=2)
            return True, {"engine": "farm", "broker": "up", "queued": self.store.count("queued")}
        except Exception as e:
            return False, {"engine": "farm", "broker": f"down: {e}"}

    def _listen(self) -> None:
        while not self._stopping.is_set():
            try:
                assert self._redis is not None
                with self._redis.pubsub(ignore_subscribe_messages=True) as sub:
                    sub.subscribe(CHANNEL)
                    # What changed while nobody listened is in the status files.
                    self._reconcile()
                    while not self._stopping.is_set():
                        message = sub.get_message(timeout=1.0)
                        if message is not None:
                            self._event(message["data"])
            except Exception as e:
                if self._stopping.is_set():
                    return
                log.warning("farm events: %s; listening again", e)
                self._stopping.wait(1.0)

    def _event(self, data: bytes) -> None:
        try:
            event = json.loads(data)
            job_id = str(event["id"])
        except (ValueError, KeyError, TypeError):
            return
        self._apply(job_id, event)

    def _reconcile(self) -> None:
        for job_id in self.store.unfinished():
            st = read_status(os.path.join(self.settings.jobs_dir(), job_id))
            if st is not None:
                self._apply(job_id, st)
        self._depths()

    def _apply(self, job_id: str, st: Dict[str, Any]) -> None:
        job = self.store.get(job_id)
        if job is None or job.done:
            return
        if job.status == "queued":
            self.store.start(job_id)
            self.metrics.observe_wait(job)
            self._depths()
        if st.get("status") == "running":
            self.store.progress(job_id, int(st.get("progress", 0)))
        elif st.get("status") in FINISHED:
            self._finish(job_id, st.get("output"), st.get("error"))

    def _check(self) -> None:
        """A job whose worker went silent past the time-out fails."""
        while not self._stopping.wait(CHECK_EVERY):
            try:
                late = time.time() - self.settings.call_timeout - 30
                for job_id in self.store.unfinished():
                    job = self.store.get(job_id)
                    if job is not None and job.status == "running" and (job.started or 0) < late:
                        self._finish(job_id, None, problem_of(TimeoutError(), self.settings.call_timeout))
                self._depths()
            except Exception as e:
                log.warning("farm check: %s", e)

    def _depths(self) -> None:
        depth = dict.fromkeys(QUEUES, 0)
        for queue, n in self.store.queued_by_queue().items():
            depth[queue] = n
        for queue, n in depth.items():
            self.metrics.queue_depth.labels(queue).set(n)

    def _finish(self, job_id: str, output: Optional[OutputRecord], error: Optional[ProblemFields]) -> None:
        if self.store.finish(job_id, output, error):
            self.on_finish(job_id)


class Hooks:
    """The farm's webhook sender: each delivery is a task, retried by Celery."""

    def start(self) -> None:
        pass

    def stop(self) -> None:
        pass

    def send(self, url: str, body: bytes, request_id: str) -> None:
        celery.send_task(WEBHOOK_TASK, args=[new_id(), url, body.decode(), request_id], queue="fast")


# A worker process's own: the settings it was started with, its CreatePDF
# and its connection to the channel.
_settings: Optional[Settings] = None
_pdf: Any = None
_redis: Optional[redis.Redis] = None


@worker_process_init.connect  # type: ignore[misc]
def _process_init(**_: Any) -> None:
    global _pdf, _redis
    _pdf = pressmark.CreatePDF()
    if _settings is not None:
        _redis = redis.Redis.from_url(_settings.broker)


def _record(folder: str, job_id: str, status: Dict[str, Any]) -> None:
    """The job's state in its status file, then announced."""
    write_atomic(os.path.join(folder, "status.json"), json.dumps(status).encode())
    if _redis is not None:
        try:
            _redis.publish(CHANNEL, json.dumps(dict(status, id=job_id)))
        except redis.RedisError as e:
            # The gateway reads the status file when it listens again.
            log.warning("job %s: state not announced: %s", job_id, e)


@celery.task(name=TASK)  # type: ignore[misc]
def run_job(job_id: str) -> None:
    """One delivery of a job's message, in a worker process."""
    global _pdf
    assert _settings is not None
    folder = os.path.join(_settings.jobs_dir(), job_id)
    st = read_status(folder)
    if st is not None and st.get("status") in FINISHED:
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
    _record(folder, job_id, {"status": "running", "progress": 0, "started": started, "worker": host})
    if _pdf is None:
        _pdf = pressmark.CreatePDF()
    inputs = {k: [[os.path.join(folder, p), n] for p, n in v] for k, v in job["inputs"].items()}

    def progress(p: int) -> None:
        _record(folder, job_id, {"status": "running", "progress": p, "started": started, "worker": host})

    output, error = execute(_pdf, folder, job["op"], job["fields"], inputs, progress, _settings.call_timeout)
    _record(folder, job_id, {"status": "failed" if error else "done", "output": output, "error": error,
                             "started": started, "finished": time.time(), "worker": host})


class DeliveryFailed(Exception):
    """The receiver did not take the event: Celery tries again later."""


@celery.task(name=WEBHOOK_TASK, autoretry_for=(DeliveryFailed,), retry_backoff=True, retry_backoff_max=300,
             retry_jitter=True, max_retries=4, acks_late=True)  # type: ignore[misc]
def deliver_webhook(msg_id: str, url: str, body: str, request_id: str) -> None:
    """One webhook event; the same id on every attempt."""
    assert _settings is not None
    try:
        if not attempt(_settings, msg_id, url, body.encode(), request_id):
            raise DeliveryFailed(url)
    except Refused as e:
        log.warning("webhook %s refused: %s [request %s]", url, e, request_id)


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
