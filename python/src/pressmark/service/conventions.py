"""The headers and habits of the common conversion-service convention, on
the routes under /forms: the download name of the result
(Gotenberg-Output-Filename), the result uploaded to a webhook instead of
answered (Gotenberg-Webhook-*: the request is answered 204 at once, the
job runs on the service's own jobs and its result, or its failure as
{status, message}, is sent through the service's webhook sender), and inputs
the service downloads itself (downloadFrom). Every address goes through the
URL policy of fetch.py; an address it refuses answers 403, as that
convention answers."""

from __future__ import annotations

import json
import os
import re
import urllib.parse
from typing import Any, Dict, List, Optional, Tuple

from fastapi import Request

from . import fetch
from .config import Settings
from .problems import BadRequest
from .store import Job

PREFIX = "/forms/"
TRACE = "Gotenberg-Trace"
FILENAME = "gotenberg-output-filename"
WEBHOOK = "gotenberg-webhook-"
METHODS = ("POST", "PUT", "PATCH")


class Forbidden(BadRequest):
    """An address the URL policy refuses: answered 403."""


def applies(request: Request) -> bool:
    return request.url.path.startswith(PREFIX)


def extra_headers(text: str, what: str) -> Dict[str, str]:
    """A JSON object of header names to values, each a header the service may send."""
    try:
        given = json.loads(text) if text.strip() else {}
    except (ValueError, RecursionError):
        raise BadRequest(f"{what} is not JSON", "invalid-argument")
    if not isinstance(given, dict):
        raise BadRequest(f"{what} is a JSON object of header names to values", "invalid-argument")
    out: Dict[str, str] = {}
    for name, value in given.items():
        if not fetch.sendable_header(name, value):
            raise BadRequest(f'{what}: "{str(name)[:100]}" is not a header the service sends', "invalid-argument")
        out[name] = value
    return out


def safe_name(text: str) -> str:
    """A caller's download name as a bare file name: no folder, no control character or quote (so no header can
    be injected through it), at most 200 characters; "" when nothing is left."""
    base = re.split(r"[/\\]", text)[-1]
    kept = "".join(c for c in base if c.isprintable() and c not in '"<>:|?*')
    return kept.strip().lstrip(".").strip()[:200]


def check(url: str, settings: Settings) -> None:
    try:
        fetch.check_url(url, settings)
    except BadRequest as e:
        raise Forbidden(e.detail, e.type)


def read(request: Request, settings: Settings) -> Optional[Dict[str, Any]]:
    """What the request's headers ask beyond the form, to be kept with its job; raises BadRequest (Forbidden for
    an address the policy refuses). None when they ask nothing."""
    h = request.headers
    out: Dict[str, Any] = {}
    if FILENAME in h:
        out["filename"] = safe_name(h[FILENAME])
    given = {k.lower()[len(WEBHOOK):]: v for k, v in h.items() if k.lower().startswith(WEBHOOK)}
    if given:
        known = {"url", "error-url", "method", "error-method", "extra-http-headers"}
        unknown = sorted(set(given) - known)
        if unknown:
            raise BadRequest(f"not supported by this service: {', '.join('Gotenberg-Webhook-' + u for u in unknown)}",
                             "unsupported-field")
        if not given.get("url") or not given.get("error-url"):
            raise BadRequest("a webhook needs both Gotenberg-Webhook-Url and Gotenberg-Webhook-Error-Url",
                             "invalid-argument")
        methods = [given.get(k, "POST").strip().upper() or "POST" for k in ("method", "error-method")]
        for m in methods:
            if m not in METHODS:
                raise BadRequest(f'webhook method "{m[:20]}": POST, PUT or PATCH', "invalid-argument")
        for k in ("url", "error-url"):
            check(given[k], settings)
        out["webhook"] = {"url": given["url"], "method": methods[0], "errorUrl": given["error-url"],
                          "errorMethod": methods[1],
                          "headers": extra_headers(given.get("extra-http-headers", ""),
                                                   "Gotenberg-Webhook-Extra-Http-Headers")}
    return out or None


def download_name(job: Job, name: str) -> str:
    """The result's download name: the caller's name with the result's extension, or the job's own."""
    wanted = (job.convention or {}).get("filename") or ""
    if not wanted:
        return name
    ext = os.path.splitext(name)[1]
    return wanted if wanted.lower().endswith(ext.lower()) else wanted + ext


def delivery(job: Job) -> Optional[Tuple[str, str, Dict[str, str], bytes, str]]:
    """Where and how a finished job's webhook goes: (url, method, headers, body, result file in the jobs folder);
    None when the job asked for none."""
    hook = (job.convention or {}).get("webhook")
    if not hook:
        return None
    headers = {"User-Agent": "Pressmark", TRACE: job.request_id, **hook["headers"]}
    if job.status == "done" and job.output:
        name = download_name(job, job.output["name"])
        plain = name.encode("ascii", "replace").decode().replace("?", "_")
        headers.update({"Content-Type": job.output["media"], "Content-Disposition":
                        f"attachment; filename=\"{plain}\"; filename*=utf-8''{urllib.parse.quote(name)}"})
        return hook["url"], hook["method"], headers, b"", os.path.join(job.id, "out", job.output["path"])
    error = job.error or {"status": 500, "detail": "the job failed"}
    body = json.dumps({"status": error.get("status", 500), "message": error.get("detail", "")}).encode()
    headers["Content-Type"] = "application/json; charset=UTF-8"
    return hook["errorUrl"], hook["errorMethod"], headers, body, ""


def download_list(text: str) -> List[Tuple[str, Dict[str, str], str]]:
    """downloadFrom: (url, extra headers, the input it feeds: "" the route's files, else the named one)."""
    try:
        items = json.loads(text)
    except (ValueError, RecursionError):
        raise BadRequest("downloadFrom is not JSON", "invalid-argument")
    if not isinstance(items, list) or not all(isinstance(i, dict) and isinstance(i.get("url"), str) for i in items):
        raise BadRequest('downloadFrom is a JSON list of {"url": ..., "extraHttpHeaders": {...}}',
                         "invalid-argument")
    out = []
    for item in items:
        unknown = sorted(set(item) - {"url", "extraHttpHeaders", "embedded", "field"})
        if unknown:
            raise BadRequest(f"downloadFrom: not supported by this service: {', '.join(map(str, unknown))}",
                             "unsupported-field")
        field = item.get("field") or ("embedded" if item.get("embedded") is True else "")
        if not isinstance(field, str):
            raise BadRequest("downloadFrom: field names an input", "invalid-argument")
        out.append((item["url"], extra_headers(json.dumps(item.get("extraHttpHeaders") or {}),
                                               "downloadFrom extraHttpHeaders"), field))
    return out
