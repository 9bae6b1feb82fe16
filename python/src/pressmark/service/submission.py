"""The flow of a route that makes a job: webhook address, form,
idempotency, record, engine, and the answer (the result within the wait
budget, else 202 and the job to poll)."""

from __future__ import annotations

import json
import logging
import os
import shutil

from fastapi import Request
from fastapi.responses import Response
from starlette.concurrency import run_in_threadpool

from . import conventions, faults, fetch
from .forms import read_form
from .operations import OPS, queue_for
from .problems import BadRequest, BodyTimeout, BodyTooLarge, ClientGone, QueueFull, Unavailable
from .service import Service
from .store import new_id
from .views import accepted, job_problem, problem, result_response

log = logging.getLogger("pressmark.service")

FORM_TYPES = ("multipart/form-data", "application/x-www-form-urlencoded")


def owner(request: Request) -> str:
    return str(request.scope.get("pressmark.owner", ""))


async def submit(svc: Service, request: Request, op_name: str) -> Response:
    if svc.lifecycle.draining:
        return problem(request, 503, "draining", "Service stopping",
                       "the service is stopping and takes no new work; try again shortly",
                       headers={"Retry-After": "5"}, retryable=True)
    op = OPS[op_name]
    rid = str(request.scope["pressmark.request_id"])
    job_id = new_id()
    folder = os.path.join(svc.settings.jobs_dir(), job_id)
    idem = request.headers.get("idempotency-key")
    if idem is not None:
        if not 1 <= len(idem) <= 200:
            return problem(request, 400, "bad-request", "Bad request", "Idempotency-Key is 1 to 200 characters")
        # Keys are the caller's own: another caller's equal key is another key.
        idem = f"{owner(request)}\n{idem}"
    webhook = request.headers.get("x-webhook-url") or request.query_params.get("webhook")
    convention = None
    try:
        if webhook:
            await run_in_threadpool(fetch.check_url, webhook, svc.settings)
        if conventions.applies(request):
            convention = await run_in_threadpool(conventions.read, request, svc.settings)
        ctype = request.headers.get("content-type", "").split(";")[0].strip().lower()
        if ctype not in FORM_TYPES:
            return problem(request, 415, "bad-content-type", "Unsupported Content-Type",
                           "send the route's fields as multipart/form-data")
        try:
            bound = webhook or (json.dumps(convention, sort_keys=True) if convention else None)
            inputs, fields, digest = await read_form(svc.settings, request, op, folder, bound)
        except (BodyTooLarge, BadRequest, BodyTimeout, ClientGone):
            raise
        except Exception as e:
            if faults.no_space(e):
                raise
            raise BadRequest(f"the form cannot be read: {e or type(e).__name__}", "malformed-form")
        queue = queue_for(op, inputs)
        other = svc.store.add(job_id, op_name, rid, idem, webhook, fields, inputs, queue, owner(request),
                              digest if idem else None, convention)
        if other is not None:
            shutil.rmtree(folder, ignore_errors=True)
            earlier = svc.store.get(other)
            if earlier is not None and earlier.fingerprint != digest:
                return problem(request, 422, "idempotency-key-reused", "Idempotency-Key already used",
                               "this Idempotency-Key was used with another request (another route, body or "
                               "webhook); use a new key for a new request")
            return await respond(svc, request, other)
        try:
            svc.engine.submit(job_id, queue)
        except QueueFull:
            svc.remove(job_id)
            return problem(request, 429, "queue-full", "Too many jobs waiting",
                           "the queue is full; try again later", headers={"Retry-After": "5"}, retryable=True)
        except Unavailable as e:
            # Not accepted: nothing of the job stays.
            svc.remove(job_id)
            return problem(request, 503, "unavailable", "Service unavailable", f"{e}; try again later",
                           headers={"Retry-After": "5"}, retryable=True)
    except conventions.Forbidden as e:
        shutil.rmtree(folder, ignore_errors=True)
        return problem(request, 403, e.type, "Forbidden", e.detail)
    except BadRequest as e:
        shutil.rmtree(folder, ignore_errors=True)
        return problem(request, 400, e.type, "Bad request", e.detail)
    except BodyTimeout:
        shutil.rmtree(folder, ignore_errors=True)
        return problem(request, 408, "body-timeout", "Request body too slow",
                       f"no part of the body came for {svc.settings.body_timeout} s", headers={"Connection": "close"})
    except ClientGone:
        shutil.rmtree(folder, ignore_errors=True)
        return problem(request, 400, "incomplete-body", "Bad request", "the client left before its body ended")
    except BodyTooLarge:
        shutil.rmtree(folder, ignore_errors=True)
        raise
    except Exception as e:
        if not faults.no_space(e):
            raise
        # Storage full: the request leaves nothing, neither files nor a record.
        await run_in_threadpool(svc.remove, job_id)
        return job_problem(request, faults.insufficient_storage())
    log.info("job %s %s queued on %s [request %s]", job_id, op_name, queue, rid)
    if convention and "webhook" in convention:
        # Accepted: the result goes to the webhook, as the convention's callers expect.
        return Response(status_code=204)
    return await respond(svc, request, job_id)


async def respond(svc: Service, request: Request, job_id: str) -> Response:
    job = svc.store.get(job_id)
    asked_async = "respond-async" in request.headers.get("prefer", "").lower()
    if job is not None and not asked_async:
        job = await svc.wait(job_id, svc.settings.wait_budget)
    if job is None:
        return problem(request, 404, "job-not-found", "No such job", "the job was deleted")
    # A client that asked to poll gets its job to poll, also when the job
    # (or the earlier job of its idempotency key) has finished already.
    if job.done and not asked_async:
        return result_response(svc.settings.jobs_dir(), request, job)
    return accepted(job)
