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

import contextlib
import json
import logging
import os
import shutil
import socket
import threading
import time
import uuid
from typing import Any, Dict, Optional, Tuple

import pressmark
import redis
from celery import Celery
from celery.signals import worker_process_init

from .. import browser
from ..config import Settings
from ..metrics import Metrics
from ..problems import ProblemFields, QueueFull, Unavailable, problem_of
from ..store import FINISHED, OutputRecord, Store, write_atomic
from ..webhooks import Refused, attempt, new_id
from .base import OnFinish, execute, office_pool_size
from .pickup import PromptPickup

log = logging.getLogger("pressmark.service")

QUEUES = ("office", "ocr", "postscript", "fast", "browser")
TASK = "pressmark.run_job"
WEBHOOK_TASK = "pressmark.deliver_webhook"
CHANNEL = "pressmark:job-events"
# How often the gateway looks for jobs whose worker went silent past the time-out.
CHECK_EVERY = 5.0
# Seconds between a running job's status records, and without one after
# which a worker of another host is taken for dead.
BEAT = 5.0
ORPHANED = 30.0

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
        # An unreachable Redis is told within a second, so a caller hears
        # it while it waits (503) instead of after the client's time-out.
        broker_transport_options={"visibility_timeout": int(settings.call_timeout) + 60,
                                  "socket_connect_timeout": 1},
        broker_connection_timeout=1,
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


def claim(folder: str, delivery: str) -> bool:
    """Whether this delivery of a job's message may run it: the first delivery to claim the job's folder, or the
    same message delivered again after its worker was lost. A copy of the message (sent again after the broker
    lost its queues) finds the job claimed by another delivery and leaves it. The claim is made by a hard link,
    which fails when the name exists, on a shared folder too."""
    path = os.path.join(folder, "claim")
    tmp = f"{path}.{uuid.uuid4().hex}"
    try:
        with open(tmp, "w") as f:
            f.write(delivery)
        os.link(tmp, path)
        return True
    except FileExistsError:
        with open(path) as f:
            return f.read() == delivery
    finally:
        with contextlib.suppress(OSError):
            os.unlink(tmp)


def still_running(status: Dict[str, Any]) -> bool:
    """Whether the worker a running job's status names is alive: a process of this host that exists, or one of
    another host that wrote the status lately."""
    host, _, pid = str(status.get("worker", "")).rpartition(":")
    if host == socket.gethostname() and pid.isdigit():
        try:
            os.kill(int(pid), 0)
            return True
        except ProcessLookupError:
            return False
        except PermissionError:
            return True
    return time.time() - float(status.get("beat", status.get("started", 0))) < ORPHANED


class Gateway:
    """The engine of `serve --broker`: queues jobs and listens for their state.

    A Redis that restarts may come back without its queues (nothing kept on
    disk, or a crash before it saved them). The gateway notices by the
    server's run id (kept in the state folder, so a gateway restarted
    meanwhile notices too) and sends again the message of every accepted job
    no worker has claimed; a message that survived as well is left by the
    worker that finds the job claimed. A running job whose worker stopped
    beating (it died, and the broker lost the message it would have delivered
    again) is sent again under the id it was claimed with."""

    def __init__(self, settings: Settings, store: Store, metrics: Metrics, on_finish: OnFinish) -> None:
        if not settings.store_dir:
            raise SystemExit("pressmark serve: --broker needs --store-dir, a folder every farm node mounts")
        self.settings = settings
        self.store = store
        self.metrics = metrics
        self.on_finish = on_finish
        self.app = configure(settings)
        # A publish that finds no connection tries once more at once (a
        # pooled connection Redis dropped when it restarted), then fails.
        self.app.conf.broker_transport_options.update(max_retries=1, interval_start=0, interval_step=0.2)
        self.workers = settings.workers or office_pool_size()
        self._run_id_file = os.path.join(settings.state_dir, "broker-run-id")
        try:
            with open(self._run_id_file) as f:
                self._run_id = f.read().strip()
        except OSError:
            self._run_id = ""
        self._resent: Dict[str, Any] = {}
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
        try:
            # No retries here: the caller is told at once and retries itself.
            self.app.send_task(TASK, args=[job_id], queue=queue, retry=False)
        except Exception as e:
            log.warning("farm: the broker did not take job %s: %s", job_id, e)
            raise Unavailable(f"the broker is unreachable ({type(e).__name__})") from e
        self._depths()

    def readiness(self) -> Tuple[bool, Dict[str, Any]]:
        try:
            with self.app.connection_for_write() as conn:
                conn.ensure_connection(max_retries=0, timeout=1)
            return True, {"engine": "farm", "broker": "up", "queued": self.store.count("queued")}
        except Exception as e:
            return False, {"engine": "farm", "broker": f"down: {type(e).__name__}: {e}"}

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
        """A job whose worker went silent past the time-out fails; jobs the broker lost are sent again."""
        first = True
        while first or not self._stopping.wait(CHECK_EVERY):
            first = False
            try:
                self._check_broker()
                late = time.time() - self.settings.call_timeout - 30
                for job_id in self.store.unfinished():
                    job = self.store.get(job_id)
                    if job is None or job.status != "running":
                        continue
                    if (job.started or 0) < late:
                        self._finish(job_id, None, problem_of(TimeoutError(), self.settings.call_timeout))
                        continue
                    folder = os.path.join(self.settings.jobs_dir(), job_id)
                    st = read_status(folder)
                    if st is not None and st.get("status") == "running" and not still_running(st):
                        self._resend(job_id, job.queue, folder, st.get("started"))
                self._depths()
            except Exception as e:
                log.warning("farm check: %s", e)

    def _check_broker(self) -> None:
        """Sends again the jobs no worker has claimed when the broker is a new one since it was last seen."""
        assert self._redis is not None
        try:
            run_id = str(self._redis.info("server")["run_id"])
        except redis.RedisError:
            return  # down: submissions say so; looked at again later
        if run_id == self._run_id:
            return
        if self._run_id:
            lost = [j for j in self.store.unfinished()
                    if not os.path.exists(os.path.join(self.settings.jobs_dir(), j, "claim"))]
            log.warning("farm: the broker restarted; sending the %d unclaimed job(s) again", len(lost))
            for job_id in lost:
                job = self.store.get(job_id)
                if job is not None:
                    self.app.send_task(TASK, args=[job_id], queue=job.queue, retry=False)
        write_atomic(self._run_id_file, run_id.encode())
        self._run_id = run_id

    def _resend(self, job_id: str, queue: str, folder: str, started: Any) -> None:
        """A running job whose worker is gone while the broker lost the message it would have delivered again:
        the message goes again under the id the job was claimed with, so the delivery may take the job over;
        once for each run that was lost (the message may wait behind others)."""
        if self._resent.get(job_id) == started:
            return
        try:
            with open(os.path.join(folder, "claim")) as f:
                delivery = f.read()
        except OSError:
            return
        log.warning("farm: job %s lost its worker; sending it again", job_id)
        self._resent[job_id] = started
        self.app.send_task(TASK, args=[job_id], queue=queue, task_id=delivery, retry=False)

    def _depths(self) -> None:
        depth = dict.fromkeys(QUEUES, 0)
        for queue, n in self.store.queued_by_queue().items():
            depth[queue] = n
        for queue, n in depth.items():
            self.metrics.queue_depth.labels(queue).set(n)

    def _finish(self, job_id: str, output: Optional[OutputRecord], error: Optional[ProblemFields]) -> None:
        self._resent.pop(job_id, None)
        if self.store.finish(job_id, output, error):
            self.on_finish(job_id)


class Hooks:
    """The farm's webhook sender: each delivery is a task, retried by Celery."""

    def start(self) -> None:
        pass

    def stop(self) -> None:
        pass

    def send(self, url: str, body: bytes, request_id: str, method: str = "POST",
             extra: Optional[Dict[str, str]] = None, file: str = "") -> None:
        celery.send_task(WEBHOOK_TASK, args=[new_id(), url, body.decode(), request_id, method, extra or {}, file],
                         queue="fast")


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


@celery.task(name=TASK, bind=True)  # type: ignore[misc]
def run_job(task: Any, job_id: str) -> None:
    """One delivery of a job's message, in a worker process."""
    global _pdf
    assert _settings is not None
    folder = os.path.join(_settings.jobs_dir(), job_id)
    st = read_status(folder)
    if st is not None and st.get("status") in FINISHED:
        return  # delivered again after it ended: the first outcome stands
    delivery = str(task.request.id)
    try:
        with open(os.path.join(folder, "job.json")) as f:
            job = json.load(f)
        if not claim(folder, delivery):
            return  # a copy of the message of a job another delivery runs
    except OSError:
        return  # deleted meanwhile
    st = read_status(folder)
    if st is not None and st.get("status") == "running" and still_running(st):
        return  # the same message twice at once: the other delivery runs it
    log.info("job %s runs (delivery %s, process %d)", job_id, delivery, os.getpid())
    # A delivery after a lost worker starts from a clean output folder.
    shutil.rmtree(os.path.join(folder, "out"), ignore_errors=True)
    started = time.time()
    host = f"{socket.gethostname()}:{os.getpid()}"
    beat = Heartbeat(folder, job_id, {"status": "running", "progress": 0, "started": started, "worker": host})
    try:
        if _pdf is None:
            _pdf = pressmark.CreatePDF()
        inputs = {k: [[os.path.join(folder, p), n] for p, n in v] for k, v in job["inputs"].items()}
        output, error = execute(_pdf, folder, job["op"], job["fields"], inputs, lambda p: beat.update(progress=p),
                                roots=(_settings.state_dir, _settings.store_dir), timeout=_settings.call_timeout)
    finally:
        beat.stop()
    if error is not None and time.time() - started >= _settings.call_timeout:
        # The engine stopped the work at the time-out (it has the same one): say so.
        error = problem_of(TimeoutError(), _settings.call_timeout)
    _record(folder, job_id, {"status": "failed" if error else "done", "output": output, "error": error,
                             "started": started, "finished": time.time(), "worker": host})


class Heartbeat:
    """A running job's status, recorded again every few seconds while the job runs, so the gateway can tell a job
    whose worker is gone from a long one."""

    def __init__(self, folder: str, job_id: str, status: Dict[str, Any]) -> None:
        self.folder, self.job_id = folder, job_id
        self.status = dict(status, beat=time.time())
        self._lock = threading.Lock()
        self._stopped = threading.Event()
        _record(folder, job_id, self.status)
        self._thread = threading.Thread(target=self._run, name="job-heartbeat", daemon=True)
        self._thread.start()

    def update(self, **changes: Any) -> None:
        with self._lock:
            if not self._stopped.is_set():
                self.status.update(changes, beat=time.time())
                _record(self.folder, self.job_id, self.status)

    def _run(self) -> None:
        while not self._stopped.wait(BEAT):
            self.update()

    def stop(self) -> None:
        # After this no record of "running" can follow the job's outcome.
        with self._lock:
            self._stopped.set()
        self._thread.join()


class DeliveryFailed(Exception):
    """The receiver did not take the event: Celery tries again later."""


@celery.task(name=WEBHOOK_TASK, autoretry_for=(DeliveryFailed,), retry_backoff=True, retry_backoff_max=300,
             retry_jitter=True, max_retries=4, acks_late=True)  # type: ignore[misc]
def deliver_webhook(msg_id: str, url: str, body: str, request_id: str, method: str = "POST",
                    extra: Optional[Dict[str, str]] = None, file: str = "") -> None:
    """One webhook event; the same id on every attempt."""
    assert _settings is not None
    try:
        # The result is named within the store, which every node may mount elsewhere.
        path = os.path.join(_settings.jobs_dir(), file) if file else ""
        if not attempt(_settings, msg_id, url, body.encode(), request_id, method, extra, path):
            raise DeliveryFailed(url)
    except Refused as e:
        log.warning("webhook %s refused: %s [request %s]", url, e, request_id)


def run_worker(settings: Settings) -> int:
    global _settings
    if not settings.store_dir:
        raise SystemExit("pressmark worker: --store-dir is required, the folder every farm node mounts")
    _settings = settings
    browser.configure(settings, jobs_at_once=1)   # each of the worker's processes runs one job at a time
    app = configure(settings)
    app.steps["worker"].add(PromptPickup)
    concurrency = settings.workers or office_pool_size()
    queues = ",".join(q.strip() for q in settings.queues.split(",") if q.strip())
    app.worker_main(["worker", "-P", "prefork", "-c", str(concurrency), "-Q", queues, "--prefetch-multiplier", "1",
                     "--without-gossip", "--without-mingle", "-n", f"pressmark-{os.getpid()}@{socket.gethostname()}",
                     "-l", settings.log_level.upper()])
    return 0
