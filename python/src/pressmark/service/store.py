"""The job store: one SQLite file of job records, safe to use from any thread.

A job's documents live in its folder (in/ for uploads, out/ for results);
its record lives here, so accepted jobs outlive the process.
"""

from __future__ import annotations

import contextlib
import dataclasses
import json
import os
import shutil
import sqlite3
import threading
import time
import uuid
from typing import Any, Dict, List, Optional, Sequence

from .problems import ProblemFields

FINISHED = ("done", "failed")

# form name -> [[path, original file name], ...]
Inputs = Dict[str, List[List[str]]]
# The result as recorded: its path in the job's folder, media type and download name.
OutputRecord = Dict[str, str]


@dataclasses.dataclass
class Job:
    id: str
    op: str
    status: str
    progress: Optional[int]
    created: float
    started: Optional[float]
    finished: Optional[float]
    request_id: str
    idem: Optional[str]
    webhook: Optional[str]
    fields: Dict[str, str]
    inputs: Inputs
    output: Optional[OutputRecord]
    error: Optional[ProblemFields]
    queue: str
    owner: str = ""                     # digest of the API key that made the job ("" without keys)
    fingerprint: Optional[str] = None   # digest of the request, when it carried an idempotency key
    # The compatibility routes' headers that outlive the request: the result's download name and where its
    # result (or failure) is uploaded.
    convention: Optional[Dict[str, Any]] = None

    @property
    def done(self) -> bool:
        return self.status in FINISHED


COLUMNS = [f.name for f in dataclasses.fields(Job)]
JSON_COLUMNS = ("fields", "inputs", "output", "error", "convention")


def new_id() -> str:
    return uuid.uuid4().hex


def write_atomic(path: str, data: bytes) -> None:
    """Written beside the target under a fresh name and renamed when complete."""
    tmp = f"{path}.{uuid.uuid4().hex}.part"
    try:
        with open(tmp, "wb") as f:
            f.write(data)
        os.replace(tmp, path)
    except BaseException:
        with contextlib.suppress(OSError):
            os.remove(tmp)
        raise


class Store:
    """The job records, one SQLite file; safe to use from any thread."""

    def __init__(self, path: str) -> None:
        folder = os.path.dirname(path)
        os.makedirs(folder, mode=0o700, exist_ok=True)
        # The store holds what callers sent (passwords among the fields): this user's only.
        os.chmod(folder, 0o700)
        os.close(os.open(path, os.O_CREAT | os.O_RDWR, 0o600))
        os.chmod(path, 0o600)
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
        # Columns added since the first stores were made.
        have = {r[1] for r in self._db.execute("PRAGMA table_info(jobs)")}
        for column in ("owner TEXT DEFAULT ''", "fingerprint TEXT", "convention TEXT"):
            if column.split()[0] not in have:
                self._db.execute(f"ALTER TABLE jobs ADD COLUMN {column}")
        # Webhook deliveries waiting or being sent: they outlive the process.
        self._db.execute("""CREATE TABLE IF NOT EXISTS deliveries (
            id TEXT PRIMARY KEY, url TEXT, body BLOB, request_id TEXT, attempts INTEGER, due REAL)""")
        have = {r[1] for r in self._db.execute("PRAGMA table_info(deliveries)")}
        for column in ("method TEXT DEFAULT 'POST'", "headers TEXT DEFAULT '{}'", "file TEXT DEFAULT ''"):
            if column.split()[0] not in have:
                self._db.execute(f"ALTER TABLE deliveries ADD COLUMN {column}")

    def close(self) -> None:
        with self._lock:
            self._db.close()

    def _rows(self, sql: str, args: Sequence[Any] = ()) -> List[Dict[str, Any]]:
        with self._lock:
            cur = self._db.execute(sql, args)
            names = [d[0] for d in cur.description] if cur.description else []
            return [dict(zip(names, r)) for r in cur.fetchall()]

    def _exec(self, sql: str, args: Sequence[Any] = ()) -> int:
        with self._lock:
            return self._db.execute(sql, args).rowcount

    def add(self, job_id: str, op: str, request_id: str, idem: Optional[str], webhook: Optional[str],
            fields: Dict[str, str], inputs: Inputs, queue: str, owner: str = "",
            fingerprint: Optional[str] = None, convention: Optional[Dict[str, Any]] = None) -> Optional[str]:
        """Records a new job; answers the job already recorded under its idempotency key, if any."""
        with self._lock:
            try:
                self._db.execute(
                    "INSERT INTO jobs (id, op, status, progress, created, request_id, idem, webhook, fields,"
                    " inputs, queue, owner, fingerprint, convention) VALUES (?,?,?,?,?,?,?,?,?,?,?,?,?,?)",
                    (job_id, op, "queued", 0, time.time(), request_id, idem, webhook, json.dumps(fields),
                     json.dumps(inputs), queue, owner, fingerprint, json.dumps(convention) if convention else None))
                return None
            except sqlite3.IntegrityError:
                row = self._db.execute("SELECT id FROM jobs WHERE idem = ?", (idem,)).fetchone()
                if row is None:
                    raise
                return str(row[0])

    def get(self, job_id: str) -> Optional[Job]:
        rows = self._rows("SELECT * FROM jobs WHERE id = ?", (job_id,))
        if not rows:
            return None
        row = rows[0]
        for k in JSON_COLUMNS:
            row[k] = json.loads(row[k]) if row[k] else None
        row["fields"] = row["fields"] or {}
        row["inputs"] = row["inputs"] or {}
        row["owner"] = row["owner"] or ""
        return Job(**{k: row[k] for k in COLUMNS})

    def by_idem(self, idem: str) -> Optional[str]:
        rows = self._rows("SELECT id FROM jobs WHERE idem = ?", (idem,))
        return str(rows[0]["id"]) if rows else None

    def start(self, job_id: str) -> bool:
        return self._exec("UPDATE jobs SET status='running', started=?, progress=0 WHERE id=? AND status='queued'",
                          (time.time(), job_id)) == 1

    def progress(self, job_id: str, percent: int) -> None:
        self._exec("UPDATE jobs SET progress=? WHERE id=? AND status='running'", (percent, job_id))

    def finish(self, job_id: str, output: Optional[OutputRecord] = None,
               error: Optional[ProblemFields] = None) -> bool:
        """Records the outcome once: a job already finished keeps its first outcome."""
        return self._exec(
            "UPDATE jobs SET status=?, finished=?, progress=?, output=?, error=? WHERE id=? AND status NOT IN"
            " ('done','failed')",
            ("failed" if error else "done", time.time(), 100 if not error else None,
             json.dumps(output) if output else None, json.dumps(error) if error else None, job_id)) == 1

    def unfinished(self) -> List[str]:
        return [str(r["id"]) for r in self._rows(
            "SELECT id FROM jobs WHERE status IN ('queued','running') ORDER BY created")]

    def requeue(self, job_id: str) -> None:
        self._exec("UPDATE jobs SET status='queued' WHERE id=? AND status='running'", (job_id,))

    def expired(self, before: float) -> List[str]:
        return [str(r["id"]) for r in self._rows(
            "SELECT id FROM jobs WHERE status IN ('done','failed') AND finished < ?", (before,))]

    def finished_oldest_first(self) -> List[str]:
        return [str(r["id"]) for r in self._rows(
            "SELECT id FROM jobs WHERE status IN ('done','failed') ORDER BY finished")]

    def delete(self, job_id: str) -> None:
        self._exec("DELETE FROM jobs WHERE id=?", (job_id,))

    def queued_by_queue(self) -> Dict[str, int]:
        return {str(r["queue"]): int(r["n"]) for r in self._rows(
            "SELECT queue, COUNT(*) AS n FROM jobs WHERE status='queued' GROUP BY queue")}

    def count(self, status: str) -> int:
        return int(self._rows("SELECT COUNT(*) AS n FROM jobs WHERE status=?", (status,))[0]["n"])


@dataclasses.dataclass
class Delivery:
    """One webhook event: its id stays the same across attempts. A delivery that uploads a job's result names
    the file (in the jobs folder, read at each attempt) instead of carrying it."""
    id: str
    url: str
    body: bytes
    request_id: str
    attempts: int
    due: float
    method: str = "POST"
    headers: Dict[str, str] = dataclasses.field(default_factory=dict)
    file: str = ""


class Deliveries:
    """The webhook deliveries not yet done, in the job store's file."""

    def __init__(self, store: Store) -> None:
        self._store = store

    def add(self, delivery: Delivery) -> None:
        self._store._exec("INSERT INTO deliveries (id, url, body, request_id, attempts, due, method, headers, file)"
                          " VALUES (?,?,?,?,?,?,?,?,?)",
                          (delivery.id, delivery.url, delivery.body, delivery.request_id, delivery.attempts,
                           delivery.due, delivery.method, json.dumps(delivery.headers), delivery.file))

    def pending(self) -> List[Delivery]:
        return [Delivery(r["id"], r["url"], bytes(r["body"]), r["request_id"], int(r["attempts"]), float(r["due"]),
                         r["method"] or "POST", json.loads(r["headers"] or "{}"), r["file"] or "")
                for r in self._store._rows("SELECT * FROM deliveries ORDER BY due")]

    def retry(self, delivery_id: str, attempts: int, due: float) -> None:
        self._store._exec("UPDATE deliveries SET attempts=?, due=? WHERE id=?", (attempts, due, delivery_id))

    def remove(self, delivery_id: str) -> None:
        self._store._exec("DELETE FROM deliveries WHERE id=?", (delivery_id,))


def remove_job(jobs_dir: str, store: Store, job_id: str) -> None:
    store.delete(job_id)
    shutil.rmtree(os.path.join(jobs_dir, job_id), ignore_errors=True)
