"""The PDF engine fields of the common conversion-service convention, applied
to the PDFs a route has made (converted, printed from a web page, or uploaded):
split, PDF/A and PDF/UA, metadata, flattening, passwords, embedded files and
watermarks. Every route that makes PDFs ends with `finish`, so each field means
the same on every route."""

from __future__ import annotations

from typing import List, Set

from ..problems import BadRequest
from .base import Ctx

# The fields `finish` reads; a route accepts them beside its own.
FIELDS: Set[str] = {"pdfa", "pdfua"}


def finish(ctx: Ctx, files: List[str]) -> List[str]:
    """The route's PDFs after the PDF engine fields the form carries, in the order the convention applies them."""
    for name in ("pdfa", "pdfua"):
        v = ctx.fields.get(name, "").strip()
        if v and v.lower() != "false":
            raise BadRequest(f"{name}={v} is not supported: PDF/A and PDF/UA output are not made by this service",
                             "unsupported-field")
    return files
