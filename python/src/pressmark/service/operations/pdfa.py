"""PDF/A: the PDF rewritten by Ghostscript's PDF/A output with an sRGB output
intent, then checked by a preflight that reads the result back.

Ghostscript runs here and not through the component's distiller: the
distiller's job options are data only (distiller parameters), while PDF/A
needs switches given before the output device opens and a PostScript
prologue that reads the ICC profile into the output intent, which that
reader refuses by design. It runs as a process of its own under -dSAFER, may
read only the profile beside its own inputs, and ends with the job's time.

PDF/A-1 allows no transparency: Ghostscript draws a page that uses it as an
image, which keeps its look but not its text.

The preflight checks what a mislabelled file gets wrong: the XMP `pdfaid`
identification, an output intent with a profile, every font embedded, no
encryption, no JavaScript or launch actions, and for PDF/A-1b no
transparency. A result that fails it is a problem naming what failed, never
a file handed back."""

from __future__ import annotations

import os
import re
import subprocess
import time
import zlib
from typing import Any, Iterator, List, Set

import pikepdf as _pikepdf

from ..problems import Unprocessable
from .base import Ctx

# The sRGB profile of Debian's ghostscript package, the output intent of every PDF/A made here.
PROFILE = "/usr/share/color/icc/ghostscript/srgb.icc"
DEFAULT_TIMEOUT = 300.0
# The package's stubs export none of its classes to a strict check.
pikepdf: Any = _pikepdf


def prologue(profile: str) -> str:
    """The PostScript that gives the document its output intent, the profile read from `profile`."""
    return ("%!\n"
            "[/_objdef {icc_PDFA} /type /stream /OBJ pdfmark\n"
            "[{icc_PDFA} << /N 3 >> /PUT pdfmark\n"
            f"[{{icc_PDFA}} ({profile}) (r) file /PUT pdfmark\n"
            "[/_objdef {OutputIntent_PDFA} /type /dict /OBJ pdfmark\n"
            "[{OutputIntent_PDFA} << /Type /OutputIntent /S /GTS_PDFA1 /DestOutputProfile {icc_PDFA} "
            "/OutputConditionIdentifier (sRGB) /Info (sRGB IEC61966-2.1) >> /PUT pdfmark\n"
            "[{Catalog} << /OutputIntents [ {OutputIntent_PDFA} ] >> /PUT pdfmark\n")


def convert(ctx: Ctx, path: str, part: int) -> None:
    """Rewrites the PDF at path as PDF/A-<part>b, in place, and checks the result."""
    if not os.path.exists(PROFILE):
        raise Unprocessable(f"PDF/A needs the sRGB profile {PROFILE} (Debian package ghostscript)", "pdfa-failed")
    # Ghostscript answers a PDF it cannot read with a blank page and success: the pages are counted before and after.
    pages = page_count(path)
    if pages < 1:
        raise Unprocessable("the PDF cannot be read, so it cannot be rewritten as PDF/A", "pdfa-failed")
    folder = os.path.join(ctx.folder, "pdfa")
    os.makedirs(folder, exist_ok=True)
    definition = os.path.join(folder, "pdfa.ps")
    with open(definition, "w", encoding="ascii") as f:
        f.write(prologue(PROFILE))
    target = path + ".pdfa.pdf"
    argv = ["gs", "-dSAFER", "-dBATCH", "-dNOPAUSE", "-dQUIET", "-sDEVICE=pdfwrite", f"-dPDFA={part}",
            "-dPDFACompatibilityPolicy=1", "-sColorConversionStrategy=RGB", "-dEmbedAllFonts=true",
            "-dNOOUTERSAVE", f"--permit-file-read={PROFILE}", "-sOutputFile=" + target.replace("%", "%%"),
            definition, path]
    deadline = time.monotonic() + (ctx.timeout if ctx.timeout and ctx.timeout > 0 else DEFAULT_TIMEOUT)
    with subprocess.Popen(argv, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True, cwd=folder,
                          env={"PATH": os.environ.get("PATH", "/usr/bin:/bin"), "TMPDIR": folder}) as gs:
        while True:
            try:
                out, err = gs.communicate(timeout=0.5)
                break
            except subprocess.TimeoutExpired:
                # A job failed at its time-out elsewhere is told so: its Ghostscript ends with it.
                if ctx.cancelled.is_set() or time.monotonic() > deadline:
                    gs.kill()
                    gs.communicate()
                    raise TimeoutError("the PDF/A rewrite did not finish in time")
    if gs.returncode != 0 or not os.path.exists(target) or page_count(target) != pages:
        raise Unprocessable("the PDF could not be rewritten as PDF/A: " + (err or out).strip()[-400:], "pdfa-failed")
    os.replace(target, path)
    require(path, part)


def page_count(path: str) -> int:
    """The PDF's pages; 0 when it cannot be read."""
    try:
        with pikepdf.open(path) as pdf:
            return len(pdf.pages)
    except (pikepdf.PdfError, pikepdf.PasswordError):
        return 0


def require(path: str, part: int) -> None:
    faults = preflight(path, part)
    if faults:
        raise Unprocessable(f"the result is not PDF/A-{part}b: " + "; ".join(faults), "pdfa-preflight-failed")


def _objects(pdf: Any) -> Iterator[Any]:
    """Every dictionary and stream of the file, the direct ones inside others too (a font or an embedded file's entry
    may be written in place)."""
    todo = [o for o in pdf.objects if isinstance(o, (pikepdf.Dictionary, pikepdf.Stream, pikepdf.Array))]
    while todo:
        obj = todo.pop()
        if isinstance(obj, pikepdf.Array):
            children = list(obj)
        else:
            yield obj
            children = [obj[k] for k in obj.keys()]
        todo += [c for c in children
                 if isinstance(c, (pikepdf.Dictionary, pikepdf.Array)) and not c.is_indirect]


def _head(stream: Any, size: int = 1024) -> bytes:
    """A stream's first bytes, decoded no further: an embedded file may expand to far more than memory holds.
    A filter other than Flate gives nothing, so the file is not taken for a PDF."""
    raw = stream.read_raw_bytes()
    kind = stream.get("/Filter")
    if kind is None:
        return bytes(raw[:size])
    if kind != "/FlateDecode" and not (isinstance(kind, pikepdf.Array) and list(kind) == ["/FlateDecode"]):
        return b""
    try:
        return zlib.decompressobj().decompress(raw, size)
    except zlib.error:
        return b""


def _font_embedded(font: Any) -> bool:
    if font.get("/Subtype") == "/Type3":
        return True
    if font.get("/Subtype") == "/Type0":
        return all(_font_embedded(d) for d in font.get("/DescendantFonts", []))
    descriptor = font.get("/FontDescriptor")
    return descriptor is not None and any(k in descriptor for k in ("/FontFile", "/FontFile2", "/FontFile3"))


def _action_kinds(action: Any, seen: Set[Any]) -> Iterator[str]:
    """The kinds (/S) of an action and of the actions it chains to (/Next)."""
    while isinstance(action, pikepdf.Dictionary) and action.objgen not in seen:
        if action.objgen != (0, 0):
            seen.add(action.objgen)
        yield str(action.get("/S", ""))
        nxt = action.get("/Next")
        if isinstance(nxt, pikepdf.Array):
            for a in nxt:
                yield from _action_kinds(a, seen)
            return
        action = nxt


def preflight(path: str, part: int) -> List[str]:
    """What keeps the file from being PDF/A-<part>b; empty when nothing does."""
    faults: List[str] = []
    try:
        pdf = pikepdf.open(path)
    except pikepdf.PasswordError:
        return ["it is encrypted"]
    except pikepdf.PdfError as e:
        return [f"it cannot be read: {e}"]
    with pdf:
        if pdf.is_encrypted:
            faults.append("it is encrypted")
        xmp = ""
        if "/Metadata" in pdf.Root:
            xmp = pdf.Root.Metadata.read_bytes().decode("utf-8", "replace")
        found_part = re.search(r"pdfaid:part(?:>|=[\"'])\s*(\d)", xmp)
        found_level = re.search(r"pdfaid:conformance(?:>|=[\"'])\s*([A-Za-z])", xmp)
        if not found_part or found_part.group(1) != str(part):
            faults.append(f"its XMP does not identify it as PDF/A part {part}")
        # Levels A and U keep every rule of level B and add their own, so either meets a request for B.
        if not found_level or found_level.group(1).upper() not in ("A", "B", "U"):
            faults.append("its XMP does not give conformance B (or A or U, which include it)")
        intents = pdf.Root.get("/OutputIntents")
        if not intents or not any(i.get("/S") == "/GTS_PDFA1" and "/DestOutputProfile" in i for i in intents):
            faults.append("it has no PDF/A output intent with a profile")
        names = pdf.Root.get("/Names")
        if names is not None and "/JavaScript" in names:
            faults.append("it carries document JavaScript")
        bad_fonts: Set[str] = set()
        actions: Set[str] = set()
        transparency = False
        seen: Set[Any] = set()
        attached = False
        for obj in _objects(pdf):
            kind = obj.get("/Type")
            # PDF/A-1 allows no embedded file, PDF/A-2 only PDF files (PDF/A ones, which this cannot tell).
            if isinstance(obj.get("/EF"), pikepdf.Dictionary) and part in (1, 2):
                files = [obj.EF[k] for k in obj.EF.keys()]
                attached |= part == 1 or any(b"%PDF-" not in _head(f) for f in files)
            if kind == "/Font" and not _font_embedded(obj):
                bad_fonts.add(str(obj.get("/BaseFont", "unnamed")).lstrip("/"))
            for key in ("/A", "/OpenAction"):
                actions.update(_action_kinds(obj.get(key), seen))
            aa = obj.get("/AA")
            if isinstance(aa, pikepdf.Dictionary):
                actions.add("additional actions")
                for k in aa.keys():
                    actions.update(_action_kinds(aa[k], seen))
            if part == 1:
                smask = obj.get("/SMask")
                if smask is not None and smask != "/None":
                    transparency = True
                if obj.get("/S") == "/Transparency" or obj.get("/BM") not in (None, "/Normal", "/Compatible"):
                    transparency = True
                for key in ("/CA", "/ca"):
                    if key in obj and float(obj[key]) < 1:
                        transparency = True
        if attached:
            faults.append(f"it carries embedded files that PDF/A-{part} does not allow")
        if bad_fonts:
            faults.append(f"font(s) not embedded: {', '.join(sorted(bad_fonts))}")
        for kind in ("/JavaScript", "/Launch"):
            if kind in actions:
                faults.append(f"it has {kind[1:]} actions")
        if "additional actions" in actions:
            faults.append("it has additional actions")
        if part == 1 and transparency:
            faults.append("it uses transparency, which PDF/A-1 does not allow")
    return faults
