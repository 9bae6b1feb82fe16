"""The OCR child process: reads its request on standard input, checks and
prepares the input, runs OCRmyPDF and reports steps and the outcome as JSON
lines on the standard output it started with.

It runs as a script, not as part of the package, so it loads neither the
component's library nor its extension: only OCRmyPDF and what that needs.
It leads a process group of its own (the parent made it so) and dies with
its parent: when the parent goes, the group goes, Tesseract and Ghostscript
included.
"""

from __future__ import annotations

import ctypes
import json
import os
import shutil
import signal
import sys
import time
import traceback
from typing import Any

# Run as a script, this file's folder is first on the path: the error numbers
# the parent raises as they are come from the module beside it.
from _codes import CANNOT_CREATE, ERR_COMPONENT, INTERNAL_ERROR, INVALID_CALL, OUT_OF_MEMORY

PR_SET_PDEATHSIG = 1
# A TIFF with more frames than this is refused before any is decoded.
MAX_FRAMES = 10000


PROTOCOL_FD = "PRESSMARK_OCR_PROTOCOL_FD"
# The run's private folder, made by the parent.
WORK_DIR = "PRESSMARK_OCR_WORK"


def emit(message: dict[str, Any]) -> None:
    """One line to the parent, in one write: shorter than a pipe's atomic
    size, so lines from OCRmyPDF's worker threads never mix. OCRmyPDF loads
    this file a second time as its plugin; both copies find the descriptor
    in the environment."""
    fd = int(os.environ.get(PROTOCOL_FD, "-1"))
    if fd < 0:
        return
    os.write(fd, (json.dumps(message, ensure_ascii=False) + "\n").encode())


# OCRmyPDF's recognition bar counts two steps a page (recognised, then
# grafted onto the output), so a page is finished at every second step.
PAGE_BARS = ("OCR", "Image processing")


class PageSteps:
    """OCRmyPDF's progress bars (tqdm's interface) as steps reported to the parent."""

    def __init__(self, *args: Any, total: int | None = None, desc: str | None = None, **kwargs: Any):
        self.desc = desc or ""
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


try:
    from ocrmypdf import hookimpl as _hookimpl

    @_hookimpl  # type: ignore[misc]
    def get_progressbar_class() -> type:
        return PageSteps
except ImportError:
    pass  # reported when the work starts


class Refused(Exception):
    def __init__(self, number: int, description: str):
        # A short line: its report stays one atomic write.
        description = description[:900]
        super().__init__(description)
        self.number = number
        self.description = description


# The output being written, which the parent would remove had it lived.
_output: list[str] = []


def _die_with_parent() -> None:
    def end_group(*_: object) -> None:
        # The rest of the group first (this process ignores the signal), then
        # what the parent would have cleaned up: the private folder and the
        # unfinished output.
        signal.signal(signal.SIGTERM, signal.SIG_IGN)
        os.killpg(0, signal.SIGTERM)
        time.sleep(0.2)
        work = os.environ.get(WORK_DIR, "")
        if os.path.basename(work).startswith("pressmark-ocr-"):
            shutil.rmtree(work, ignore_errors=True)
        for path in _output:
            try:
                os.unlink(path)
            except OSError:
                pass
        os.killpg(0, signal.SIGKILL)

    signal.signal(signal.SIGTERM, end_group)
    libc = ctypes.CDLL(None, use_errno=True)
    libc.prctl(PR_SET_PDEATHSIG, signal.SIGTERM, 0, 0, 0)
    # The parent may have ended before the request above took effect.
    if str(os.getppid()) != os.environ.get("PRESSMARK_OCR_PARENT"):
        end_group()


def _name(path: str) -> str:
    return os.path.basename(path)


def check_image(path: str, max_pixels: int) -> int:
    """The number of frames of an image, each checked against the pixel limit
    from its header alone (nothing is decoded)."""
    import warnings

    import PIL.Image  # type: ignore[import]
    PIL.Image.MAX_IMAGE_PIXELS = None  # the limit below is ours
    frames = 0
    try:
        with warnings.catch_warnings():
            warnings.simplefilter("ignore")
            with PIL.Image.open(path) as im:
                while True:
                    w, h = im.size
                    if w <= 0 or h <= 0:
                        raise Refused(ERR_COMPONENT, f"The image {_name(path)} has no pixels.")
                    if w * h > max_pixels:
                        raise Refused(ERR_COMPONENT, f"The image {_name(path)} has {w} x {h} pixels"
                                      f"{f' on page {frames + 1}' if frames else ''}, more than the limit of "
                                      f"{max_pixels}.")
                    frames += 1
                    if frames > MAX_FRAMES:
                        raise Refused(ERR_COMPONENT, f"The image {_name(path)} has more than {MAX_FRAMES} pages.")
                    try:
                        im.seek(frames)
                    except EOFError:
                        return frames
    except Refused:
        raise
    except Exception as e:
        reason = _text(e).replace(path, _name(path))
        raise Refused(ERR_COMPONENT, f"The image {_name(path)} is damaged or cannot be read: {reason}")


def image_to_pdf(path: str, target: str) -> None:
    """One PDF page per image (per frame of a TIFF) at the image's own
    resolution, its data kept as it is where PDF can carry it."""
    import img2pdf  # type: ignore[import]
    try:
        data = img2pdf.convert(path, rotation=img2pdf.Rotation.ifvalid)
    except Exception as first:
        # Transparency, or a pixel format PDF cannot carry as it is: the
        # frames are decoded and written again without loss, on white.
        try:
            data = img2pdf.convert(_flattened(path), rotation=img2pdf.Rotation.ifvalid)
        except Exception:
            reason = _text(first).replace(path, _name(path))
            raise Refused(ERR_COMPONENT, f"The image {_name(path)} is damaged or cannot be read: {reason}")
    with open(target, "wb") as f:
        f.write(data)


def _flattened(path: str) -> list[str]:
    import PIL.Image
    out = []
    with PIL.Image.open(path) as im:
        n = getattr(im, "n_frames", 1)
        for i in range(n):
            im.seek(i)
            frame = im.convert("RGBA")
            plain = PIL.Image.new("RGB", frame.size, "white")
            plain.paste(frame, mask=frame.getchannel("A"))
            if im.mode in ("1", "L", "LA", "I", "I;16", "P") and all(
                    a == b == c for a, b, c in plain.getdata()):
                plain = plain.convert("L")
            name = os.path.join(os.environ.get(WORK_DIR, "."), f"frame-{i}.png")
            dpi = im.info.get("dpi")
            plain.save(name, dpi=dpi) if dpi else plain.save(name)
            out.append(name)
    return out


def check_pdf(path: str, max_pixels: int) -> int:
    """The page count of a PDF, each page's images checked against the pixel
    limit by their dictionaries (nothing is decoded)."""
    import pikepdf
    try:
        with pikepdf.open(path) as pdf:
            if pdf.is_encrypted:
                raise Refused(ERR_COMPONENT, f"The PDF file {_name(path)} is encrypted; OCR needs it without "
                              "a password.")
            pages = len(pdf.pages)
            if pages == 0:
                raise Refused(ERR_COMPONENT, f"The PDF file {_name(path)} has no pages.")
            for number, page in enumerate(pdf.pages, 1):
                for image in page.images.values():
                    w, h = int(image.get("/Width", 0)), int(image.get("/Height", 0))
                    if w * h > max_pixels:
                        raise Refused(ERR_COMPONENT, f"Page {number} of {_name(path)} has an image of {w} x {h} "
                                      f"pixels, more than the limit of {max_pixels}.")
            return pages
    except Refused:
        raise
    except pikepdf.PasswordError:  # type: ignore[attr-defined]
        raise Refused(ERR_COMPONENT, f"The PDF file {_name(path)} is encrypted; OCR needs it without a password.")
    except Exception as e:
        # The engine's message names the file by its path, which is the caller's business only.
        reason = _text(e).replace(path + ": ", "").replace(path, _name(path))
        raise Refused(ERR_COMPONENT, f"The PDF file {_name(path)} is damaged and cannot be read: {reason}")


def check_pdfa(path: str) -> None:
    """The output claims PDF/A-2B in its metadata, as asked."""
    import pikepdf
    with pikepdf.open(path) as pdf:
        meta = pdf.open_metadata()
        claim = (str(meta.get("pdfaid:part", "")), str(meta.get("pdfaid:conformance", "")).upper())
    if claim != ("2", "B"):
        raise Refused(ERR_COMPONENT, "The PDF/A-2b conversion did not give a PDF/A-2b file.")


def run(request: dict[str, Any]) -> int:
    src, kind = request["input"], request["kind"]
    work = os.environ.get(WORK_DIR, ".")
    max_pixels = int(request["max_pixels"])
    if kind == "pdf":
        pdf_in = src
    else:
        check_image(src, max_pixels)
        pdf_in = os.path.join(work, "images.pdf")
        image_to_pdf(src, pdf_in)
    pages = check_pdf(pdf_in, max_pixels)
    emit({"total": pages})

    try:
        from ocrmypdf import exceptions as ox
        from ocrmypdf.api import ocr as run_ocr
    except ImportError as e:
        raise Refused(CANNOT_CREATE, f"OCR needs the ocrmypdf package: {e}")
    try:
        code = run_ocr(
            pdf_in, request["output"], language=request["languages"],
            output_type="pdfa-2" if request["pdfa"] else "pdf",
            force_ocr=bool(request["force"]), skip_text=not request["force"],
            rotate_pages=bool(request["rotate"]),
            # The page images stay as they are: no optimisation pass.
            optimize=0, jobs=int(request["jobs"]), use_threads=True, progress_bar=True,
            # This file is the plugin that gives OCRmyPDF its progress bars.
            plugins=[os.path.abspath(__file__)],
            max_image_mpixels=max_pixels / 1e6,
            # A page that runs out of time must fail the job, not come back
            # without its text: Tesseract's own limit is past the parent's.
            tesseract_timeout=float(request["page_timeout"]) * 2 + 60)
    except ox.EncryptedPdfError:
        raise Refused(ERR_COMPONENT, f"The PDF file {_name(src)} is encrypted; OCR needs it without a password.")
    except (ox.InputFileError, ox.UnsupportedImageFormatError, ox.DpiError) as e:
        reason = _text(e).replace(pdf_in, _name(src))
        raise Refused(ERR_COMPONENT, f"The file {_name(src)} cannot be made searchable: {reason}")
    except ox.MissingDependencyError as e:
        raise Refused(CANNOT_CREATE, f"OCR needs a program that is not installed: {_text(e)}")
    except (ox.BadArgsError, ox.TesseractConfigError) as e:
        raise Refused(INVALID_CALL, f"OCR cannot run as asked: {_text(e)}")
    except ox.ExitCodeException as e:
        raise Refused(ERR_COMPONENT, f"OCR failed: {_text(e)}")
    except MemoryError:
        raise
    except Exception as e:
        if type(e).__name__ == "DecompressionBombError":
            raise Refused(ERR_COMPONENT, f"A page of {_name(src)} has more pixels than the limit of {max_pixels}.")
        raise
    if code == ox.ExitCode.pdfa_conversion_failed:
        raise Refused(ERR_COMPONENT, "The PDF/A-2b conversion did not give a PDF/A-2b file.")
    if code != ox.ExitCode.ok:
        raise Refused(ERR_COMPONENT, f"OCR failed ({ox.ExitCode(code).name.replace('_', ' ')}).")
    if request["pdfa"]:
        check_pdfa(request["output"])
    return pages


def _text(e: BaseException) -> str:
    text = str(e).strip() or getattr(e, "message", "") or type(e).__name__
    return " ".join(text.split())[:500]


def main() -> int:
    _die_with_parent()
    # The protocol keeps the standard output the child started with (its
    # copy is not inherited by OCRmyPDF's programs); anything else written
    # there goes to the log instead.
    os.environ[PROTOCOL_FD] = str(os.dup(1))
    os.dup2(2, 1)
    try:
        request = json.loads(sys.stdin.read())
        _output.append(request["output"])
        pages = run(request)
        emit({"ok": pages})
    except Refused as e:
        emit({"error": [e.number, e.description]})
    except MemoryError:
        emit({"error": [OUT_OF_MEMORY, "Out of memory"]})
    except Exception as e:
        traceback.print_exc()
        emit({"error": [INTERNAL_ERROR, f"OCR failed: {type(e).__name__}: {_text(e)}"[:900]]})
    # Worker threads are done; nothing more is owed.
    os._exit(0)


if __name__ == "__main__":
    main()
