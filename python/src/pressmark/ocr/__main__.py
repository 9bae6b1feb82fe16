"""`pressmark ocr IN OUT [--lang eng+deu] [--pdfa] [--force] [--rotate]`.

As every call of the command: progress as `event` lines, the result (the
number of pages) as JSON, an error as `error <number> (<source>): <description>`
with exit status 1.
"""

from __future__ import annotations

import argparse
import sys

from . import DEFAULT_JOB_TIMEOUT, DEFAULT_PAGE_TIMEOUT, ocr
from .._types import AutomationError

USAGE = "pressmark ocr IN OUT [--lang eng+deu] [--pdfa] [--force] [--rotate]"


class _Parser(argparse.ArgumentParser):
    def error(self, message: str) -> None:  # type: ignore[override]
        print(f"usage: {USAGE}\npressmark ocr: {message}", file=sys.stderr)
        sys.exit(2)


def main(argv: list[str]) -> int:
    ap = _Parser(prog="pressmark ocr", usage=USAGE,
                 description="Makes a scanned PDF or a PNG, JPEG or TIFF image a searchable PDF.")
    ap.add_argument("input", metavar="IN")
    ap.add_argument("output", metavar="OUT")
    ap.add_argument("--lang", default="eng", help="Tesseract languages joined by + (default eng)")
    ap.add_argument("--pdfa", action="store_true", help="PDF/A-2b output")
    ap.add_argument("--force", action="store_true", help="recognise pages that carry text already")
    ap.add_argument("--rotate", action="store_true", help="turn pages upright by their detected orientation")
    ap.add_argument("--jobs", type=int, default=0, help="pages recognised at once (default: one per core)")
    ap.add_argument("--page-timeout", type=float, default=DEFAULT_PAGE_TIMEOUT, help="seconds a page may take")
    ap.add_argument("--job-timeout", type=float, default=DEFAULT_JOB_TIMEOUT, help="seconds the file may take")
    args = ap.parse_args(argv)
    last = [-1]

    def progress(done: int, total: int) -> None:
        percent = 100 * done // total if total else 0
        if percent != last[0]:
            last[0] = percent
            print(f"event OnPercentDone {percent}", flush=True)

    try:
        pages = ocr(args.input, args.output, args.lang, pdfa=args.pdfa, force=args.force, rotate=args.rotate,
                    jobs=args.jobs, page_timeout=args.page_timeout, job_timeout=args.job_timeout, progress=progress)
    except AutomationError as e:
        print(e, flush=True)
        return 1
    print(pages)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
