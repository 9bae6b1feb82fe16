"""Jobs: the store that records them, and the embedded engine that runs them
on worker threads, each thread with its own CreatePDF.

A job's documents live in its folder (in/ for uploads, out/ for results);
its record lives in a SQLite store, so accepted jobs outlive the process: at
start every job not finished is queued again.
"""

import hashlib
import hmac
import json
import os
import queue
import shutil
import sqlite3
import threading
import time
import urllib.request
import uuid
import zipfile

from . import ops as opsmod

FINISHED = ("done", "failed")


class QueueFull(Exception):
    pass


class Store:
    """The job records, one SQLite file; safe to use from any thread."""

    def __init__(self, path):
        os.makedirs(os.path.dirname(path), exist_ok=True)
        self._db = sqlite3.connect(path, check_same_thread=False, isolation_level=None)
        self._db.execute("PRAGMA journal_mode=WAL")
        # Committed records survive the process being killed; only a power
        # loss may take the last ones, without damaging the store.
        self._db.execute("PRAGMA synchronous=NORMAL")
        self._lock = threading.Lock()
        self._db.execute("""CREATE TABLE IF NOT EXISTS jobs (
            id TEXT PRIMARY KEY, op TEXT, status TEXT, progress INTEGER, created REAL, started REAL,
            finished REAL, request_id TEXT, idem TEXT UNIQUE, webhook TEXT, fields TEXT, inputs TEXT,
            output TEXT, error TEXT, queue TEXT)""")

    def _rows(self, sql, args=()):
        with self._lock:
            cur = self._db.execute(sql, args)
            names = [d[0] for d in cur.description] if cur.description else []
            return [dict(zip(names, r)) for r in cur.fetchall()]

    def _exec(self, sql, args=()):
        with self._lock:
            return self._db.execute(sql, args).rowcount

    def add(self, job):
        """Records a new job; answers the job already recorded under its idempotency key, if any."""
        with self._lock:
            try:
                self._db.execute(
                    "INSERT INTO jobs (id, op, status, progress, created, request_id, idem, webhook, fields,"
                    " inputs, queue) VALUES (?,?,?,?,?,?,?,?,?,?,?)",
                    (job["id"], job["op"], "queued", 0, time.time(), job["request_id"], job.get("idem"),
                     job.get("webhook"), json.dumps(job["fields"]), json.dumps(job["inputs"]), job["queue"]))
                return None
            except sqlite3.IntegrityError:
                cur = self._db.execute("SELECT id FROM jobs WHERE idem = ?", (job.get("idem"),))
                row = cur.fetchone()
                if row is None:
                    raise
                return row[0]

    def get(self, job_id):
        rows = self._rows("SELECT * FROM jobs WHERE id = ?", (job_id,))
        if not rows:
            return None
        job = rows[0]
        for k in ("fields", "inputs", "output", "error"):
            job[k] = json.loads(job[k]) if job[k] else None
        return job

    def by_idem(self, idem):
        rows = self._rows("SELECT id FROM jobs WHERE idem = ?", (idem,))
        return rows[0]["id"] if rows else None

    def start(self, job_id):
        return self._exec("UPDATE jobs SET status='running', started=?, progress=0 WHERE id=? AND status='queued'",
                          (time.time(), job_id)) == 1

    def progress(self, job_id, percent):
        self._exec("UPDATE jobs SET progress=? WHERE id=? AND status='running'", (percent, job_id))

    def finish(self, job_id, output=None, error=None):
        """Records the outcome once: a job already finished keeps its first outcome."""
        return self._exec(
            "UPDATE jobs SET status=?, finished=?, progress=?, output=?, error=? WHERE id=? AND status NOT IN"
            " ('done','failed')",
            ("failed" if error else "done", time.time(), 100 if not error else None,
             json.dumps(output) if output else None, json.dumps(error) if error else None, job_id)) == 1

    def unfinished(self):
        return [r["id"] for r in self._rows(
            "SELECT id FROM jobs WHERE status IN ('queued','running') ORDER BY created")]

    def requeue(self, job_id):
        self._exec("UPDATE jobs SET status='queued' WHERE id=? AND status='running'", (job_id,))

    def expired(self, before):
        return [r["id"] for r in self._rows(
            "SELECT id FROM jobs WHERE status IN ('done','failed') AND finished < ?", (before,))]

    def delete(self, job_id):
        self._exec("DELETE FROM jobs WHERE id=?", (job_id,))

    def count(self, status):
        return self._rows("SELECT COUNT(*) AS n FROM jobs WHERE status=?", (status,))[0]["n"]


def new_id():
    return uuid.uuid4().hex


def problem_of(exc, call_timeout=None):
    """The outcome of a failed job as the fields of its problem document."""
    import pressmark
    if isinstance(exc, opsmod.BadRequest):
        return {"status": 400, "type": exc.type, "title": "Bad request", "detail": exc.detail, "retryable": False}
    if isinstance(exc, pressmark.AutomationError):
        return {"status": 422, "type": "automation-error", "title": "The component raised an error",
                "detail": exc.description, "number": exc.number, "source": exc.source, "retryable": False}
    if isinstance(exc, TimeoutError):
        return {"status": 504, "type": "timeout", "title": "The job ran out of time",
                "detail": f"the job did not finish within {call_timeout} s", "retryable": True}
    return {"status": 500, "type": "internal-error", "title": "The job failed",
            "detail": f"{type(exc).__name__}: {exc}", "retryable": True}


def write_atomic(path, data):
    tmp = f"{path}.{uuid.uuid4().hex}.part"
    with open(tmp, "wb") as f:
        f.write(data)
    os.replace(tmp, path)


MEDIA = {".pdf": "application/pdf", ".ps": "application/postscript", ".png": "image/png", ".jpg": "image/jpeg",
         ".jpeg": "image/jpeg", ".bmp": "image/bmp", ".zip": "application/zip", ".json": "application/json",
         ".txt": "text/plain; charset=utf-8"}


def package(folder, out):
    """The operation's output as one result file in the job's folder: (path, media type, download name)."""
    if out.json is not None:
        path = os.path.join(folder, "result.json")
        write_atomic(path, json.dumps(out.json).encode())
    elif out.text is not None:
        path = os.path.join(folder, "result.txt")
        write_atomic(path, out.text.encode())
    elif len(out.files) == 1:
        path = out.files[0]
    else:
        path = os.path.join(folder, "result.zip")
        tmp = path + ".part"
        with zipfile.ZipFile(tmp, "w", zipfile.ZIP_DEFLATED) as z:
            for f in out.files:
                z.write(f, os.path.basename(f))
        os.replace(tmp, path)
    ext = os.path.splitext(path)[1].lower()
    return {"path": os.path.relpath(path, folder), "media": MEDIA.get(ext, "application/octet-stream"),
            "name": os.path.basename(path)}


def execute(pdf, folder, op_name, fields, inputs, progress):
    """Runs one job's operation; answers (output, error) as recorded in the store."""
    op = opsmod.OPS[op_name]
    ctx = opsmod.Ctx(pdf, folder, {k: [tuple(x) for x in v] for k, v in inputs.items()}, fields, progress)
    try:
        out = op.run(ctx)
        return package(ctx.out, out), None
    except Exception as e:  # every failure becomes the job's problem document
        return None, problem_of(e)


class Hooks:
    """Webhook calls after a job finishes: JSON signed with HMAC-SHA256, retried with backoff."""

    def __init__(self, settings, log):
        self.settings = settings
        self.log = log
        self._q = queue.Queue()
        threading.Thread(target=self._run, name="webhooks", daemon=True).start()

    def send(self, url, body, request_id):
        self._q.put((url, body, request_id))

    def sign(self, body):
        return "sha256=" + hmac.new(self.settings.webhook_secret.encode(), body, hashlib.sha256).hexdigest()

    def _run(self):
        from . import fetch
        while True:
            url, body, request_id = self._q.get()
            delay = 1.0
            for attempt in range(max(1, self.settings.webhook_retries)):
                try:
                    fetch.check_url(url, self.settings)
                    req = urllib.request.Request(url, data=body, method="POST", headers={
                        "Content-Type": "application/json", "X-Request-Id": request_id,
                        "X-Pressmark-Signature": self.sign(body)})
                    with fetch.opener(self.settings).open(req, timeout=10) as r:
                        if 200 <= r.status < 300:
                            break
                except Exception as e:
                    self.log.warning("webhook %s attempt %d failed: %s [request %s]", url, attempt + 1, e,
                                     request_id)
                time.sleep(delay)
                delay *= 2


class Engine:
    """Runs jobs in this process on worker threads, at most `queue_size` waiting."""

    def __init__(self, settings, store, metrics, log, on_finish):
        self.settings = settings
        self.store = store
        self.metrics = metrics
        self.log = log
        self.on_finish = on_finish
        self.workers = settings.workers or office_pool_size()
        self._q = queue.Queue()
        self._waiting = 0
        self._lock = threading.Lock()
        self._running = {}          # job id -> start time
        self._threads = []
        for _ in range(self.workers):
            self._spawn()
        threading.Thread(target=self._watch, name="job-watch", daemon=True).start()
        for job_id in store.unfinished():
            store.requeue(job_id)
            self._put(job_id)

    def _spawn(self):
        t = threading.Thread(target=self._work, name="job-worker", daemon=True)
        t.retired = False
        self._threads.append(t)
        t.start()

    def _put(self, job_id):
        with self._lock:
            self._waiting += 1
        self.metrics.queue_depth.labels("embedded").inc()
        self._q.put(job_id)

    def submit(self, job_id, queue_name):
        with self._lock:
            if self._waiting >= self.settings.queue_size:
                raise QueueFull()
        self._put(job_id)

    def readiness(self):
        alive = sum(1 for t in self._threads if t.is_alive() and not t.retired)
        details = {"engine": "embedded", "workers": alive, "waiting": self._waiting, "office": office_status()}
        return alive >= self.workers, details

    def _work(self):
        import pressmark
        me = threading.current_thread()
        pdf = None
        while not me.retired:
            job_id = self._q.get()
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
            output, error = execute(pdf, folder, job["op"], job["fields"], job["inputs"],
                                    lambda p, j=job_id: self.store.progress(j, p))
            with self._lock:
                self._running.pop(job_id, None)
            self.finish(job_id, output, error)

    def finish(self, job_id, output, error):
        if self.store.finish(job_id, output, error):
            self.on_finish(job_id)

    def _watch(self):
        """A job past its time-out fails; its thread is retired and another takes its place."""
        while True:
            time.sleep(0.5)
            now = time.time()
            with self._lock:
                late = [(j, t) for j, (s, t) in self._running.items() if now - s > self.settings.call_timeout]
                for j, t in late:
                    self._running.pop(j, None)
                    t.retired = True
            for j, t in late:
                self.log.warning("job %s ran past %s s and failed", j, self.settings.call_timeout)
                self.finish(j, None, problem_of(TimeoutError(), self.settings.call_timeout))
                with self._lock:
                    self._threads.remove(t)
                self._spawn()


def office_pool_size():
    """The size of this host's office pool (the office service reads the same setting)."""
    try:
        size = int(float(os.environ.get("PRESSMARK_OFFICE_POOL_SIZE", "0")))
    except ValueError:
        size = 0
    return size if size > 0 else max(1, os.cpu_count() or 1)


def office_status():
    """The shared office service's pool as its status text gives it ("" when none runs yet: offices start
    on the first office document)."""
    try:
        import pressmark
        return str(pressmark.Dispatch("Pressmark.OfficeControl").ServiceStatus)
    except Exception as e:
        return f"unknown: {e}"


def remove_job(settings, store, job_id):
    store.delete(job_id)
    shutil.rmtree(os.path.join(settings.jobs_dir(), job_id), ignore_errors=True)
