"""The OCR route: a scan (an image-only PDF, or a PNG, JPEG or TIFF image)
made a searchable PDF by pressmark.ocr, with its pages as the job's progress."""

from __future__ import annotations

import pressmark
from pressmark.ocr import DEFAULT_JOB_TIMEOUT, sniff
from pressmark.ocr._codes import INVALID_CALL

from ..problems import BadRequest
from .base import Ctx, Op, Output, check_fields, stem

FIELDS = (("languages", "Tesseract languages joined by + (eng, deu, ...)", "eng"),
          ("pdfa", "true for PDF/A-2b output", "false"),
          ("force", "true to recognise pages that carry text already (they are rasterised)", "false"),
          ("rotate", "true to turn pages upright by their detected orientation", "false"))


def op_ocr(ctx: Ctx) -> Output:
    path, original = ctx.one()
    check_fields(ctx, [], [f[0] for f in FIELDS])
    try:
        sniff(path)
    except pressmark.AutomationError:
        raise BadRequest("the upload is not a PDF or a PNG, JPEG or TIFF image", "unsupported-input")
    target = ctx.output(f"{stem(original)}.pdf")

    def progress(done: int, total: int) -> None:
        ctx.progress(100 * done // total if total else 0)

    try:
        pressmark.ocr(path, target, ctx.fields.get("languages", "eng"), pdfa=ctx.bool("pdfa"),
                      force=ctx.bool("force"), rotate=ctx.bool("rotate"), progress=progress,
                      job_timeout=ctx.timeout or DEFAULT_JOB_TIMEOUT)
    except pressmark.AutomationError as e:
        if e.number == INVALID_CALL:
            raise BadRequest(e.description, "invalid-argument")
        raise
    return Output(files=[target])


OPS = [Op("ocr", op_ocr, (("file", False),), ("ocr",), "ocr",
          "Make a scan searchable: an image-only PDF, or a PNG, JPEG or (multi-page) TIFF image, becomes a PDF "
          "with the recognised text laid invisibly over its page images", FIELDS)]
