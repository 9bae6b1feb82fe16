"""The native routes, one per operation: POST /v1/<operation>."""

from __future__ import annotations

from typing import Any, Awaitable, Callable, Dict

from fastapi import APIRouter, Depends, Request
from fastapi.responses import Response

from ..dependencies import get_service
from ..operations import OPS, Op
from ..service import Service
from ..submission import submit

router = APIRouter(prefix="/v1", tags=["documents"])


HEADERS = [
    {"name": "X-Webhook-Url", "in": "header", "required": False, "schema": {"type": "string", "format": "uri"},
     "description": "an address the job's status is posted to when it ends (signed as Standard Webhooks say)"},
    {"name": "Idempotency-Key", "in": "header", "required": False, "schema": {"type": "string", "maxLength": 200},
     "description": "the same key with the same request answers the same job; with another request, 422"},
    {"name": "Prefer", "in": "header", "required": False, "schema": {"type": "string", "enum": ["respond-async"]},
     "description": "respond-async answers 202 and the job to poll at once"},
]


def form_schema(op: Op) -> Dict[str, Any]:
    props: Dict[str, Any] = {}
    for name, many in op.inputs:
        item = {"type": "string", "format": "binary"}
        # No sample value: an interactive page would otherwise send the
        # word "string" as a file.
        props[name] = {"type": "array", "items": item, "example": []} if many else item
    for name, _ in op.inputs:
        props[name + "Url"] = {"type": "string", "format": "uri", "example": "",
                               "description": f"instead of uploading {name}: an address the service fetches it "
                                              "from (hosts the fetch_allow setting names)"}
    for name, text, *default in op.extra:
        props[name] = {"type": "string", "description": text}
        if default:
            props[name].update(default=default[0], example=default[0])
    return {"requestBody": {"content": {"multipart/form-data": {"schema": {
        "type": "object", "properties": props, "additionalProperties": {"type": "string"},
        "description": "Further fields are the named arguments of " + ", ".join(op.members or ("the member",)),
    }}}}, "parameters": HEADERS, "responses": {
        "200": {"description": "the result: a PDF, PostScript, image, ZIP, JSON or text"},
        "202": {"description": "accepted: poll the Location"}, "400": {"description": "problem+json"},
        "422": {"description": "problem+json: the component's error, or an Idempotency-Key used for another "
                "request"},
        "429": {"description": "queue full"}}}


def _handler(op_name: str) -> Callable[..., Awaitable[Response]]:
    async def handler(request: Request, svc: Service = Depends(get_service)) -> Response:
        return await submit(svc, request, op_name)
    handler.__name__ = "op_" + op_name.replace("/", "_")
    return handler


for _op in OPS.values():
    if not _op.hidden:
        router.post("/" + _op.name, summary=_op.summary, openapi_extra=form_schema(_op))(_handler(_op.name))
