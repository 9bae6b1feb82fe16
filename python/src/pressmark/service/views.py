"""How a job looks to callers: its status document, and its answer."""

from __future__ import annotations

import os
from typing import Any, Dict, Optional

from fastapi import Request
from fastapi.responses import FileResponse, JSONResponse, Response

from .conventions import download_name
from .problems import ProblemFields, problem_body, problem_type
from .store import Job


def status_of(job: Job) -> Dict[str, Any]:
    out: Dict[str, Any] = {"id": job.id, "route": job.op, "status": job.status, "progress": job.progress,
                           "created": job.created, "started": job.started, "finished": job.finished,
                           "requestId": job.request_id}
    if job.status == "done":
        out["result"] = f"/v1/jobs/{job.id}/result"
    if job.status == "failed" and job.error:
        out["error"] = dict(job.error, type=problem_type(job.error["type"]))
    return out


def problem(request: Request, status: int, type_: str, title: str, detail: str,
            headers: Optional[Dict[str, str]] = None, **extra: Any) -> Response:
    rid = str(request.scope.get("pressmark.request_id", ""))
    return Response(problem_body(status, type_, title, detail, rid, **extra), status_code=status,
                    media_type="application/problem+json", headers=headers)


def job_problem(request: Request, error: ProblemFields) -> Response:
    e = dict(error)
    # A failure worth retrying later says when, in the header too.
    headers = {"Retry-After": str(e["retryAfter"])} if "retryAfter" in e else None
    return problem(request, e.pop("status"), e.pop("type"), e.pop("title"), e.pop("detail"), headers, **e)


def no_job(request: Request, detail: str) -> Response:
    return problem(request, 404, "job-not-found", "No such job", detail)


def accepted(job: Job) -> Response:
    return JSONResponse(status_of(job), status_code=202, headers={"Location": f"/v1/jobs/{job.id}"})


def result_response(jobs_dir: str, request: Request, job: Job) -> Response:
    if job.error is not None:
        return job_problem(request, job.error)
    out = job.output
    path = os.path.join(jobs_dir, job.id, "out", out["path"]) if out else ""
    if out is None or not os.path.exists(path):
        return problem(request, 410, "gone", "Result removed", "the job's result has expired")
    return FileResponse(path, media_type=out["media"], filename=download_name(job, out["name"]))
