"""The HTTP application: routes over the operations, jobs, and operations views."""

import asyncio
import json
import logging
import os
import shutil
import threading
import time

from fastapi import FastAPI, Request
from fastapi.responses import FileResponse, HTMLResponse, JSONResponse, PlainTextResponse, Response
from starlette.concurrency import run_in_threadpool
from starlette.datastructures import UploadFile

from . import compat, fetch, jobs, ops
from .guard import BodyTooLarge, Guard, problem_body
from .metrics import Metrics

log = logging.getLogger("pressmark.service")


def version():
    try:
        from ._build import VERSION
        return VERSION
    except ImportError:
        try:
            from importlib.metadata import version as dist_version
            return dist_version("pressmark")
        except Exception:
            return "unknown"


def problem(request, status, type_, title, detail, headers=None, **extra):
    rid = request.scope.get("pressmark.request_id", "")
    return Response(problem_body(status, type_, title, detail, rid, **extra), status_code=status,
                    media_type="application/problem+json", headers=headers)


def job_problem(request, error):
    e = dict(error)
    return problem(request, e.pop("status"), e.pop("type"), e.pop("title"), e.pop("detail"), **e)


class Service:
    """The job store, the engine and what waits on them, shared by the routes."""

    def __init__(self, settings):
        self.settings = settings
        self.metrics = Metrics()
        os.makedirs(settings.jobs_dir(), mode=0o700, exist_ok=True)
        self.store = jobs.Store(os.path.join(settings.state_dir, "jobs.sqlite"))
        self.hooks = jobs.Hooks(settings, log)
        self._waiters = {}
        self._lock = threading.Lock()
        if settings.broker:
            from . import farm
            self.engine = farm.Gateway(settings, self.store, self.metrics, log, self.finished)
        else:
            self.engine = jobs.Engine(settings, self.store, self.metrics, log, self.finished)
        self.metrics.workers.set(self.engine.workers)
        self.metrics.pool.set(jobs.office_pool_size())
        threading.Thread(target=self._expire, name="job-expiry", daemon=True).start()

    def finished(self, job_id):
        """Called once per job from the thread that saw it end."""
        job = self.store.get(job_id)
        if job is None:
            return
        self.metrics.finished(job)
        with self._lock:
            waiters = self._waiters.pop(job_id, [])
        for loop, fut in waiters:
            try:
                loop.call_soon_threadsafe(lambda f=fut: f.done() or f.set_result(True))
            except RuntimeError:
                pass  # the loop has ended: nobody waits any more
        if job.get("webhook"):
            body = json.dumps(status_of(job)).encode()
            self.hooks.send(job["webhook"], body, job["request_id"])

    async def wait(self, job_id, budget):
        loop = asyncio.get_running_loop()
        fut = loop.create_future()
        with self._lock:
            self._waiters.setdefault(job_id, []).append((loop, fut))
        try:
            job = self.store.get(job_id)
            if job is None or job["status"] in jobs.FINISHED:
                return job
            try:
                await asyncio.wait_for(fut, budget)
            except asyncio.TimeoutError:
                pass
            return self.store.get(job_id)
        finally:
            with self._lock:
                lst = self._waiters.get(job_id, [])
                if (loop, fut) in lst:
                    lst.remove((loop, fut))
                if not lst:
                    self._waiters.pop(job_id, None)

    def _expire(self):
        while True:
            time.sleep(max(1.0, min(60.0, self.settings.result_ttl / 4)))
            for job_id in self.store.expired(time.time() - self.settings.result_ttl):
                jobs.remove_job(self.settings, self.store, job_id)


def status_of(job):
    out = {"id": job["id"], "route": job["op"], "status": job["status"], "progress": job["progress"],
           "created": job["created"], "started": job["started"], "finished": job["finished"],
           "requestId": job["request_id"]}
    if job["status"] == "done":
        out["result"] = f"/v1/jobs/{job['id']}/result"
    if job["status"] == "failed" and job["error"]:
        out["error"] = dict(job["error"], type=jobs_problem_type(job["error"]["type"]))
    return out


def jobs_problem_type(slug):
    from .guard import PROBLEM_TYPE
    return PROBLEM_TYPE + slug


def result_response(svc, request, job):
    if job["status"] == "failed":
        return job_problem(request, job["error"])
    out = job["output"]
    path = os.path.join(svc.settings.jobs_dir(), job["id"], "out", out["path"])
    if not os.path.exists(path):
        return problem(request, 410, "gone", "Result removed", "the job's result has expired")
    return FileResponse(path, media_type=out["media"], filename=out["name"])


def accepted(job):
    return JSONResponse(status_of(job), status_code=202, headers={"Location": f"/v1/jobs/{job['id']}"})


async def read_form(svc, request, op, job_id):
    """The request's uploads saved in the job's folder, and its other fields."""
    folder = os.path.join(svc.settings.jobs_dir(), job_id)
    os.makedirs(os.path.join(folder, "in"), mode=0o700)
    form = await request.form()
    try:
        names = {n: many for n, many in op.inputs}
        inputs, fields, count = {}, {}, 0
        for key, value in form.multi_items():
            if isinstance(value, UploadFile):
                if key not in names:
                    raise ops.BadRequest(f'form field "{key}" takes no file; files go in '
                                         f'{", ".join(names) or "no field"}', "unknown-field")
                if inputs.get(key) and not names[key]:
                    raise ops.BadRequest(f'form field "{key}" takes one file', "invalid-argument")
                count += 1
                safe = ops.stem(value.filename) + os.path.splitext(value.filename or "")[1].lower()[:10]
                target = os.path.join(folder, "in", f"{count}-{safe}")
                await run_in_threadpool(_save, value.file, target)
                inputs.setdefault(key, []).append([target, value.filename or safe])
            elif key in names and str(value) == "":
                # A file field left empty (as an interactive page or an HTML
                # form sends it) gives no file.
                continue
            elif key.endswith("Url") and key[:-3] in names:
                # An input fetched from an allowed address instead of uploaded.
                count += 1
                target = os.path.join(folder, "in", f"{count}-fetched")
                url = str(value)
                name = os.path.basename(url.split("?")[0]) or "document"
                await run_in_threadpool(fetch.download, url, target, svc.settings, svc.settings.max_body)
                inputs.setdefault(key[:-3], []).append([target, name])
            elif key in fields:
                raise ops.BadRequest(f'form field "{key}" is given twice', "invalid-argument")
            else:
                fields[key] = str(value)
        return inputs, fields
    finally:
        await form.close()


def _save(src, target):
    with open(target, "wb") as out:
        shutil.copyfileobj(src, out, 1 << 20)


async def submit(svc, request, op_name):
    op = ops.OPS[op_name]
    rid = request.scope["pressmark.request_id"]
    job_id = jobs.new_id()
    folder = os.path.join(svc.settings.jobs_dir(), job_id)
    idem = request.headers.get("idempotency-key")
    if idem is not None:
        if not 1 <= len(idem) <= 200:
            return problem(request, 400, "bad-request", "Bad request", "Idempotency-Key is 1 to 200 characters")
        idem = f"{request.headers.get('authorization', '')}\n{idem}"
        # A repeated key answers the job it made, without reading the body again.
        existing = svc.store.by_idem(idem)
        if existing:
            return await respond(svc, request, existing)
    webhook = request.headers.get("x-webhook-url") or request.query_params.get("webhook")
    try:
        if webhook:
            await run_in_threadpool(fetch.check_url, webhook, svc.settings)
        ctype = request.headers.get("content-type", "").split(";")[0].strip().lower()
        if ctype not in ("multipart/form-data", "application/x-www-form-urlencoded"):
            return problem(request, 415, "bad-content-type", "Unsupported Content-Type",
                           "send the route's fields as multipart/form-data")
        try:
            inputs, fields = await read_form(svc, request, op, job_id)
        except BodyTooLarge:
            raise
        except ops.BadRequest:
            raise
        except Exception as e:
            raise ops.BadRequest(f"the form cannot be read: {e}", "malformed-form")
        queue = ops.queue_for(op_name, inputs)
        other = svc.store.add({"id": job_id, "op": op_name, "request_id": rid, "idem": idem, "webhook": webhook,
                               "fields": fields, "inputs": inputs, "queue": queue})
        if other is not None:
            shutil.rmtree(folder, ignore_errors=True)
            return await respond(svc, request, other)
        try:
            svc.engine.submit(job_id, queue)
        except jobs.QueueFull:
            jobs.remove_job(svc.settings, svc.store, job_id)
            return problem(request, 429, "queue-full", "Too many jobs waiting",
                           "the queue is full; try again later", headers={"Retry-After": "5"}, retryable=True)
    except ops.BadRequest as e:
        shutil.rmtree(folder, ignore_errors=True)
        return problem(request, 400, e.type, "Bad request", e.detail)
    except BodyTooLarge:
        shutil.rmtree(folder, ignore_errors=True)
        raise
    log.info("job %s %s queued on %s [request %s]", job_id, op_name, queue, rid)
    return await respond(svc, request, job_id)


async def respond(svc, request, job_id):
    job = svc.store.get(job_id)
    asked_async = "respond-async" in request.headers.get("prefer", "").lower()
    if job is not None and not asked_async:
        job = await svc.wait(job_id, svc.settings.wait_budget)
    if job is None:
        return problem(request, 404, "job-not-found", "No such job", "the job was deleted")
    # A client that asked to poll gets its job to poll, also when the job
    # (or the earlier job of its idempotency key) has finished already.
    if job["status"] in jobs.FINISHED and not asked_async:
        return result_response(svc, request, job)
    return accepted(job)


def docs_dir(settings):
    if settings.docs_dir:
        return settings.docs_dir
    here = os.path.dirname(os.path.abspath(__file__))
    for d in (os.path.join(here, "..", "..", "..", "npm", "node_modules", "swagger-ui-dist"),
              "/usr/local/share/pressmark/swagger-ui-dist", "/usr/share/pressmark/swagger-ui-dist"):
        if os.path.exists(os.path.join(d, "swagger-ui-bundle.js")):
            return os.path.normpath(d)
    return ""


DOCS_PAGE = """<!doctype html><html><head><meta charset="utf-8"><title>Pressmark service</title>
<link rel="stylesheet" href="/docs/assets/swagger-ui.css"></head><body><div id="ui"></div>
<script src="/docs/assets/swagger-ui-bundle.js"></script>
<script>window.ui = SwaggerUIBundle({url: "/openapi.json", dom_id: "#ui", validatorUrl: null});</script>
</body></html>"""


def form_schema(op):
    props = {}
    for name, many in op.inputs:
        item = {"type": "string", "format": "binary"}
        # No sample value: an interactive page would otherwise send the
        # word "string" as a file.
        props[name] = {"type": "array", "items": item, "example": []} if many else item
    for name, text, *default in op.extra:
        props[name] = {"type": "string", "description": text}
        if default:
            props[name].update(default=default[0], example=default[0])
    return {"requestBody": {"content": {"multipart/form-data": {"schema": {
        "type": "object", "properties": props, "additionalProperties": {"type": "string"},
        "description": "Further fields are the named arguments of " + ", ".join(op.members or ("the member",)),
    }}}}, "responses": {"200": {"description": "the result: a PDF, PostScript, image, ZIP, JSON or text"},
                        "202": {"description": "accepted: poll the Location"},
                        "400": {"description": "problem+json"}, "429": {"description": "queue full"}}}


def create_app(settings):
    svc = Service(settings)
    app = FastAPI(title="Pressmark", version=version(), docs_url=None, redoc_url=None,
                  description="Conversion and PDF work over HTTP. Source: " + settings.source_url)
    app.state.svc = svc

    @app.exception_handler(BodyTooLarge)
    async def too_large(request, exc):
        return problem(request, 413, "too-large", "Request body too large",
                       f"the body is larger than {settings.max_body} bytes")

    @app.exception_handler(404)
    async def not_found(request, exc):
        return problem(request, 404, "not-found", "Not found", f"no route {request.url.path}")

    @app.exception_handler(405)
    async def not_allowed(request, exc):
        return problem(request, 405, "method-not-allowed", "Method not allowed",
                       f"{request.method} is not allowed on {request.url.path}")

    def route(op_name):
        async def handler(request: Request):
            return await submit(svc, request, op_name)
        handler.__name__ = "op_" + op_name.replace("/", "_")
        return handler

    for op in ops.OPS.values():
        if op.hidden:
            continue
        app.post("/v1/" + op.name, summary=op.summary, openapi_extra=form_schema(op), tags=["documents"])(
            route(op.name))

    @app.get("/v1/jobs/{job_id}", tags=["jobs"])
    async def job_status(request: Request, job_id: str):
        job = svc.store.get(job_id)
        if job is None:
            return problem(request, 404, "job-not-found", "No such job", f"no job {job_id}")
        return JSONResponse(status_of(job))

    @app.get("/v1/jobs/{job_id}/result", tags=["jobs"])
    async def job_result(request: Request, job_id: str):
        job = svc.store.get(job_id)
        if job is None:
            return problem(request, 404, "job-not-found", "No such job", f"no job {job_id}")
        if job["status"] not in jobs.FINISHED:
            return accepted(job)
        return result_response(svc, request, job)

    @app.delete("/v1/jobs/{job_id}", tags=["jobs"], status_code=204)
    async def job_delete(request: Request, job_id: str):
        job = svc.store.get(job_id)
        if job is None:
            return problem(request, 404, "job-not-found", "No such job", f"no job {job_id}")
        if job["status"] not in jobs.FINISHED:
            svc.store.finish(job_id, None, {"status": 410, "type": "cancelled", "title": "Cancelled",
                                            "detail": "the job was deleted", "retryable": False})
        await run_in_threadpool(jobs.remove_job, settings, svc.store, job_id)
        return Response(status_code=204)

    @app.get("/health", tags=["operations"])
    async def health():
        return {"status": "up", "details": {"engine": {"status": "up"}}}

    @app.get("/ready", tags=["operations"])
    async def ready(request: Request):
        ok, details = await run_in_threadpool(svc.engine.readiness)
        if not ok:
            return problem(request, 503, "not-ready", "Not ready", json.dumps(details), retryable=True)
        return {"status": "ready", "details": details}

    @app.get("/metrics", tags=["operations"])
    async def metrics():
        return Response(svc.metrics.text(), media_type="text/plain; version=0.0.4")

    @app.get("/version", tags=["operations"])
    async def version_route():
        return {"name": "pressmark", "version": version(), "source": settings.source_url,
                "license": "AGPL-3.0-or-later"}

    @app.get("/docs", include_in_schema=False)
    async def docs(request: Request):
        if not docs_dir(settings):
            return problem(request, 503, "docs-not-installed", "Interactive page not installed",
                           "the swagger-ui-dist assets are not installed (scripts/setup.sh installs them)")
        return HTMLResponse(DOCS_PAGE)

    @app.get("/docs/assets/{name}", include_in_schema=False)
    async def docs_asset(request: Request, name: str):
        folder = docs_dir(settings)
        if not folder or name not in ("swagger-ui.css", "swagger-ui-bundle.js", "favicon-32x32.png"):
            return problem(request, 404, "not-found", "Not found", f"no asset {name}")
        return FileResponse(os.path.join(folder, name))

    compat.install(app, svc, submit)
    return Guard(app, settings, svc.metrics)
