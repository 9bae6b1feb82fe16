"""The PDF engine fields of the common conversion-service convention, applied
to the PDFs a route has made (converted, printed from a web page, or uploaded):
split, rotation, watermark and stamp, flattening, metadata, PDF/A and PDF/UA,
embedded files and passwords. Every route that makes PDFs ends with `finish`,
so each field means the same on every route.

The fields are all read and checked before any work starts, so a form with a
wrong field costs nothing. The order of the work is fixed by what each step
keeps of the earlier ones: pages are split and turned first; marks are drawn
and forms flattened into the pages; the metadata is written before PDF/A so
that the PDF/A rewrite carries it into its XMP identification; files are
embedded after PDF/A, whose rewrite would drop them; encryption comes last
because it covers everything before it."""

from __future__ import annotations

import dataclasses
import datetime
import json
import os
import re
import shutil
from typing import Any, Dict, List, Optional, Tuple

import pressmark

from ..problems import BadRequest
from . import pdfa as pdfa_mod
from .base import IMAGES, Ctx

# The fields `finish` reads; a route accepts them beside its own.
FIELDS = {"splitMode", "splitSpan", "splitUnify", "pdfa", "pdfua", "metadata", "flatten", "userPassword",
          "ownerPassword", "permissions", "rotateAngle", "rotatePages",
          "watermarkSource", "watermarkExpression", "watermarkPages", "watermarkOptions",
          "stampSource", "stampExpression", "stampPages", "stampOptions"}
# The uploads `finish` reads: files to embed, and the image or PDF of a watermark or stamp (also accepted among the
# route's own files under the name its expression gives).
INPUTS: Tuple[Tuple[str, bool], ...] = (("embeds", True), ("watermark", False), ("stamp", False))

Range = Tuple[int, int]


# One item of a page list: "3", "1-3", "4-" (to the last page) or "-2" (from the first). Page numbers have at
# most nine digits: a longer one is no page, and past 4300 digits not even a Python number.
RANGE_ITEM = re.compile(r"(\d{1,9})?\s*(?:(-)\s*(\d{1,9})?)?")


def parse_ranges(text: str, pages: int, field: str) -> List[Range]:
    """A page list such as "1-3,5,7-" as the (first, last) pairs it writes, 1-based and inclusive, an open end at
    the last page; nothing checked against the document yet."""
    out: List[Range] = []
    for item in text.split(","):
        m = RANGE_ITEM.fullmatch(item.strip())
        if not m or not (m.group(1) or m.group(2)):
            raise BadRequest(f'{field} "{text[:100]}": page ranges are numbers and ranges such as "1-3,5,7-"',
                             "invalid-argument")
        first = int(m.group(1)) if m.group(1) else 1
        out.append((first, (int(m.group(3)) if m.group(3) else pages) if m.group(2) else first))
    return out


def page_ranges(text: str, pages: int, field: str = "pages") -> List[Range]:
    """The ranges of a page list within the document, each page once; empty: every page."""
    if not text.strip():
        return [(1, pages)]
    out = parse_ranges(text, pages, field)
    for a, b in out:
        if not 1 <= a <= b <= pages:
            raise BadRequest(f'{field} "{text[:100]}": {a}-{b} is not in a document of {pages} page(s)',
                             "invalid-argument")
    # Each page once: a list that names pages again and again would multiply the work and the output.
    ordered = sorted(out)
    if any(b >= a for (_, b), (a, _) in zip(ordered, ordered[1:])):
        raise BadRequest(f'{field} "{text[:100]}" names a page more than once', "invalid-argument")
    return out


def intervals(span: int, pages: int) -> List[Range]:
    """Chunks of `span` pages, the last one shorter when the pages do not divide evenly."""
    return [(a, min(a + span - 1, pages)) for a in range(1, pages + 1, span)]


PDFA_PARTS = {"pdf/a-1b": 1, "pdf/a-2b": 2, "pdf/a-3b": 3}
# Font codes of the watermark member by the standard fonts' names and their usual stand-ins.
FONTS = {"times-roman": 0, "times-bold": 1, "times-italic": 2, "times-bolditalic": 3, "helvetica": 4,
         "helvetica-bold": 5, "helvetica-oblique": 6, "helvetica-boldoblique": 7, "courier": 8, "courier-bold": 9,
         "courier-oblique": 10, "courier-boldoblique": 11, "symbol": 12, "zapfdingbats": 13,
         "times": 0, "times new roman": 0, "arial": 4, "liberation sans": 4, "courier new": 8}
# The permissions a reader without the owner password may be refused, and their bits of the PDF's P value.
PERMISSIONS = {"print": 4, "modifyContent": 8, "extractText": 16, "modifyAnnotations": 32, "fillForms": 256,
               "extractForAccessibility": 512, "assemble": 1024, "printHighQuality": 2048}
# The metadata written, as the document information's keys; the dates are ISO 8601 or PDF dates.
METADATA = ("Title", "Author", "Subject", "Keywords", "Creator", "Producer", "CreationDate", "ModDate")


@dataclasses.dataclass
class Mark:
    """A watermark (under the page's content) or stamp (over it)."""
    on_top: bool
    source: str                    # text, image or pdf
    expression: str
    pages: str
    options: Dict[str, Any]
    file: Optional[str] = None     # the uploaded image or PDF


@dataclasses.dataclass
class Plan:
    split: Optional[Tuple[str, str, bool]] = None
    rotate: Optional[Tuple[int, str]] = None
    marks: List[Mark] = dataclasses.field(default_factory=list)
    flatten: bool = False
    metadata: Dict[str, Any] = dataclasses.field(default_factory=dict)
    pdfa: int = 0
    embeds: List[Tuple[str, str]] = dataclasses.field(default_factory=list)
    security: Optional[Tuple[str, str, int]] = None


def _json(ctx: Ctx, name: str, kind: type) -> Any:
    text = ctx.fields.get(name, "").strip()
    if not text:
        return kind()
    try:
        value = json.loads(text)
    except (ValueError, RecursionError):
        raise BadRequest(f'{name} is not JSON', "invalid-argument")
    if not isinstance(value, kind):
        raise BadRequest(f"{name} is a JSON {'object' if kind is dict else 'array'}", "invalid-argument")
    return value


def _upload_named(ctx: Ctx, field: str, name: str) -> Optional[str]:
    """The uploaded watermark or stamp file: in its own field, else among the uploads under its file name."""
    own = ctx.inputs.get(field) or []
    if own:
        return own[0][0]
    for files in ctx.inputs.values():
        for path, original in files:
            if os.path.basename(original or "") == name:
                return path
    return None


def mark_files(ctx: Ctx) -> List[str]:
    """The uploads that are a watermark's or stamp's source, which a route does not treat as documents."""
    out = []
    for kind in ("watermark", "stamp"):
        if ctx.fields.get(f"{kind}Source", "").strip().lower() in ("image", "pdf"):
            found = _upload_named(ctx, kind, ctx.fields.get(f"{kind}Expression", "").strip())
            if found:
                out.append(found)
    return out


def _mark(ctx: Ctx, kind: str) -> Optional[Mark]:
    source = ctx.fields.get(f"{kind}Source", "").strip().lower()
    expression = ctx.fields.get(f"{kind}Expression", "")
    if not source and not expression.strip():
        return None
    if source not in ("text", "image", "pdf"):
        raise BadRequest(f"{kind}Source is text, image or pdf", "invalid-argument")
    if not expression.strip():
        raise BadRequest(f"{kind}Expression is needed with {kind}Source", "invalid-argument")
    mark = Mark(kind == "stamp", source, expression, ctx.fields.get(f"{kind}Pages", ""),
                _json(ctx, f"{kind}Options", dict))
    unknown = sorted(set(mark.options) - {"font", "points", "color", "rotation", "opacity", "scale"})
    if unknown:
        raise BadRequest(f"{kind}Options: not supported by this service: {', '.join(unknown)}", "unsupported-field")
    if source != "text":
        mark.file = _upload_named(ctx, kind, expression.strip())
        if mark.file is None:
            raise BadRequest(f'{kind}Expression names "{expression.strip()}": upload that file (as {kind} or '
                             "among the files)", "missing-file")
        ext = os.path.splitext(expression.strip())[1].lower()
        if source == "image" and ext not in IMAGES:
            raise BadRequest(f"{kind}: an image source is one of {', '.join(sorted(IMAGES))}", "invalid-argument")
    return mark


def _security(ctx: Ctx) -> Optional[Tuple[str, str, int]]:
    user = ctx.fields.get("userPassword", "")
    owner = ctx.fields.get("ownerPassword", "")
    refused = _json(ctx, "permissions", dict)
    unknown = sorted(set(refused) - set(PERMISSIONS))
    if unknown:
        raise BadRequest(f"permissions: not supported by this service: {', '.join(unknown)}", "unsupported-field")
    if not user and not owner:
        if refused:
            raise BadRequest("permissions need a userPassword or an ownerPassword", "invalid-argument")
        return None
    p = -4  # every bit a reader may be granted, granted
    for name, allowed in refused.items():
        if not isinstance(allowed, bool):
            raise BadRequest(f"permissions: {name} is true or false", "invalid-argument")
        if not allowed:
            p &= ~PERMISSIONS[name]
    return user, owner, p


def plan(ctx: Ctx) -> Plan:
    """The form's PDF engine fields, checked."""
    pl = Plan()
    mode = ctx.fields.get("splitMode", "").strip()
    if mode or ctx.fields.get("splitSpan", "").strip():
        if mode not in ("pages", "intervals"):
            raise BadRequest("splitMode is pages or intervals", "invalid-argument")
        span = ctx.fields.get("splitSpan", "").strip()
        if not span:
            raise BadRequest("splitSpan is needed with splitMode", "invalid-argument")
        if mode == "intervals" and (not span.isdigit() or int(span) < 1):
            raise BadRequest("splitSpan of intervals is a number of pages, 1 or more", "invalid-argument")
        pl.split = (mode, span, ctx.bool("splitUnify"))
    if ctx.fields.get("rotateAngle", "").strip():
        angle = ctx.int("rotateAngle")
        if angle % 90:
            raise BadRequest("rotateAngle is a multiple of 90", "invalid-argument")
        pl.rotate = (angle % 360, ctx.fields.get("rotatePages", ""))
    pl.marks = [m for m in (_mark(ctx, "watermark"), _mark(ctx, "stamp")) if m is not None]
    pl.flatten = ctx.bool("flatten")
    pl.metadata = _json(ctx, "metadata", dict)
    unknown = sorted(set(pl.metadata) - set(METADATA))
    if unknown:
        raise BadRequest(f"metadata: not written by this service: {', '.join(unknown)} (it writes "
                         f"{', '.join(METADATA)})", "unsupported-field")
    level = ctx.fields.get("pdfa", "").strip()
    if level:
        if level.lower() not in PDFA_PARTS:
            raise BadRequest(f'pdfa "{level}" is one of PDF/A-1b, PDF/A-2b, PDF/A-3b', "invalid-argument")
        pl.pdfa = PDFA_PARTS[level.lower()]
    if ctx.bool("pdfua"):
        raise BadRequest("pdfua is not supported: this service cannot make tagged PDF/UA files yet",
                         "unsupported-field")
    # A name of dots only ("..", which names a folder on disk) is no file's: such a file is an "attachment".
    names = [(p, os.path.basename(o or "")) for p, o in ctx.inputs.get("embeds") or []]
    pl.embeds = [(p, n if n.strip(".") else "attachment") for p, n in names]
    pl.security = _security(ctx)
    if pl.pdfa and pl.security:
        raise BadRequest("a PDF/A file cannot be encrypted: send pdfa or passwords, not both", "invalid-argument")
    if pl.pdfa in (1, 2) and pl.embeds:
        raise BadRequest(f"PDF/A-{pl.pdfa}b does not allow embedded files; use PDF/A-3b", "invalid-argument")
    return pl


def _edit(ctx: Ctx, path: str, work: Any) -> None:
    """Opens the PDF, lets `work` change it, and saves it in place."""
    doc = ctx.pdf.OpenDocument(path)
    try:
        work(doc)
        saved = path + ".saving.pdf"
        doc.Save(1, saved)
    finally:
        doc.CloseDoc()
        del doc
    os.replace(saved, path)


def split(ctx: Ctx, path: str, how: Tuple[str, str, bool]) -> List[str]:
    mode, span, unify = how
    doc = ctx.pdf.OpenDocument(path)
    try:
        n = int(doc.NumPages)
        parts = intervals(int(span), n) if mode == "intervals" else page_ranges(span, n, "splitSpan")
        base = os.path.splitext(path)[0]
        outs = []
        for i, (a, b) in enumerate(parts):
            target = f"{base}_{i + 1}.pdf"
            doc.ExtractPages(lngStartPage=a, lngEndPage=b, strPath=target)
            outs.append(target)
    finally:
        doc.CloseDoc()
        del doc
    if unify and mode == "pages":
        if len(outs) > 1:
            ctx.pdf.CreatePDFfromMultiPDF(path, outs)
            for o in outs:
                os.remove(o)
        else:
            os.replace(outs[0], path)
        return [path]
    os.remove(path)
    return outs


def _colour(text: Any) -> List[Any]:
    t = str(text).strip().lstrip("#")
    if len(t) != 6 or any(c not in "0123456789abcdefABCDEF" for c in t):
        raise BadRequest(f'color "{text}" is #rrggbb', "invalid-argument")
    return ["RGB", *(int(t[i:i + 2], 16) / 255 for i in (0, 2, 4))]


def draw(ctx: Ctx, doc: Any, mark: Mark, source_pdf: Optional[str]) -> None:
    o = mark.options
    kind = "stamp" if mark.on_top else "watermark"
    try:
        # A watermark lies under the content half seen through; a stamp over it, opaque.
        opacity = float(o.get("opacity", 1 if mark.on_top else 0.5))
        # Text keeps its point size; an image or a page is fitted to the page (scale -1) unless scaled.
        scale = float(o.get("scale", 1 if mark.source == "text" else -1))
        common: Dict[str, Any] = {"blnOnTop": mark.on_top, "sngOpacity": opacity,
                                  "lngRotation": int(o.get("rotation", 0)) % 360, "sngScale": scale}
        points = int(o.get("points", 48))
    except (TypeError, ValueError, OverflowError):
        raise BadRequest(f"{kind}Options: opacity, rotation, scale and points are numbers", "invalid-argument")
    if "scale" in o and not 0 < scale <= 100 or not 0 <= opacity <= 1 or not 1 <= points <= 1000:
        raise BadRequest(f"{kind}Options: scale lies above 0 and up to 100, opacity from 0 to 1, points from 1 to "
                         "1000", "invalid-argument")
    for a, b in page_ranges(mark.pages, int(doc.NumPages), "pages"):
        if mark.source == "text":
            font = str(o.get("font", "Helvetica")).lower()
            if font not in FONTS:
                raise BadRequest(f'font "{o.get("font")}" is one of the standard fonts: {", ".join(FONTS)}',
                                 "invalid-argument")
            args = dict(common, intTextSize=points, lngFont=FONTS[font])
            if "color" in o:
                args["varColor"] = _colour(o["color"])
            doc.AddWatermarkFromText(mark.expression, lngStartPage=a, lngEndPage=b, **args)
        else:
            doc.AddWatermarkFromFile(source_pdf, lngStartPage=a, lngEndPage=b, **common)


def _mark_source(ctx: Ctx, mark: Mark) -> Optional[str]:
    """The mark's source as a PDF: the uploaded PDF, or the uploaded image made into one."""
    if mark.file is None:
        return None
    if mark.source == "pdf":
        return mark.file
    target = ctx.output(f".{'stamp' if mark.on_top else 'watermark'}-source.pdf")
    if not os.path.exists(target):
        image = target[:-4] + os.path.splitext(mark.expression.strip())[1].lower()
        shutil.copyfile(mark.file, image)
        ctx.pdf.CreatePDFfromImageFile(target, image)
    return target


def edit_pages(ctx: Ctx, path: str, pl: Plan) -> None:
    """Rotation, marks and flattening: one open and save of the document."""
    sources = [_mark_source(ctx, m) for m in pl.marks]

    def work(doc: Any) -> None:
        if pl.rotate:
            angle, pages = pl.rotate
            # The angle turns each page further, as the convention's engines do, from where it stands.
            for a, b in page_ranges(pages, int(doc.NumPages), "rotatePages"):
                for page in range(a, b + 1):
                    turned = (int(doc.GetPageRotation(page)) + angle) % 360
                    doc.SetPageRotations(lngStartPage=page, lngEndPage=page, lngRotation=turned)
        for mark, source in zip(pl.marks, sources):
            draw(ctx, doc, mark, source)
        if pl.flatten:
            doc.FlattenPages()
    _edit(ctx, path, work)


def pdf_date(key: str, value: str) -> str:
    """An ISO 8601 date and time (or a PDF date, kept) as a PDF date."""
    if value.startswith("D:"):
        return value
    try:
        when = datetime.datetime.fromisoformat(value.replace("Z", "+00:00"))
    except ValueError:
        raise BadRequest(f'metadata: {key} "{value}" is not an ISO 8601 date', "invalid-argument")
    text = when.strftime("D:%Y%m%d%H%M%S")
    offset = when.utcoffset()
    if offset is None:
        return text
    minutes = int(offset.total_seconds()) // 60
    if minutes == 0:
        return text + "Z"
    return text + f"{'+' if minutes > 0 else '-'}{abs(minutes) // 60:02d}'{abs(minutes) % 60:02d}'"


def write_metadata(ctx: Ctx, path: str, values: Dict[str, Any]) -> None:
    """Through the PDF server's document, whose information keys take any of them, the dates included (a date
    set stays as given when the file is saved)."""
    info = {}
    for key, value in values.items():
        if isinstance(value, list):
            value = ", ".join(str(v) for v in value)
        if not isinstance(value, str) or key in ("CreationDate", "ModDate") and not value.strip():
            raise BadRequest(f"metadata: {key} is text", "invalid-argument")
        info[key] = pdf_date(key, value.strip()) if key.endswith("Date") else value
    doc = pressmark.Dispatch("AcroExch.PDDoc")
    if not doc.Open(path):
        raise BadRequest("the PDF cannot be opened to write its metadata", "damaged-pdf")
    try:
        for key, value in info.items():
            doc.SetInfo(key, value)
        doc.Save(1, path + ".saving.pdf")
    finally:
        doc.Close()
    os.replace(path + ".saving.pdf", path)


def embed(ctx: Ctx, path: str, files: List[Tuple[str, str]]) -> None:
    """Attaches the uploads under their own names: the attached file is named after the file on disk, so each is
    copied to that name first (the job keeps its uploads under numbered names)."""
    folder = os.path.join(ctx.folder, "embeds")
    os.makedirs(folder, exist_ok=True)
    named = []
    for i, (source, name) in enumerate(files):
        os.makedirs(os.path.join(folder, str(i)), exist_ok=True)
        target = os.path.join(folder, str(i), name.replace("/", "_") or "attachment")
        shutil.copyfile(source, target)
        named.append((target, name))

    def work(doc: Any) -> None:
        for source, name in named:
            doc.AttachFile(name, source)
    _edit(ctx, path, work)


def encrypt(ctx: Ctx, path: str, security: Tuple[str, str, int]) -> None:
    """Through the PDF server's encrypted save (AES-256), which keeps the document as it is: the distiller's security
    path would rewrite it, dropping its form and the names of its embedded files."""
    user, owner, p = security
    target = path + ".encrypted.pdf"
    doc = ctx.pdf.OpenDocument(path)
    try:
        doc.CreateJavaScriptObject().saveProtected(target, user, owner, p)
    finally:
        doc.CloseDoc()
        del doc
    os.replace(target, path)


def finish(ctx: Ctx, files: List[str], made_pdfa: bool = False) -> List[str]:
    """The route's PDFs after the PDF engine fields the form carries, in the order the convention applies them.
    made_pdfa: the route's maker wrote the PDF/A asked for already, so it is only checked."""
    pl = plan(ctx)
    if pl.split:
        files = [part for path in files for part in split(ctx, path, pl.split)]
    for path in files:
        if pl.rotate or pl.marks or pl.flatten:
            edit_pages(ctx, path, pl)
        if pl.metadata:
            write_metadata(ctx, path, pl.metadata)
        if pl.pdfa:
            if made_pdfa:
                pdfa_mod.require(path, pl.pdfa)
            else:
                pdfa_mod.convert(ctx, path, pl.pdfa)
        if pl.embeds:
            embed(ctx, path, pl.embeds)
            if pl.pdfa:
                pdfa_mod.require(path, pl.pdfa)
        if pl.security:
            encrypt(ctx, path, pl.security)
    return files
