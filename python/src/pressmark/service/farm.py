"""The farm: the gateway sends jobs to Celery queues split by cost, workers
on any host run them. Documents never travel through the broker: a job's
folder sits in the shared store (a folder every node mounts), its message
carries only the job's id, and the worker reports through the folder's
status file, which the gateway watches.

Delivery is at least once (acknowledged late, requeued when a worker is
lost); the status file makes the outcome once: a job whose folder says it
ended is not run again, and the gateway records the first outcome only.
"""

import json
import os
import shutil
import socket
import threading
import time

from celery import Celery, bootsteps

from . import jobs

QUEUES = ("office", "postscript", "fast")
TASK = "pressmark.run_job"


def celery_app(settings):
    app = Celery("pressmark", broker=settings.broker)
    app.conf.update(
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
    return app


def read_status(folder):
    try:
        with open(os.path.join(folder, "status.json")) as f:
            return json.load(f)
    except (OSError, ValueError):
        return None


def write_status(folder, status):
    jobs.write_atomic(os.path.join(folder, "status.json"), json.dumps(status).encode())


class Gateway:
    """The engine of `serve --broker`: queues jobs and watches their folders."""

    def __init__(self, settings, store, metrics, log, on_finish):
        if not settings.store_dir:
            raise SystemExit("pressmark serve: --broker needs --store-dir, a folder every farm node mounts")
        self.settings = settings
        self.store = store
        self.metrics = metrics
        self.log = log
        self.on_finish = on_finish
        self.app = celery_app(settings)
        self.workers = settings.workers or jobs.office_pool_size()
        threading.Thread(target=self._watch, name="farm-watch", daemon=True).start()

    def submit(self, job_id, queue):
        if self.store.count("queued") > self.settings.queue_size:
            raise jobs.QueueFull()
        job = self.store.get(job_id)
        folder = os.path.join(self.settings.jobs_dir(), job_id)
        # Paths relative to the job's folder: every node may mount the store elsewhere.
        inputs = {k: [[os.path.relpath(p, folder), n] for p, n in v] for k, v in job["inputs"].items()}
        jobs.write_atomic(os.path.join(folder, "job.json"), json.dumps(
            {"op": job["op"], "fields": job["fields"], "inputs": inputs, "request_id": job["request_id"]}).encode())
        self.app.send_task(TASK, args=[job_id], queue=queue)

    def readiness(self):
        try:
            with self.app.connection_for_write() as conn:
                conn.ensure_connection(max_retries=1, timeout=2)
            return True, {"engine": "farm", "broker": "up", "queued": self.store.count("queued")}
        except Exception as e:
            return False, {"engine": "farm", "broker": f"down: {e}"}

    def _watch(self):
        # A finished job is seen within tens of milliseconds; a sweep over a
        # long queue is paid for with a longer pause, so watching never takes
        # more than a fifth of a core.
        pause = 0.02
        while True:
            time.sleep(pause)
            began = time.monotonic()
            try:
                self._sweep()
            except Exception as e:
                self.log.warning("farm watch: %s", e)
            pause = min(1.0, max(0.02, 4 * (time.monotonic() - began)))

    def _sweep(self):
        depth = {q: 0 for q in QUEUES}
        for job_id in self.store.unfinished():
            folder = os.path.join(self.settings.jobs_dir(), job_id)
            st = read_status(folder)
            job = self.store.get(job_id)
            if job is None:
                continue
            if st is None:
                depth[job["queue"]] = depth.get(job["queue"], 0) + 1
                continue
            if job["status"] == "queued":
                self.store.start(job_id)
                self.metrics.observe_wait(job)
            if st["status"] == "running":
                self.store.progress(job_id, st.get("progress", 0))
                if time.time() - st.get("started", time.time()) > self.settings.call_timeout + 30:
                    self._finish(job_id, None, jobs.problem_of(TimeoutError(), self.settings.call_timeout))
            elif st["status"] in jobs.FINISHED:
                self._finish(job_id, st.get("output"), st.get("error"))
        for q, n in depth.items():
            self.metrics.queue_depth.labels(q).set(n)

    def _finish(self, job_id, output, error):
        if self.store.finish(job_id, output, error):
            self.on_finish(job_id)


_pdf = None


def run_job(settings, job_id):
    """One delivery of a job's message, in a worker process."""
    global _pdf
    folder = os.path.join(settings.jobs_dir(), job_id)
    st = read_status(folder)
    if st is not None and st["status"] in jobs.FINISHED:
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
        import pressmark
        _pdf = pressmark.CreatePDF()
    inputs = {k: [[os.path.join(folder, p), n] for p, n in v] for k, v in job["inputs"].items()}

    def progress(p):
        write_status(folder, {"status": "running", "progress": p, "started": started, "worker": host})

    output, error = jobs.execute(_pdf, folder, job["op"], job["fields"], inputs, progress)
    write_status(folder, {"status": "failed" if error else "done", "output": output, "error": error,
                          "started": started, "worker": host})


class PromptPickup(bootsteps.StartStopStep):
    """Asks the broker for the next message as soon as the last one is acknowledged.

    With one message in hand per slot (prefetch 1, acknowledged late) the
    Redis transport stops asking for messages while every slot is busy, and
    asks again from a callback that runs at the start of each turn of the
    worker's event loop. The acknowledgement itself runs later in the turn,
    just before the loop sleeps until its next timer or event: up to two
    seconds during which a waiting job sits in Redis while the worker idles.
    The callbacks run again once the turn's work is done, so the request
    goes out before the loop sleeps.
    """

    requires = {"celery.worker.components:Hub"}

    def create(self, worker):
        hub = getattr(worker, "hub", None)
        if hub is None:
            return  # a pool without an event loop asks for messages itself
        fire_timers = hub.fire_timers

        def fire_timers_then_poll(*args, **kwargs):
            delay = fire_timers(*args, **kwargs)
            for tick in list(hub.on_tick):
                tick()
            return delay

        hub.fire_timers = fire_timers_then_poll


def run_worker(settings):
    if not settings.store_dir:
        raise SystemExit("pressmark worker: --store-dir is required, the folder every farm node mounts")
    app = celery_app(settings)
    app.steps["worker"].add(PromptPickup)

    @app.task(name=TASK)
    def task(job_id):
        run_job(settings, job_id)

    concurrency = settings.workers or jobs.office_pool_size()
    queues = ",".join(q.strip() for q in settings.queues.split(",") if q.strip())
    app.worker_main(["worker", "-P", "prefork", "-c", str(concurrency), "-Q", queues, "--prefetch-multiplier", "1",
                     "--without-gossip", "--without-mingle", "-n", f"pressmark-{os.getpid()}@{socket.gethostname()}",
                     "-l", settings.log_level.upper()])
    return 0
