"""Liveness, readiness, metrics and version."""

from __future__ import annotations

import datetime
import importlib
import json
import shutil
from importlib.metadata import PackageNotFoundError, version as dist_version
from typing import Any, Dict

from fastapi import APIRouter, Depends, Request
from fastapi.responses import Response
from starlette.concurrency import run_in_threadpool

from ..dependencies import get_service
from ..lifecycle import READY
from ..service import Service
from ..views import problem


def _built_version() -> str:
    """The version the build wrote beside the package (a source checkout has none)."""
    try:
        return str(importlib.import_module(".._build", __package__).VERSION)
    except ImportError:
        return ""


BUILT_VERSION = _built_version()

router = APIRouter(tags=["operations"])


def version() -> str:
    if BUILT_VERSION:
        return BUILT_VERSION
    try:
        return str(dist_version("pressmark"))
    except PackageNotFoundError:
        return "unknown"


def _up() -> Dict[str, str]:
    return {"status": "up", "timestamp": datetime.datetime.now(datetime.timezone.utc).isoformat()}


@router.api_route("/health", methods=["GET", "HEAD"], summary="Liveness, in the shape the common conversion-service "
                  "convention gives it: status, and details per engine")
async def health() -> Dict[str, Any]:
    # The convention's clients read the office's entry (and the browser's, where one is installed); the native
    # clients read "engine".
    details = {"engine": _up(), "libreoffice": _up()}
    if shutil.which("chromium"):
        details["chromium"] = _up()
    return {"status": "up", "details": details}


# What /ready shows anyone; the rest (the office's processes, folders and pipes, the broker's error) only to a
# caller with a key.
PUBLIC_DETAILS = ("engine", "workers", "waiting", "queued")


@router.get("/ready")
async def ready(request: Request, svc: Service = Depends(get_service)) -> Any:
    ok, details = await run_in_threadpool(svc.engine.readiness)
    if not request.scope.get("pressmark.keyed"):
        public = {k: v for k, v in details.items() if k in PUBLIC_DETAILS}
        # Anyone may learn that the broker is down (why the service is not ready); its error names addresses.
        if "broker" in details:
            public["broker"] = str(details["broker"]).split(":", 1)[0]
        details = public
    details = {"state": svc.lifecycle.state, **details}
    if not ok or svc.lifecycle.state != READY:
        return problem(request, 503, "not-ready", "Not ready", json.dumps(details), retryable=True)
    return {"status": "ready", "details": details}


@router.get("/metrics")
@router.get("/prometheus/metrics", summary="The same metrics, where the common conversion-service convention serves "
            "them")
async def metrics(svc: Service = Depends(get_service)) -> Response:
    return Response(svc.metrics.text(), media_type="text/plain; version=0.0.4")


@router.get("/v1/limits", summary="The limits a caller checks before sending: maxBody, the largest request body in "
            "bytes")
async def limits(svc: Service = Depends(get_service)) -> Dict[str, Any]:
    return {"maxBody": svc.settings.max_body}


@router.get("/version")
async def version_route(svc: Service = Depends(get_service)) -> Dict[str, str]:
    return {"name": "pressmark", "version": version(), "source": svc.settings.source_url,
            "license": "AGPL-3.0-or-later"}
