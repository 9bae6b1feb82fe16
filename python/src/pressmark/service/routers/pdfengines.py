"""The PDF engine routes of the common conversion-service convention:
/forms/pdfengines/<route>, each the operation of the same name. Every route
also takes the PDF engine fields (split, PDF/A, metadata, flatten, passwords,
embeds, watermark, stamp, rotation), so one request can do several things."""

from __future__ import annotations

from typing import Any, Awaitable, Callable, Dict

from fastapi import APIRouter, Depends, Request
from fastapi.responses import Response

from ..dependencies import get_service
from ..operations import OPS
from ..service import Service
from ..submission import submit

router = APIRouter(tags=["compatibility"])

FILES = {"type": "array", "items": {"type": "string", "format": "binary"}}
FILE = {"type": "string", "format": "binary"}
TEXT = {"type": "string"}
ENGINE = {"splitMode": TEXT, "splitSpan": TEXT, "splitUnify": {"type": "boolean"}, "pdfa": TEXT,
          "pdfua": {"type": "boolean"}, "metadata": TEXT, "flatten": {"type": "boolean"}, "userPassword": TEXT,
          "ownerPassword": TEXT, "permissions": TEXT, "embeds": FILES, "rotateAngle": {"type": "integer"},
          "rotatePages": TEXT, "watermarkSource": TEXT, "watermarkExpression": TEXT, "watermarkPages": TEXT,
          "watermarkOptions": TEXT, "stampSource": TEXT, "stampExpression": TEXT, "stampPages": TEXT,
          "stampOptions": TEXT, "watermark": FILE, "stamp": FILE}
# The routes that make PDFs, with the fields each takes beside the PDF engine fields; the routes that read take the
# files alone.
MAKING: Dict[str, Dict[str, Any]] = {
    "merge": {}, "split": {}, "flatten": {}, "rotate": {}, "convert": {}, "metadata/write": {}, "encrypt": {},
    "embed": {}, "watermark": {}, "stamp": {}, "bookmarks/write": {"bookmarks": TEXT}}
READING = ("metadata/read", "bookmarks/read")


def _handler(op_name: str) -> Callable[..., Awaitable[Response]]:
    async def handler(request: Request, svc: Service = Depends(get_service)) -> Response:
        return await submit(svc, request, op_name)
    handler.__name__ = "pdfengines_" + op_name.replace("/", "_")
    return handler


FORMS: Dict[str, Dict[str, Any]] = {r: {"files": FILES, **ENGINE, **extra} for r, extra in MAKING.items()}
FORMS.update({r: {"files": FILES} for r in READING})

for _route, _props in FORMS.items():
    router.post("/forms/pdfengines/" + _route, summary=OPS["pdfengines/" + _route].summary,
                openapi_extra={"requestBody": {"content": {"multipart/form-data": {"schema": {
                    "type": "object", "properties": _props}}}}})(_handler("pdfengines/" + _route))
