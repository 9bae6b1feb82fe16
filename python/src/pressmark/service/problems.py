"""Problem documents (RFC 9457) and the exceptions that become them.

A problem's `type` is `urn:pressmark:problem:<name>`; the names are stable,
callers branch on them.
"""

from __future__ import annotations

import json
from typing import Any, Dict, Optional

import pressmark

from . import faults

PROBLEM_TYPE = "urn:pressmark:problem:"

# A job's failure as recorded in the store: status, type (the name), title,
# detail, retryable and, for the component's errors, number and source.
ProblemFields = Dict[str, Any]


class BadRequest(Exception):
    """The request cannot be done as asked: answered 400, never retried."""

    def __init__(self, detail: str, type_: str = "bad-request") -> None:
        super().__init__(detail)
        self.detail = detail
        self.type = type_


class QueueFull(Exception):
    """No room for another waiting job: answered 429."""


class Unavailable(Exception):
    """The engine cannot take a job now (its broker is unreachable): answered 503, retryable."""


class BodyTooLarge(Exception):
    """The request body grew past max_body while it was read: answered 413."""


class BodyTimeout(Exception):
    """A piece of the request body did not come within body_timeout: answered 408, and the connection closed."""


class ClientGone(Exception):
    """The client went away while its body was read: nobody is left to answer."""


class Unprocessable(Exception):
    """The work was done but its result is not what was asked (a PDF/A that fails its checks): answered 422."""

    def __init__(self, detail: str, type_: str) -> None:
        super().__init__(detail)
        self.detail = detail
        self.type = type_


class JobProblem(Exception):
    """A job's failure that brings its own problem fields (status, type, title, detail, retryable, ...)."""

    def __init__(self, fields: "ProblemFields") -> None:
        super().__init__(fields.get("detail", ""))
        self.fields = fields


class NoOutput(Exception):
    """The operation ended without writing its result."""


def problem_type(name: str) -> str:
    return PROBLEM_TYPE + name


def problem_body(status: int, type_: str, title: str, detail: str, request_id: str, **extra: Any) -> bytes:
    body: Dict[str, Any] = {"type": problem_type(type_), "title": title, "status": status, "detail": detail,
                            "requestId": request_id, "retryable": extra.pop("retryable", status in (429, 503, 504))}
    body.update(extra)
    return json.dumps(body).encode()


def problem_of(exc: BaseException, call_timeout: Optional[float] = None) -> ProblemFields:
    """The outcome of a failed job as the fields of its problem document."""
    if faults.no_space(exc):
        return faults.insufficient_storage()
    if isinstance(exc, JobProblem):
        return dict(exc.fields)
    if isinstance(exc, BadRequest):
        return {"status": 400, "type": exc.type, "title": "Bad request", "detail": exc.detail, "retryable": False}
    if isinstance(exc, Unprocessable):
        return {"status": 422, "type": exc.type, "title": "The result failed its checks", "detail": exc.detail,
                "retryable": False}
    if isinstance(exc, pressmark.AutomationError):
        return {"status": 422, "type": "automation-error", "title": "The component raised an error",
                "detail": exc.description, "number": exc.number, "source": exc.source, "retryable": False}
    if isinstance(exc, NoOutput):
        return {"status": 422, "type": "no-output", "title": "The job made no output",
                "detail": f"the operation ended without writing its result: {exc}", "retryable": False}
    if isinstance(exc, TimeoutError):
        return {"status": 504, "type": "timeout", "title": "The job ran out of time",
                "detail": f"the job did not finish within {call_timeout} s", "retryable": True}
    return {"status": 500, "type": "internal-error", "title": "The job failed",
            "detail": f"{type(exc).__name__}: {exc}", "retryable": True}


CANCELLED: ProblemFields = {"status": 410, "type": "cancelled", "title": "Cancelled",
                            "detail": "the job was deleted", "retryable": False}
