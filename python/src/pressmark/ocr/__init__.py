"""Scanned pages made searchable: OCRmyPDF (Tesseract) lays the recognised
text invisibly over the page images, which stay as they are.

    import pressmark
    pages = pressmark.ocr("scan.pdf", "searchable.pdf", "eng+deu", pdfa=True)

The work runs in a child process of its own process group: OCRmyPDF starts
Tesseract and Ghostscript itself, and a time-out, a failure or the end of the
caller must take every one of them down. The result is written beside the
target under a fresh name and renamed into place only when complete.
"""

from __future__ import annotations

import importlib.util
import json
import os
import re
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import uuid
from typing import IO, Any, Callable, Iterable

from .._types import AutomationError
from ._codes import CANNOT_CREATE, ERR_COMPONENT, FILE_NOT_FOUND, INVALID_CALL, PATH_NOT_FOUND

__all__ = ["ocr", "installed_languages", "DEFAULT_PAGE_TIMEOUT", "DEFAULT_JOB_TIMEOUT", "DEFAULT_MAX_PIXELS"]

SOURCE = "Pressmark"

DEFAULT_PAGE_TIMEOUT = 180.0
DEFAULT_JOB_TIMEOUT = 1800.0
# As many pixels as an A3 page scanned at 1200 dpi: more is a decompression
# bomb rather than a scan.
DEFAULT_MAX_PIXELS = 250_000_000

Progress = Callable[[int, int], None]

_LANG = re.compile(r"[A-Za-z0-9_]{2,40}")
_PACKAGE_PREFIX = "tesseract-ocr-"


def _error(number: int, description: str) -> AutomationError:
    return AutomationError(number, SOURCE, description)  # type: ignore[no-untyped-call]


def package_of(language: str) -> str:
    """The Debian package that holds a Tesseract language (chi_sim: tesseract-ocr-chi-sim)."""
    return _PACKAGE_PREFIX + language.lower().replace("_", "-")


def installed_languages() -> list[str]:
    """The languages Tesseract can read on this machine, without the orientation data."""
    try:
        done = subprocess.run(["tesseract", "--list-langs"], capture_output=True, text=True, timeout=30,
                              stdin=subprocess.DEVNULL)
    except FileNotFoundError:
        raise _error(CANNOT_CREATE, "OCR needs Tesseract: install the packages ocrmypdf and tesseract-ocr-eng")
    except subprocess.TimeoutExpired:
        raise _error(ERR_COMPONENT, "Tesseract did not list its languages within 30 s")
    langs = [w.strip() for w in done.stdout.splitlines()[1:]]
    return sorted(w for w in langs if w and w != "osd" and _LANG.fullmatch(w))


def _languages(languages: str | Iterable[str]) -> list[str]:
    """The languages asked for, each installed; a language may also be named by its package."""
    words = languages.split("+") if isinstance(languages, str) else list(languages)
    asked = []
    for w in words:
        w = str(w).strip()
        if w.lower().startswith(_PACKAGE_PREFIX):
            w = w[len(_PACKAGE_PREFIX):].replace("-", "_")
        if not _LANG.fullmatch(w):
            raise _error(INVALID_CALL, f'"{w[:60]}" is not an OCR language name (such as eng or deu)')
        asked.append(w)
    if not asked:
        asked = ["eng"]
    have = installed_languages()
    by_low = {h.lower(): h for h in have}
    missing = [a for a in asked if a.lower() not in by_low]
    if missing:
        listed = ", ".join(f"{h} ({package_of(h)})" for h in have) or "none"
        raise _error(INVALID_CALL, f"OCR language {', '.join(missing)} is not installed (install "
                     f"{', '.join(package_of(m) for m in missing)}); the installed languages are: {listed}")
    return [by_low[a.lower()] for a in asked]


def sniff(path: str) -> str:
    """The kind of an input by its first bytes: pdf, png, jpeg or tiff."""
    try:
        with open(path, "rb") as f:
            head = f.read(1024)
    except OSError as e:
        raise _error(ERR_COMPONENT, f"Cannot read {path}: {e.strerror}")
    if b"%PDF-" in head:
        return "pdf"
    if head.startswith(b"\x89PNG\r\n\x1a\n"):
        return "png"
    if head.startswith(b"\xff\xd8\xff"):
        return "jpeg"
    if head[:4] in (b"II*\x00", b"MM\x00*"):
        return "tiff"
    raise _error(ERR_COMPONENT, f"The file {os.path.basename(path)} is not a PDF or a PNG, JPEG or TIFF image, "
                 "so it cannot be made searchable.")


def _positive(name: str, value: float) -> float:
    try:
        v = float(value)
    except (TypeError, ValueError):
        raise _error(INVALID_CALL, f"{name} must be a number")
    if not v > 0:
        raise _error(INVALID_CALL, f"{name} must be more than 0")
    return v


def ocr(input: str | os.PathLike[str], output: str | os.PathLike[str], languages: str | Iterable[str] = "eng", *,
        pdfa: bool = False, force: bool = False, rotate: bool = False, jobs: int = 0,
        page_timeout: float = DEFAULT_PAGE_TIMEOUT, job_timeout: float = DEFAULT_JOB_TIMEOUT,
        max_pixels: int = DEFAULT_MAX_PIXELS, progress: Progress | None = None) -> int:
    """Makes a scanned PDF, or a PNG, JPEG or (multi-page) TIFF image, a searchable PDF.

    languages: Tesseract languages joined by "+" (or a list), by code or package name.
    pdfa: PDF/A-2b output. force: recognise pages that carry text already (they are
    rasterised); otherwise they are kept as they are. rotate: turn pages upright by
    the detected orientation. jobs: pages recognised at once (0: one per core).
    page_timeout: seconds a page may take; job_timeout: seconds the whole file may
    take. max_pixels: the largest image (or page raster) accepted, checked before
    it is decoded. progress(done, total) is called as pages are finished.
    Answers the number of pages written. Raises AutomationError.
    """
    src = os.path.abspath(os.fspath(input))
    dst = os.path.abspath(os.fspath(output))
    if not os.path.isfile(src):
        raise _error(FILE_NOT_FOUND, f"File not found: {src}")
    folder = os.path.dirname(dst)
    if not os.path.isdir(folder):
        raise _error(PATH_NOT_FOUND, f"Path not found: {folder}")
    page_limit = _positive("page_timeout", page_timeout)
    job_limit = _positive("job_timeout", job_timeout)
    pixels = int(_positive("max_pixels", max_pixels))
    if int(jobs) < 0:
        raise _error(INVALID_CALL, "jobs must be 0 (one per core) or more")
    langs = _languages(languages)
    kind = sniff(src)
    request = {"input": src, "kind": kind, "languages": langs, "pdfa": bool(pdfa), "force": bool(force),
               "rotate": bool(rotate), "jobs": int(jobs) or (os.cpu_count() or 1), "max_pixels": pixels,
               "page_timeout": page_limit}
    return _Run(request, dst, page_limit, job_limit, progress).run()


class _Run:
    """One OCR child: started, watched against its time limits, and cleaned up on every path."""

    def __init__(self, request: dict[str, Any], dst: str, page_limit: float, job_limit: float,
                 progress: Progress | None):
        self.request = request
        self.dst = dst
        self.page_limit = page_limit
        self.job_limit = job_limit
        self.progress = progress
        self.total = 0
        self.done = 0

    def run(self) -> int:
        work = tempfile.mkdtemp(prefix="pressmark-ocr-")
        folder, name = os.path.split(self.dst)
        part = os.path.join(folder, f".{name}.{uuid.uuid4().hex}.part")
        self.request["output"] = part
        proc = None
        try:
            with open(os.path.join(work, "log"), "w+b") as log:
                proc = self._start(work, log)
                result = self._watch(proc, log)
            os.replace(part, self.dst)
            return result
        finally:
            if proc is not None:
                # The group goes before its leader is reaped: until then no
                # other process can be given its id.
                _kill_group(proc)
                if proc.stdout:
                    proc.stdout.close()
                proc.wait()
            try:
                os.unlink(part)
            except FileNotFoundError:
                pass
            shutil.rmtree(work, ignore_errors=True)

    def _start(self, work: str, log: IO[bytes]) -> subprocess.Popen[bytes]:
        env = dict(os.environ)
        # OCRmyPDF and its programs keep their temporary files in the run's private folder.
        env["TMPDIR"] = env["PRESSMARK_OCR_WORK"] = work
        env["PRESSMARK_OCR_PARENT"] = str(os.getpid())
        # A sanitizer's runtime preloaded into this interpreter is not for
        # OCRmyPDF's programs.
        env.pop("LD_PRELOAD", None)
        child = os.path.join(os.path.dirname(os.path.abspath(__file__)), "_child.py")
        proc = subprocess.Popen([_interpreter(), child], stdin=subprocess.PIPE, stdout=subprocess.PIPE, stderr=log,
                                cwd=work, env=env, start_new_session=True, close_fds=True)
        assert proc.stdin is not None
        try:
            proc.stdin.write(json.dumps(self.request).encode())
            proc.stdin.close()
        except BrokenPipeError:
            pass  # it ended at once; its log says why
        return proc

    def _watch(self, proc: subprocess.Popen[bytes], log: IO[bytes]) -> int:
        assert proc.stdout is not None
        fd = proc.stdout.fileno()
        start = time.monotonic()
        job_end = start + self.job_limit
        page_end = start + self.page_limit
        pending = b""
        while True:
            now = time.monotonic()
            wait = min(job_end, page_end) - now
            if wait <= 0:
                _kill_group(proc)
                if now >= job_end:
                    raise _error(ERR_COMPONENT, f"OCR did not finish within {self.job_limit:g} s, the time "
                                 "limit of the job.")
                raise _error(ERR_COMPONENT, f"OCR of page {min(self.done + 1, max(self.total, 1))} did not finish "
                             f"within {self.page_limit:g} s, the time limit of a page.")
            ready, _, _ = select.select([fd], [], [], wait)
            if not ready:
                continue
            chunk = os.read(fd, 65536)
            if not chunk:
                raise self._ended(proc, log)
            pending += chunk
            *lines, pending = pending.split(b"\n")
            for line in lines:
                msg = json.loads(line)
                if "error" in msg:
                    number, description = msg["error"]
                    raise _error(int(number), str(description))
                if "ok" in msg:
                    return int(msg["ok"])
                # Any step of the work resets a page's clock: a page's time is
                # the time between two steps.
                page_end = time.monotonic() + self.page_limit
                if "total" in msg:
                    self.total = int(msg["total"])
                    self._report()
                elif "page" in msg:
                    self.done = int(msg["page"])
                    self._report()

    def _report(self) -> None:
        if self.progress is not None:
            self.progress(self.done, self.total)

    @staticmethod
    def _ended(proc: subprocess.Popen[bytes], log: IO[bytes]) -> AutomationError:
        # Waited for without reaping it, so the group id stays the child's
        # until the group is killed.
        info = os.waitid(os.P_PID, proc.pid, os.WEXITED | os.WNOWAIT)
        how = (f"ended with status {info.si_status}" if info.si_code == os.CLD_EXITED
               else f"was ended by signal {info.si_status}")
        log.flush()
        log.seek(0)
        lines = [x for x in log.read().decode("utf-8", "replace").splitlines() if x.strip()]
        last = f": {lines[-1][:300]}" if lines else ""
        return _error(ERR_COMPONENT, f"The OCR process {how} before its result{last}")


def _interpreter() -> str:
    """The interpreter of the OCR child: this one, or the system's where this
    one (a virtual environment, say) cannot import Debian's OCRmyPDF."""
    override = os.environ.get("PRESSMARK_OCR_PYTHON")
    if override:
        return override
    if importlib.util.find_spec("ocrmypdf") is None and os.path.exists("/usr/bin/python3"):
        return "/usr/bin/python3"
    return sys.executable


def _kill_group(proc: subprocess.Popen[bytes] | None) -> None:
    if proc is None:
        return
    try:
        os.killpg(proc.pid, signal.SIGKILL)
    except (ProcessLookupError, PermissionError):
        pass
