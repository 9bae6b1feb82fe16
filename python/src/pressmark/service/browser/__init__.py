"""Headless Chromium for web pages: a DevTools client over a pipe, the
browser's process, a warm supervised pool and the run of one page.

The pool of a process starts with its first page and lives as long as the
process; `configure` gives it the service's settings (at the service's start
and in each farm worker)."""

from __future__ import annotations

import threading
from typing import Any, Optional

from .devtools import CommandFailed
from .job import ORIGIN, PageFailed, PageJob, http_fetcher
from .pool import Pool

_settings: Any = None
_size = 0
_pool: Optional[Pool] = None
_lock = threading.Lock()


def configure(settings: Any, jobs_at_once: int = 0) -> None:
    """The settings of this process's pool; a process that runs `jobs_at_once` pages at most (a farm worker's
    process: one) keeps no more browsers than that."""
    global _settings, _size
    _settings = settings
    _size = min(settings.chromium_pool, jobs_at_once) if jobs_at_once else settings.chromium_pool


def settings() -> Any:
    if _settings is None:
        raise RuntimeError("the browser's settings were not given")
    return _settings


def pool() -> Pool:
    global _pool
    with _lock:
        if _pool is None:
            s = settings()
            _pool = Pool(s.chromium, s.chromium_user, s.chromium_heap_mb, _size)
        return _pool


__all__ = ["CommandFailed", "ORIGIN", "PageFailed", "PageJob", "Pool", "configure", "http_fetcher", "pool", "settings"]
