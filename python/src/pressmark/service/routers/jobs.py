"""A job's status, result and removal; a job is seen by the key that made it only."""

from __future__ import annotations

from typing import Optional

from fastapi import APIRouter, Depends, Request
from fastapi.responses import JSONResponse, Response
from starlette.concurrency import run_in_threadpool

from ..dependencies import get_service
from ..guard import JOB_ID
from ..problems import CANCELLED
from ..service import Service
from ..store import Job
from ..submission import owner
from ..views import accepted, no_job, result_response, status_of

router = APIRouter(prefix="/v1/jobs", tags=["jobs"])


def _own(svc: Service, request: Request, job_id: str) -> Optional[Job]:
    """The job when it exists and the caller's key made it: another key's job answers as no job at all."""
    if not JOB_ID.fullmatch(job_id):
        return None
    job = svc.store.get(job_id)
    return job if job is not None and job.owner == owner(request) else None


@router.get("/{job_id}")
async def job_status(request: Request, job_id: str, svc: Service = Depends(get_service)) -> Response:
    job = _own(svc, request, job_id)
    if job is None:
        return no_job(request, "no such job")
    return JSONResponse(status_of(job))


@router.get("/{job_id}/result")
async def job_result(request: Request, job_id: str, svc: Service = Depends(get_service)) -> Response:
    job = _own(svc, request, job_id)
    if job is None:
        return no_job(request, "no such job")
    if not job.done:
        return accepted(job)
    return result_response(svc.settings.jobs_dir(), request, job)


@router.delete("/{job_id}", status_code=204)
async def job_delete(request: Request, job_id: str, svc: Service = Depends(get_service)) -> Response:
    job = _own(svc, request, job_id)
    if job is None:
        return no_job(request, "no such job")
    if not job.done:
        svc.store.finish(job_id, None, CANCELLED)
    await run_in_threadpool(svc.remove, job_id)
    return Response(status_code=204)
