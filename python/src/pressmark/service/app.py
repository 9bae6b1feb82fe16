"""The HTTP application: the routers over the service's shared state, the
problem answers of the framework's own errors, and the checks in front."""

from __future__ import annotations

import contextlib
from typing import Any, AsyncIterator

from fastapi import FastAPI, Request
from fastapi.responses import Response

from .config import Settings
from .guard import Guard
from .problems import BodyTooLarge
from .operations import OPS, testing
from .routers import compatible, docs, documents, jobs, operations, page
from .routers import pdfengines
from .routers import testing as testing_routes
from .routers import chromium as chromium_routes
from .routers.operations import version
from .service import Service
from .views import problem


def create_app(settings: Settings) -> Guard:
    svc = Service(settings)  # threads start in the lifespan, not here

    @contextlib.asynccontextmanager
    async def lifespan(_: Any) -> AsyncIterator[None]:
        svc.start()
        svc.lifecycle.ready()
        try:
            yield
        finally:
            svc.stop()

    app = FastAPI(title="Pressmark", version=version(), docs_url=None, redoc_url=None,
                  description="Conversion and PDF work over HTTP. Source: " + settings.source_url)
    app.router.lifespan_context = lifespan
    app.state.svc = svc

    @app.exception_handler(BodyTooLarge)
    async def too_large(request: Request, exc: Exception) -> Response:
        return problem(request, 413, "too-large", "Request body too large",
                       f"the body is larger than {settings.max_body} bytes")

    @app.exception_handler(404)
    async def not_found(request: Request, exc: Exception) -> Response:
        return problem(request, 404, "not-found", "Not found", f"no route {request.url.path}")

    @app.exception_handler(405)
    async def not_allowed(request: Request, exc: Exception) -> Response:
        return problem(request, 405, "method-not-allowed", "Method not allowed",
                       f"{request.method} is not allowed on {request.url.path}")

    for module in (documents, jobs, operations, docs, compatible, page, pdfengines):
        app.include_router(module.router)
    app.include_router(chromium_routes.router)
    if settings.test_gate_dir:
        OPS[testing.NAME] = testing.gate(settings.test_gate_dir)
        app.include_router(testing_routes.router)
    return Guard(app, settings, svc.metrics, app.router.routes)
