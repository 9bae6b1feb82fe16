"""Routes of the common conversion-service convention, so its clients switch
by changing the base address. /health and /version are shared with the
native routes."""

from __future__ import annotations

from typing import Any, Dict

from fastapi import APIRouter, Depends, Request
from fastapi.responses import Response

from ..dependencies import get_service
from ..service import Service
from ..submission import submit

router = APIRouter(tags=["compatibility"])

FILES = {"type": "array", "items": {"type": "string", "format": "binary"}}


def _form(**props: object) -> Dict[str, Any]:
    return {"requestBody": {"content": {"multipart/form-data": {"schema": {"type": "object", "properties": props}}}}}


@router.post("/forms/libreoffice/convert",
             summary="Convert office documents: merge, landscape, nativePageRanges, password, exportFormFields, the "
                     "image fields, initialView, openInFullScreenMode, the native watermark; a field this service "
                     "cannot carry out is refused with 400, naming it",
             openapi_extra=_form(files=FILES, merge={"type": "boolean"}, landscape={"type": "boolean"},
                                 nativePageRanges={"type": "string", "description": "pages and ranges: 1-3,5"},
                                 password={"type": "string", "description": "the password that opens the input"}))
async def libreoffice_convert(request: Request, svc: Service = Depends(get_service)) -> Response:
    return await submit(svc, request, "compat/libreoffice")
