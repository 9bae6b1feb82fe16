"""Faults of the machinery under a job that are the service's to absorb, not
the caller's: an office program that dies or hangs under a call, and server
paths in the text of an error.

An office that ends before the job's output was complete says nothing about
the document: the job runs once more, from its inputs, on a fresh office
(the bridge starts one for the next call). A second loss in a row answers
503, retryable, with Retry-After: the office, or the machine under it, is in
trouble, and the caller's request may well succeed a little later.
"""

from __future__ import annotations

import errno
import logging
import os
import re
import sqlite3
from typing import Any, Callable, Dict, Iterable, Tuple, TypeVar

import pressmark

# The automation errors of an office process that ended (or was ended for
# not answering within its call time-out) under a call; documents open in
# it are lost, the files the job reads are not.
OFFICE_ENDED = 0x80010108   # RPC_E_DISCONNECTED
OFFICE_HUNG = 0x8001011F    # RPC_E_TIMEOUT
# Error 429 (cannot create object), as the bridge raises it when an office
# it starts ends, hangs or cannot be reached before it answers.
OFFICE_NOT_STARTED = 429
RETRY_AFTER = 5             # seconds a caller waits before it tries again after two losses

log = logging.getLogger("pressmark.service")
T = TypeVar("T")

# A path ends at whitespace, a quote, a bracket or punctuation that cannot
# close a file name the service made.
_PATH_TAIL = r"[^\s'\"()\[\]<>;,]*"


def office_lost(exc: BaseException) -> bool:
    """Whether a failure was the office program ending or hanging under the call, or failing to start."""
    if not isinstance(exc, pressmark.AutomationError):
        return False
    if (exc.number & 0xFFFFFFFF) in (OFFICE_ENDED, OFFICE_HUNG):
        return True
    return exc.number == OFFICE_NOT_STARTED and str(exc.description).startswith("The office program")


class OfficeUnavailable(Exception):
    """The office was lost on the job's run and on its second run."""


def run_twice(attempt: Callable[[], T], before_again: Callable[[], None]) -> T:
    """attempt(), and when an office was lost under it, before_again() (which clears what the first run left)
    and attempt() once more; a second loss raises OfficeUnavailable."""
    try:
        return attempt()
    except Exception as e:
        if not office_lost(e):
            raise
        log.warning("the office was lost under a job (%s); running it again on a fresh office", e)
    before_again()
    try:
        return attempt()
    except Exception as e:
        if office_lost(e):
            raise OfficeUnavailable(str(e)) from e
        raise


def office_unavailable() -> Dict[str, Any]:
    """The problem fields of a job whose office was lost on both of its runs."""
    return {"status": 503, "type": "office-unavailable", "title": "The office program failed",
            "detail": "the office program ended twice while running this job; the job was not done",
            "retryable": True, "retryAfter": RETRY_AFTER}


# Error 61, as the component raises it when a write finds no room.
DISK_FULL = 61


def no_space(exc: BaseException) -> bool:
    """Whether a failure was a full disk (or quota) under the state, the store or the component's writes."""
    if isinstance(exc, OSError):
        return exc.errno in (errno.ENOSPC, errno.EDQUOT)
    if isinstance(exc, sqlite3.OperationalError):
        return "disk is full" in str(exc)
    return isinstance(exc, pressmark.AutomationError) and exc.number == DISK_FULL


def insufficient_storage() -> Dict[str, Any]:
    """The problem fields of a job or request that found its folder full."""
    return {"status": 507, "type": "insufficient-storage", "title": "No room to store the job",
            "detail": "the service's storage is full; nothing of this request was kept",
            "retryable": True, "retryAfter": 30}


def scrub(text: str, inputs: Iterable[Tuple[str, str]], roots: Iterable[str]) -> str:
    """The text with every server path gone: an uploaded file's path becomes the name it was uploaded as, and any
    other path under one of the service's folders becomes its last part."""
    for path, name in sorted(inputs, key=lambda pn: -len(pn[0])):
        if path:
            text = text.replace(path, name)
    for root in sorted({os.path.normpath(r) for r in roots if r}, key=len, reverse=True):
        if root != os.sep:
            # The root itself, or a path below it; not a longer name that starts like it.
            text = re.sub(re.escape(root) + r"(?:(/" + _PATH_TAIL + r")|(?=[\s'\"()\[\]<>;,]|$))", _last_part, text)
    return text


def _last_part(match: "re.Match[str]") -> str:
    return os.path.basename((match.group(1) or "").rstrip("/")) or "…"
