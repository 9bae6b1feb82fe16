"""The Chromium routes of the common conversion-service convention: a web
page (uploaded HTML, Markdown or a URL) printed to PDF or photographed."""

from __future__ import annotations

from typing import Any, Awaitable, Callable, Dict

from fastapi import APIRouter, Depends, Request
from fastapi.responses import Response

from ..dependencies import get_service
from ..service import Service
from ..submission import submit

router = APIRouter(tags=["compatibility"])

FILES = {"type": "array", "items": {"type": "string", "format": "binary"}}
TEXT: Dict[str, Any] = {"type": "string"}
COMMON = {name: TEXT for name in (
    "waitDelay", "waitForExpression", "waitForSelector", "emulatedMediaType", "cookies", "userAgent",
    "extraHttpHeaders", "failOnHttpStatusCodes", "failOnResourceHttpStatusCodes", "failOnResourceLoadingFailed",
    "failOnConsoleExceptions", "skipNetworkIdleEvent", "omitBackground")}
PRINT = {name: TEXT for name in (
    "paperWidth", "paperHeight", "marginTop", "marginBottom", "marginLeft", "marginRight", "scale",
    "preferCssPageSize", "printBackground", "landscape", "nativePageRanges", "generateDocumentOutline",
    "generateTaggedPdf")}
SHOT = {name: TEXT for name in ("width", "height", "clip", "format", "quality", "optimizeForSpeed")}
SOURCES: Dict[str, Dict[str, Any]] = {"url": {"url": {"type": "string", "format": "uri"}},
                                      "html": {"files": FILES}, "markdown": {"files": FILES}}
WHAT = {"url": "the page at url", "html": "index.html and its assets (files)",
        "markdown": 'index.html with {{ toHTML "file.md" }} and the Markdown files (files)'}


def _form(props: Dict[str, Any]) -> Dict[str, Any]:
    return {"requestBody": {"content": {"multipart/form-data": {"schema": {"type": "object", "properties": props}}}}}


def _handler(op_name: str) -> Callable[..., Awaitable[Response]]:
    async def handler(request: Request, svc: Service = Depends(get_service)) -> Response:
        return await submit(svc, request, op_name)
    handler.__name__ = "chromium_" + op_name.rsplit("/", 2)[-2] + "_" + op_name.rsplit("/", 1)[-1]
    return handler


for _source, _props in SOURCES.items():
    router.post(f"/forms/chromium/convert/{_source}", summary=f"Print {WHAT[_source]} to PDF with Chromium",
                openapi_extra=_form({**_props, **PRINT, **COMMON}))(_handler(f"compat/chromium/convert/{_source}"))
    router.post(f"/forms/chromium/screenshot/{_source}", summary=f"Photograph {WHAT[_source]} with Chromium",
                openapi_extra=_form({**_props, **SHOT, **COMMON}))(_handler(f"compat/chromium/screenshot/{_source}"))
