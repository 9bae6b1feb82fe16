"""Webhook calls after a job finishes, signed in the Standard Webhooks
scheme: `webhook-id` (one per event, kept across attempts),
`webhook-timestamp` (the attempt's, in seconds) and `webhook-signature:
v1,<base64 of HMAC-SHA256 over "<id>.<timestamp>.<body>">`, keyed with the
secret given as `whsec_<base64>`.

Deliveries are recorded in the job store before the first attempt and
removed when done, so a restart resumes them; a small pool sends them, each
failed attempt waits an exponentially growing, jittered delay, and a slow
receiver holds one sender only.
"""

from __future__ import annotations

import base64
import hashlib
import heapq
import http.client
import hmac
import logging
import os
import random
import threading
import time
import uuid
from concurrent.futures import ThreadPoolExecutor
from typing import Dict, List, Optional, Protocol, Tuple

from . import fetch
from .config import Settings
from .problems import BadRequest
from .store import Deliveries, Delivery, Store

log = logging.getLogger("pressmark.service")

SENDERS = 4
ATTEMPT_TIMEOUT = 10.0
MAX_DELAY = 300.0


def new_id() -> str:
    return "msg_" + uuid.uuid4().hex


def signing_key(secret: str) -> bytes:
    """The HMAC key: the bytes of a `whsec_` secret, or a plain secret's own."""
    if secret.startswith("whsec_"):
        return base64.b64decode(secret[len("whsec_"):], validate=True)
    return secret.encode()


def signature(key: bytes, msg_id: str, timestamp: int, body: bytes) -> str:
    mac = hmac.new(key, f"{msg_id}.{timestamp}.".encode() + body, hashlib.sha256).digest()
    return "v1," + base64.b64encode(mac).decode()


def headers(settings: Settings, msg_id: str, body: bytes, request_id: str) -> Dict[str, str]:
    timestamp = int(time.time())
    out = {"Content-Type": "application/json", "X-Request-Id": request_id, "webhook-id": msg_id,
           "webhook-timestamp": str(timestamp)}
    if settings.webhook_secret:
        out["webhook-signature"] = signature(signing_key(settings.webhook_secret), msg_id, timestamp, body)
    return out


class Refused(Exception):
    """The receiver's address is not allowed: trying again cannot help."""


def attempt(settings: Settings, msg_id: str, url: str, body: bytes, request_id: str, method: str = "POST",
            extra: Optional[Dict[str, str]] = None, file: str = "") -> bool:
    """One attempt; True when the receiver took the event (2xx). Raises Refused for an address not allowed.
    `extra` headers go with the signed ones (and may set their Content-Type); with `file` the body is that file's
    bytes, read now: a result is uploaded, not kept twice."""
    try:
        if file:
            with open(file, "rb") as f:
                body = f.read()
        sent = {**headers(settings, msg_id, body, request_id), **(extra or {})}
        with fetch.request(method, url, settings, body, sent, timeout=ATTEMPT_TIMEOUT) as r:
            return 200 <= r.status < 300
    except BadRequest as e:
        raise Refused(e.detail)
    except FileNotFoundError:
        raise Refused("the job's result was removed before it could be sent")
    except (OSError, ValueError, http.client.HTTPException) as e:
        log.warning("webhook %s failed: %s [request %s]", url, e, request_id)
        return False


def backoff(attempts: int) -> float:
    """The wait after the attempts so far: doubling from one second, up to five minutes, with jitter."""
    return min(MAX_DELAY, 2.0 ** max(0, attempts - 1)) * random.uniform(0.5, 1.0)


class Sender(Protocol):
    def start(self) -> None: ...

    def stop(self) -> None: ...

    def send(self, url: str, body: bytes, request_id: str, method: str = "POST",
             extra: Optional[Dict[str, str]] = None, file: str = "") -> None: ...


class Hooks:
    """The embedded engine's webhook sender."""

    def __init__(self, settings: Settings, store: Store) -> None:
        self.settings = settings
        self._deliveries = Deliveries(store)
        self._due: List[Tuple[float, str, Delivery]] = []
        self._cond = threading.Condition()
        self._stopping = False
        self._pool: Optional[ThreadPoolExecutor] = None
        self._thread = threading.Thread(target=self._schedule, name="webhooks", daemon=True)

    def start(self) -> None:
        self._pool = ThreadPoolExecutor(SENDERS, thread_name_prefix="webhook")
        with self._cond:
            for d in self._deliveries.pending():
                heapq.heappush(self._due, (d.due, d.id, d))
        self._thread.start()

    def stop(self) -> None:
        with self._cond:
            self._stopping = True
            self._cond.notify_all()
        if self._pool is not None:
            self._pool.shutdown(wait=False, cancel_futures=True)

    def send(self, url: str, body: bytes, request_id: str, method: str = "POST",
             extra: Optional[Dict[str, str]] = None, file: str = "") -> None:
        d = Delivery(new_id(), url, body, request_id, 0, time.time(), method, dict(extra or {}), file)
        self._deliveries.add(d)
        self._push(d)

    def _push(self, d: Delivery) -> None:
        with self._cond:
            heapq.heappush(self._due, (d.due, d.id, d))
            self._cond.notify()

    def _schedule(self) -> None:
        while True:
            with self._cond:
                while not self._stopping and (not self._due or self._due[0][0] > time.time()):
                    self._cond.wait(self._due[0][0] - time.time() if self._due else None)
                if self._stopping:
                    return
                _, _, d = heapq.heappop(self._due)
            assert self._pool is not None
            try:
                self._pool.submit(self._attempt, d)
            except RuntimeError:
                return  # the pool has shut down: the delivery stays recorded for the next start

    def _attempt(self, d: Delivery) -> None:
        try:
            done = attempt(self.settings, d.id, d.url, d.body, d.request_id, d.method, d.headers,
                           os.path.join(self.settings.jobs_dir(), d.file) if d.file else "")
        except Refused as e:
            log.warning("webhook %s refused: %s [request %s]", d.url, e, d.request_id)
            done = True
        d.attempts += 1
        if done or d.attempts >= max(1, self.settings.webhook_retries):
            if not done:
                log.warning("webhook %s given up after %d attempts [request %s]", d.url, d.attempts, d.request_id)
            self._deliveries.remove(d.id)
            return
        d.due = time.time() + backoff(d.attempts)
        self._deliveries.retry(d.id, d.attempts, d.due)
        self._push(d)
