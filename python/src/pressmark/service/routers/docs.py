"""The interactive page at /docs, served from the service's own copy of the
swagger-ui-dist assets: the page loads nothing from elsewhere."""

from __future__ import annotations

import os

from fastapi import APIRouter, Depends, Request
from fastapi.responses import FileResponse, HTMLResponse, Response

from ..config import Settings
from ..dependencies import get_service
from ..service import Service
from ..views import problem

router = APIRouter(include_in_schema=False)

ASSETS = ("swagger-ui.css", "swagger-ui-bundle.js", "favicon-32x32.png")
PAGE = """<!doctype html><html><head><meta charset="utf-8"><title>Pressmark service</title>
<link rel="stylesheet" href="/docs/assets/swagger-ui.css"></head><body><div id="ui"></div>
<script src="/docs/assets/swagger-ui-bundle.js"></script>
<script>window.ui = SwaggerUIBundle({url: "/openapi.json", dom_id: "#ui", validatorUrl: null});</script>
</body></html>"""


def docs_dir(settings: Settings) -> str:
    if settings.docs_dir:
        return settings.docs_dir
    here = os.path.dirname(os.path.abspath(__file__))
    for d in (os.path.join(here, "..", "..", "..", "..", "npm", "node_modules", "swagger-ui-dist"),
              "/usr/local/share/pressmark/swagger-ui-dist", "/usr/share/pressmark/swagger-ui-dist"):
        if os.path.exists(os.path.join(d, "swagger-ui-bundle.js")):
            return os.path.normpath(d)
    return ""


@router.get("/docs")
async def docs(request: Request, svc: Service = Depends(get_service)) -> Response:
    if not docs_dir(svc.settings):
        return problem(request, 503, "docs-not-installed", "Interactive page not installed",
                       "the swagger-ui-dist assets are not installed (scripts/setup.sh installs them)")
    return HTMLResponse(PAGE)


@router.get("/docs/assets/{name}")
async def docs_asset(request: Request, name: str, svc: Service = Depends(get_service)) -> Response:
    folder = docs_dir(svc.settings)
    if not folder or name not in ASSETS:
        return problem(request, 404, "not-found", "Not found", f"no asset {name}")
    return FileResponse(os.path.join(folder, name))
