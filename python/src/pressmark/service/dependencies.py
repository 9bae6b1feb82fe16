"""What routes are given: the service's shared state."""

from __future__ import annotations

from fastapi import Request

from .service import Service


def get_service(request: Request) -> Service:
    svc = request.app.state.svc
    assert isinstance(svc, Service)
    return svc
