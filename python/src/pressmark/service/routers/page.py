"""The page for people at /: pick files and an operation, see the result's
pages and download it. Its HTML, CSS and script are the package's own files
and it loads nothing from elsewhere; the policy header holds the browser to
that, so a file that reaches the page cannot make it call anywhere else."""

from __future__ import annotations

import os

from fastapi import APIRouter, Request
from fastapi.responses import FileResponse, Response

from ..views import problem

router = APIRouter(include_in_schema=False)

FOLDER = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "page")
ASSETS = {"page.css": "text/css; charset=utf-8", "page.js": "text/javascript; charset=utf-8"}
# Anything public the page needs is listed here: the guard lets these through
# without a key (the key is typed into the page itself).
PUBLIC = ("/", *("/page/" + name for name in ASSETS))
POLICY = ("default-src 'none'; script-src 'self'; style-src 'self'; img-src 'self' blob:; connect-src 'self'; "
          "form-action 'none'; base-uri 'none'; frame-ancestors 'none'")
HEADERS = {"Content-Security-Policy": POLICY, "X-Content-Type-Options": "nosniff", "Referrer-Policy": "no-referrer",
           "Cache-Control": "no-cache"}


@router.get("/")
async def page() -> Response:
    return FileResponse(os.path.join(FOLDER, "index.html"), media_type="text/html; charset=utf-8", headers=HEADERS)


@router.get("/page/{name}")
async def page_asset(request: Request, name: str) -> Response:
    if name not in ASSETS:
        return problem(request, 404, "not-found", "Not found", f"no asset {name}")
    return FileResponse(os.path.join(FOLDER, name), media_type=ASSETS[name], headers=HEADERS)
