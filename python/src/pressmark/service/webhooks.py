"""Webhook calls after a job finishes: JSON signed with HMAC-SHA256, retried
with backoff."""

from __future__ import annotations

import hashlib
import hmac
import logging
import queue
import threading
import urllib.request
from typing import Optional, Tuple

from . import fetch
from .config import Settings

log = logging.getLogger("pressmark.service")

Delivery = Tuple[str, bytes, str]   # url, body, request id


class Hooks:
    def __init__(self, settings: Settings) -> None:
        self.settings = settings
        self._q: "queue.Queue[Optional[Delivery]]" = queue.Queue()
        self._stopping = threading.Event()
        self._thread = threading.Thread(target=self._run, name="webhooks", daemon=True)

    def start(self) -> None:
        self._thread.start()

    def stop(self) -> None:
        self._stopping.set()
        self._q.put(None)

    def send(self, url: str, body: bytes, request_id: str) -> None:
        self._q.put((url, body, request_id))

    def sign(self, body: bytes) -> str:
        return "sha256=" + hmac.new(self.settings.webhook_secret.encode(), body, hashlib.sha256).hexdigest()

    def _run(self) -> None:
        while True:
            item = self._q.get()
            if item is None:
                return
            url, body, request_id = item
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
                    log.warning("webhook %s attempt %d failed: %s [request %s]", url, attempt + 1, e, request_id)
                if self._stopping.wait(delay):
                    return
                delay *= 2
