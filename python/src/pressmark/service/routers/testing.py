"""The route of the test-only gate operation; included only when the
test_gate_dir setting is given."""

from __future__ import annotations

from fastapi import APIRouter, Depends, Request
from fastapi.responses import Response

from ..dependencies import get_service
from ..operations.testing import NAME
from ..service import Service
from ..submission import submit

router = APIRouter(prefix="/v1", tags=["testing"], include_in_schema=False)


@router.post("/" + NAME)
async def gate(request: Request, svc: Service = Depends(get_service)) -> Response:
    return await submit(svc, request, NAME)
