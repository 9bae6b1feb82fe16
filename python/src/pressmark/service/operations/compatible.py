"""The compatibility routes' operations: the form fields of the common
conversion-service convention. What it offers and this service does not is
refused by name."""

from __future__ import annotations

import os
from typing import Any, Dict, List, Set

import pressmark

from ..problems import BadRequest
from .base import Ctx, Op, Output, Upload, convert_file, convert_value, converter, parameters, stem
from .pdfengine import FIELDS as ENGINE_FIELDS, FONTS, INPUTS as ENGINE_INPUTS, finish, mark_files, parse_ranges

# The office route's fields this service carries out.
OFFICE_FIELDS = {
    "merge", "landscape", "nativePageRanges", "password", "exportFormFields",
    "losslessImageCompression", "quality", "reduceImageResolution", "maxImageResolution",
    "initialView", "openInFullScreenMode", "magnification", "zoom", "pageLayout",
    "firstPageOnLeft",
    "nativeWatermarkText", "nativeWatermarkColor", "nativeWatermarkFontHeight", "nativeWatermarkRotateAngle",
    "nativeWatermarkFontName",
}
# Fields the office's own PDF export has at these values already: accepted at them, refused at any other, since
# nothing carries another value to the export.
AS_EXPORTED = {
    "singlePageSheets": "false", "skipEmptyPages": "false", "exportPlaceholders": "false", "exportNotes": "false",
    "exportNotesPages": "false", "exportOnlyNotesPages": "false", "exportNotesInMargin": "false",
    "exportHiddenSlides": "false", "convertOooTargetToPdfTarget": "false", "exportLinksRelativeFsys": "false",
    "updateIndexes": "true", "exportBookmarks": "true", "exportBookmarksToPdfDestination": "false",
    "addOriginalDocumentAsStream": "false", "allowDuplicateFieldNames": "false",
    "initialPage": "1", "resizeWindowToInitialPage": "false", "centerWindow": "false",
    "displayPDFDocumentTitle": "true",
    "hideViewerMenubar": "false", "hideViewerToolbar": "false", "hideViewerWindowControls": "false",
    "useTransitionEffects": "true", "openBookmarkLevels": "-1", "nativeTiledWatermarkText": "",
}
CONVERT_FIELDS = {"files"} | OFFICE_FIELDS | set(AS_EXPORTED) | ENGINE_FIELDS
IMAGE_FIELDS = ("losslessImageCompression", "quality", "reduceImageResolution", "maxImageResolution")
RESOLUTIONS = (75, 150, 300, 600, 1200)
# The page modes of the PDF server's SetPageView by initialView: none, outline, thumbnails; and full screen.
PAGE_VIEWS = {0: 1, 1: 3, 2: 2}
FULL_SCREEN = 4
# The viewer's zoom types by magnification: fit page, fit width, fit visible, the zoom value.
ZOOM_TYPES = {1: 1, 2: 2, 3: 4, 4: 0}
LAYOUTS = {1: "SinglePage", 2: "OneColumn", 3: "TwoColumnRight"}


def check(ctx: Ctx, known: Set[str]) -> None:
    unknown = sorted(set(ctx.fields) - known)
    if unknown:
        raise BadRequest(f"not supported by this service: {', '.join(unknown)}", "unsupported-field")


def same_value(name: str, given: str, default: str) -> bool:
    if default in ("true", "false"):
        return bool(convert_value("bln" + name, given)) == (default == "true")
    if default:
        return str(convert_value("lng" + name, given.strip())) == default
    return not given.strip()


def check_exported(ctx: Ctx) -> None:
    other = sorted(f"{k}={v}" for k, v in ctx.fields.items()
                   if k in AS_EXPORTED and not same_value(k, v, AS_EXPORTED[k]))
    if other:
        raise BadRequest(f"not supported by this service: {', '.join(other)} (the office's export is made with "
                         "these fields at their defaults)", "unsupported-field")


def page_list(text: str, pages: int) -> List[int]:
    """nativePageRanges ("1-3,5", "4-" to the end) as the pages it keeps, in the document's order; pages past
    the end are left out, a list that keeps none is refused."""
    keep: Set[int] = set()
    for first, last in parse_ranges(text, pages, "nativePageRanges"):
        if first < 1 or last < first:
            raise BadRequest(f'nativePageRanges "{text[:100]}": pages and ranges separated by commas, as "1-3,5"',
                             "invalid-argument")
        keep |= set(range(first, min(last, pages) + 1))
    if not keep:
        raise BadRequest(f'nativePageRanges "{text[:100]}" is not in a document of {pages} page(s)', "invalid-argument")
    return sorted(keep)


def job_options(ctx: Ctx) -> str:
    """The image fields as Distiller job options in the job's folder ("" when none is given): the converting
    member hands the office's PDF through the Distiller with them, which encodes and samples its images anew."""
    if not any(k in ctx.fields for k in IMAGE_FIELDS):
        return ""
    quality = ctx.int("quality", 90)
    resolution = ctx.int("maxImageResolution", 300)
    if not 1 <= quality <= 100:
        raise BadRequest("quality is 1 to 100", "invalid-argument")
    if resolution not in RESOLUTIONS:
        raise BadRequest(f"maxImageResolution is one of {', '.join(map(str, RESOLUTIONS))}", "invalid-argument")
    kinds = ("Color", "Gray")
    opts = ["/AutoFilterColorImages false", "/AutoFilterGrayImages false", "/PassThroughJPEGImages false"]
    if ctx.bool("losslessImageCompression"):
        opts += [f"/{k}ImageFilter /FlateEncode" for k in kinds]
    else:
        # The JPEG quality as the encoder's scale of its tables: 50 is the tables as they are.
        q = 50 / quality if quality < 50 else max(0.01, 2 - quality / 50)
        opts += [f"/{k}ImageFilter /DCTEncode /{k}ImageDict << /QFactor {q:.3f} /Blend 1 >>" for k in kinds]
    if ctx.bool("reduceImageResolution"):
        opts += [f"/Downsample{k}Images true /{k}ImageResolution {resolution} /{k}ImageDownsampleThreshold 1.0 "
                 f"/{k}ImageDownsampleType /Bicubic" for k in (*kinds, "Mono")]
    path = os.path.join(ctx.folder, "images.joboptions")
    with open(path, "w") as f:
        f.write("<< " + "\n".join(opts) + " >> setdistillerparams\n")
    return path


def member_extras(ctx: Ctx, original: str, options: str) -> Dict[str, Any]:
    """The converting member's arguments the fields carry; a field the member for this kind of file cannot
    take is refused by name."""
    landscape = ctx.bool("landscape")
    extra: Dict[str, Any] = {"blnLandscape": landscape, "blnHorizontalOrientation": landscape}
    pick = converter(os.path.splitext(original or "")[1].lower(), "pdf")
    known = set(parameters(ctx.pdf, pick[0])) if pick and hasattr(ctx.pdf, pick[0]) else set()
    for field, arg, value in (("password", "strPassword", ctx.fields.get("password", "")),
                              (", ".join(k for k in IMAGE_FIELDS if k in ctx.fields), "strJobOptionsFile", options)):
        if value and pick and arg not in known:
            raise BadRequest(f"{field}: not supported for a {os.path.splitext(original)[1] or 'file'} input",
                             "unsupported-field")
        if value:
            extra[arg] = value
    return extra


def watermark(ctx: Ctx, doc: Any) -> None:
    text = ctx.fields.get("nativeWatermarkText", "")
    if not text:
        return
    name = ctx.fields.get("nativeWatermarkFontName", "Helvetica").strip().lower()
    if name not in FONTS:
        raise BadRequest(f'nativeWatermarkFontName "{name[:60]}": one of Helvetica, Times, Courier, Symbol, '
                         "ZapfDingbats (or Arial, Times New Roman, Courier New)", "unsupported-field")
    rgb = ctx.int("nativeWatermarkColor", 8388223)
    color = ["RGB", *[((rgb >> s) & 255) / 255 for s in (16, 8, 0)]]
    # Behind the content, as the office draws its own; a height of 0 lets the office choose, here a large one.
    doc.AddWatermarkFromText(strText=text, lngFont=FONTS[name], intTextSize=ctx.int("nativeWatermarkFontHeight") or 72,
                             varColor=color, blnOnTop=False, lngRotation=ctx.int("nativeWatermarkRotateAngle") // 10)


def choice(ctx: Ctx, name: str, known: Dict[int, Any], meaning: str) -> int:
    value = ctx.int(name)
    if value and value not in known:
        raise BadRequest(f"{name} is {meaning}", "invalid-argument")
    return value


def after_export(ctx: Ctx, target: str) -> None:
    """What the office's export of one file gets afterwards: the pages kept, the fields flattened, the native
    watermark and the initial view."""
    ranges = ctx.fields.get("nativePageRanges", "").strip()
    flatten = not ctx.bool("exportFormFields", True)
    view = choice(ctx, "initialView", PAGE_VIEWS, "0 (neither outline nor thumbnails), 1 (outline) or 2 (thumbnails)")
    mode = FULL_SCREEN if ctx.bool("openInFullScreenMode") else PAGE_VIEWS[view] if view else 0
    layout = choice(ctx, "pageLayout", LAYOUTS, "0 (the viewer's), 1 (single page), 2 (one column) or 3 (two columns)")
    zoom = choice(ctx, "magnification", ZOOM_TYPES, "0 (the viewer's), 1 (fit page), 2 (fit width), 3 (fit visible) "
                  "or 4 (the zoom value)")
    if ranges or flatten or mode or layout or ctx.fields.get("nativeWatermarkText"):
        edit(ctx, target, ranges, flatten, mode, layout)
    # The opening view of the first page, kept in the file by the viewer's own member, once the pages are final.
    if zoom and not ctx.pdf.SetPageZoom(target, ZOOM_TYPES[zoom], ctx.int("zoom", 100)):
        raise RuntimeError("the opening view was not stored")


def edit(ctx: Ctx, target: str, ranges: str, flatten: bool, mode: int, layout: int) -> None:
    doc = ctx.pdf.OpenDocument(target)
    try:
        if ranges:
            pages = int(doc.NumPages)
            keep = set(page_list(ranges, pages))
            # The pages left out, as runs deleted from the last, so the numbers of those before stay.
            runs: List[List[int]] = []
            for p in range(1, pages + 1):
                if p not in keep:
                    if runs and runs[-1][1] == p - 1:
                        runs[-1][1] = p
                    else:
                        runs.append([p, p])
            for a, b in reversed(runs):
                doc.DeletePages(lngStartPage=a, lngEndPage=b)
        if flatten:
            doc.FlattenPages()
        watermark(ctx, doc)
        if mode:
            doc.SetPageView(mode)
        if layout:
            name = LAYOUTS[layout]
            doc.CreateJavaScriptObject().layout = name.replace("Right", "Left") if ctx.bool("firstPageOnLeft") else name
        doc.Save(1)
    finally:
        doc.CloseDoc()
        del doc


def by_name(files: List[Upload]) -> List[Upload]:
    return sorted(files, key=lambda f: (os.path.basename(f[1] or "")))


def office_archives(ctx: Ctx, documents: List[Upload]) -> bool:
    """Whether the office writes the PDF/A itself: PDF/A-1b of word-processor documents, asked for alone. Its export
    embeds every font and draws nothing transparent, where Ghostscript's rewrite draws a page that uses
    transparency as an image; another field would change the file after the office wrote it."""
    if ctx.fields.get("pdfa", "").strip().lower() != "pdf/a-1b" or set(ctx.fields) != {"pdfa"}:
        return False
    return all((converter(os.path.splitext(o or "")[1].lower(), "pdf") or ("",))[0] == "CreatePDFfromWord"
               for _, o in documents)


def office_pdfa(path: str, target: str) -> None:
    """The word processor's own PDF/A-1b of the document at path."""
    word = pressmark.Dispatch("Word.Application")
    try:
        doc = word.Documents.Open(path, ReadOnly=True)
        try:
            doc.ExportAsFixedFormat(OutputFileName=target, ExportFormat=17, UseISO19005_1=True)
        finally:
            doc.Close(False)
    finally:
        word.Quit()


def op_convert(ctx: Ctx) -> Output:
    check(ctx, CONVERT_FIELDS)
    check_exported(ctx)
    options = job_options(ctx)
    outs: List[str] = []
    # A watermark's or stamp's source among the files is not a document to convert.
    marks = set(mark_files(ctx))
    documents = [f for f in ctx.many("files") if f[0] not in marks]
    if not documents:
        raise BadRequest('upload at least one document to convert as form field "files"', "missing-file")
    archived = office_archives(ctx, documents)
    for path, original in by_name(documents):
        target = ctx.output(f"{stem(original)}.pdf")
        if target in outs:
            target = ctx.output(f"{stem(original)}-{len(outs)}.pdf")
        if archived:
            office_pdfa(path, target)
        else:
            convert_file(ctx, path, original, "pdf", target, args_from_form=False,
                         extra_args=member_extras(ctx, original, options))
            after_export(ctx, target)
        outs.append(target)
    if ctx.bool("merge") and len(outs) > 1:
        merged = ctx.output("merged.pdf")
        ctx.pdf.CreatePDFfromMultiPDF(merged, outs)
        outs = [merged]
    return Output(files=finish(ctx, outs, made_pdfa=archived))


OPS = [
    Op("compat/libreoffice", op_convert, (("files", True), *ENGINE_INPUTS), (), "office",
       "Compatibility: convert with LibreOffice", hidden=True),
]
