"""A job's status, result and removal."""

from __future__ import annotations

from fastapi import APIRouter, Depends, Request
from fastapi.responses import JSONResponse, Response
from starlette.concurrency import run_in_threadpool

from ..dependencies import get_service
from ..problems import CANCELLED
from ..service import Service
from ..views import accepted, no_job, result_response, status_of

router = APIRouter(prefix="/v1/jobs", tags=["jobs"])


@router.get("/{job_id}")
async def job_status(request: Request, job_id: str, svc: Service = Depends(get_service)) -> Response:
    job = svc.store.get(job_id)
    if job is None:
        return no_job(request, f"no job {job_id}")
    return JSONResponse(status_of(job))


@router.get("/{job_id}/result")
async def job_result(request: Request, job_id: str, svc: Service = Depends(get_service)) -> Response:
    job = svc.store.get(job_id)
    if job is None:
        return no_job(request, f"no job {job_id}")
    if not job.done:
        return accepted(job)
    return result_response(svc.settings.jobs_dir(), request, job)


@router.delete("/{job_id}", status_code=204)
async def job_delete(request: Request, job_id: str, svc: Service = Depends(get_service)) -> Response:
    job = svc.store.get(job_id)
    if job is None:
        return no_job(request, f"no job {job_id}")
    if not job.done:
        svc.store.finish(job_id, None, CANCELLED)
    await run_in_threadpool(svc.remove, job_id)
    return Response(status_code=204)
