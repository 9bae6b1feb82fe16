"""OCRmyPDF's progress bars turned into steps the OCR child reports to its parent.

Registered as an OCRmyPDF plugin: each bar OCRmyPDF opens is one of these.
The recognition bar counts two steps a page (recognised, then grafted onto
the output), so a page is finished at every second step.
"""

from __future__ import annotations

import json
import threading
from typing import Any, Callable

from ocrmypdf import hookimpl

_lock = threading.Lock()
emit: Callable[[dict[str, Any]], None] = lambda message: None

PAGE_BARS = ("OCR", "Image processing")


def send(stream: Any, message: dict[str, Any]) -> None:
    with _lock:
        stream.write(json.dumps(message) + "\n")
        stream.flush()


class PageSteps:
    """A progress bar with tqdm's interface that reports its steps."""

    def __init__(self, *args: Any, total: int | None = None, desc: str | None = None, **kwargs: Any):
        self.desc = desc or ""
        self.total = total
        self.count = 0

    def __enter__(self) -> "PageSteps":
        return self

    def __exit__(self, *exc: object) -> None:
        pass

    def update(self, n: float = 1, *args: Any, **kwargs: Any) -> None:
        self.count += int(n) if n else 0
        if self.desc in PAGE_BARS:
            if self.count % 2 == 0:
                emit({"page": self.count // 2})
        else:
            emit({"step": self.desc})


@hookimpl  # type: ignore[misc]
def get_progressbar_class() -> type:
    return PageSteps
