"""The compatibility routes' operations: the form fields of the common
conversion-service convention. What it offers and this service does not is
refused by name."""

from __future__ import annotations

import os
from typing import List, Set, Tuple

from ..problems import BadRequest
from .base import Ctx, Op, Output, Upload, convert_file, stem
from .pdfengine import FIELDS as ENGINE_FIELDS, finish

CONVERT_FIELDS = {"files", "merge", "landscape", "nativePageRanges"} | ENGINE_FIELDS


def check(ctx: Ctx, known: Set[str]) -> None:
    unknown = sorted(set(ctx.fields) - known)
    if unknown:
        raise BadRequest(f"not supported by this service: {', '.join(unknown)}", "unsupported-field")


def page_range(text: str, pages: int) -> Tuple[int, int]:
    """nativePageRanges as (first, last): one page or one range, within the document."""
    text = text.strip()
    first, dash, last = text.partition("-")
    try:
        a = int(first)
        b = int(last) if dash else a
    except ValueError:
        raise BadRequest(f'nativePageRanges "{text}": one page ("3") or one range ("1-5") is supported',
                         "unsupported-field")
    if not 1 <= a <= b or a > pages:
        raise BadRequest(f'nativePageRanges "{text}" is not in a document of {pages} page(s)', "invalid-argument")
    return a, min(b, pages)


def by_name(files: List[Upload]) -> List[Upload]:
    return sorted(files, key=lambda f: (os.path.basename(f[1] or "")))


def op_convert(ctx: Ctx) -> Output:
    check(ctx, CONVERT_FIELDS)
    landscape = ctx.bool("landscape")
    ranges = ctx.fields.get("nativePageRanges", "").strip()
    outs: List[str] = []
    for path, original in by_name(ctx.many("files")):
        target = ctx.output(f"{stem(original)}.pdf")
        if target in outs:
            target = ctx.output(f"{stem(original)}-{len(outs)}.pdf")
        convert_file(ctx, path, original, "pdf", target, args_from_form=False,
                     extra_args={"blnLandscape": landscape, "blnHorizontalOrientation": landscape})
        if ranges:
            doc = ctx.pdf.OpenDocument(target)
            a, b = page_range(ranges, int(doc.NumPages))
            part = target + ".range.pdf"
            doc.ExtractPages(lngStartPage=a, lngEndPage=b, strPath=part)
            doc.CloseDoc()
            del doc
            os.replace(part, target)
        outs.append(target)
    if ctx.bool("merge") and len(outs) > 1:
        merged = ctx.output("merged.pdf")
        ctx.pdf.CreatePDFfromMultiPDF(merged, outs)
        outs = [merged]
    return Output(files=finish(ctx, outs))


OPS = [
    Op("compat/libreoffice", op_convert, (("files", True),), (), "office", "Compatibility: convert with LibreOffice",
       hidden=True),
]
