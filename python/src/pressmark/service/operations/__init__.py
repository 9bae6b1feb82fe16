"""The operations the routes run, by name."""

from __future__ import annotations

from typing import Dict

from . import chromium, compatible, native, ocr, pdfengines
from .base import Op, Output, queue_for

OPS: Dict[str, Op] = {op.name: op for op in [*native.OPS, *ocr.OPS, *compatible.OPS]}
OPS.update((op.name, op) for op in pdfengines.OPS)
OPS.update((op.name, op) for op in chromium.OPS)

__all__ = ["OPS", "Op", "Output", "queue_for"]
