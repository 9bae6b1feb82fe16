"""The native routes' operations: each is the component member it calls, the
named arguments it takes from the form, and how its result travels back."""

from __future__ import annotations

import json
import os
import shutil
from typing import Any, Callable, List, Optional, Tuple

import pressmark

from ..problems import BadRequest
from .base import Ctx, Op, Output, check_fields, convert_file, member_args, require_pdf, stem
from .images import bmp_to_png


def op_convert(ctx: Ctx) -> Output:
    to = ctx.fields.get("to", "pdf").lower()
    if to not in ("pdf", "ps"):
        raise BadRequest('form field "to" is pdf or ps', "invalid-argument")
    outs: List[str] = []
    for path, original in ctx.many("files") if "files" in ctx.inputs else [ctx.one()]:
        target = ctx.output(f"{stem(original)}.{to}")
        n = 1
        while target in outs:
            n += 1
            target = ctx.output(f"{stem(original)}-{n}.{to}")
        convert_file(ctx, path, original, to, target)
        outs.append(target)
    return Output(files=outs)


def op_merge(ctx: Ctx) -> Output:
    files = ctx.many("files", 1)
    for p, _ in files:
        require_pdf(p)
    target = ctx.output("merged.pdf")
    ctx.pdf.CreatePDFfromMultiPDF(target, [p for p, _ in files])
    return Output(files=[target])


def open_doc(ctx: Ctx, path: Optional[str] = None) -> Tuple[Any, str]:
    """The upload opened from a copy in the output folder: the member saves over the file it opened."""
    if path is None:
        path, _ = ctx.one()
    require_pdf(path)
    work = ctx.output("work.pdf")
    shutil.copyfile(path, work)
    return ctx.pdf.OpenDocument(work), work


def saved(doc: Any, path: str, name: str, ctx: Ctx) -> Output:
    target = ctx.output(name)
    doc.Save(1, target)
    doc.CloseDoc()
    if not os.path.exists(target) and os.path.exists(path):
        os.replace(path, target)
    return Output(files=[target])


def page_op(member: str) -> Callable[[Ctx], Output]:
    def run(ctx: Ctx) -> Output:
        doc, work = open_doc(ctx)
        check_fields(ctx, [(doc, member)])
        getattr(doc, member)(**member_args(doc, member, ctx.fields))
        return saved(doc, work, "document.pdf", ctx)
    return run


def op_extract(ctx: Ctx) -> Output:
    doc, _ = open_doc(ctx)
    check_fields(ctx, [(doc, "ExtractPages")], ("each",))
    each = ctx.bool("each")
    if not each:
        target = ctx.output("pages.pdf")
        doc.ExtractPages(**member_args(doc, "ExtractPages", ctx.fields), strPath=target)
        return Output(files=[target])
    # Split: one file per page of the range.
    n = int(doc.NumPages)
    first = ctx.int("lngStartPage", 1) or 1
    last = ctx.int("lngEndPage", n) or n
    if not 1 <= first <= last <= n:
        raise BadRequest(f"pages {first} to {last} are not in a document of {n} page(s)", "invalid-argument")
    outs = []
    for p in range(first, last + 1):
        target = ctx.output(f"page-{p}.pdf")
        doc.ExtractPages(lngStartPage=p, lngEndPage=p, strPath=target)
        outs.append(target)
        ctx.progress(int(100 * (p - first + 1) / (last - first + 1)))
    return Output(files=outs)


def op_bookmarks_read(ctx: Ctx) -> Output:
    path, _ = ctx.one()
    require_pdf(path)
    check_fields(ctx, [])
    rows = pressmark.Ref()
    ctx.pdf.BookmarksToArray(path, rows)
    value = rows.value
    table = [list(r) for r in value] if value is not None and not isinstance(value, str) else []
    # A row is title, outline level (1 = top), 0-based page index[, x, y]; callers count pages from 1.
    return Output(json={"bookmarks": [{"title": r[0], "page": int(r[2]) + 1, "level": int(r[1])}
                                      for r in table if len(r) >= 3]})


def op_bookmarks_write(ctx: Ctx) -> Output:
    path, _ = ctx.one()
    require_pdf(path)
    check_fields(ctx, [(ctx.pdf, "CreateBookmarksInPDF")])
    target = ctx.output("document.pdf")
    shutil.copyfile(path, target)
    ctx.pdf.CreateBookmarksInPDF(target, **member_args(ctx.pdf, "CreateBookmarksInPDF", ctx.fields))
    return Output(files=[target])


def field_names(doc: Any) -> List[str]:
    c = doc.GetFields()
    return [str(c.Item(i)) for i in range(1, c.Count + 1)]


def plain(value: Any) -> Any:
    """A field's value as JSON carries it."""
    if value is None or isinstance(value, (bool, int, float, str)):
        return value
    if isinstance(value, (list, tuple)):
        return [plain(v) for v in value]
    return str(value)


def op_fields_list(ctx: Ctx) -> Output:
    doc, _ = open_doc(ctx)
    check_fields(ctx, [])
    out = []
    for name in field_names(doc):
        f = doc.GetField(name)
        out.append({"name": name, "type": f.FieldType, "value": plain(f.Value)})
    doc.CloseDoc()
    return Output(json={"fields": out})


def op_fields_fill(ctx: Ctx) -> Output:
    doc, work = open_doc(ctx)
    check_fields(ctx, [], ("values", "flatten"))
    try:
        values = json.loads(ctx.fields.get("values", "{}"))
    except (ValueError, RecursionError):
        raise BadRequest('form field "values" is not JSON', "invalid-argument")
    if not isinstance(values, dict):
        raise BadRequest('form field "values" is a JSON object of field names and values', "invalid-argument")
    names = set(field_names(doc))
    missing = sorted(k for k in values if k not in names)
    if missing:
        raise BadRequest(f"no such field(s): {', '.join(missing)}", "unknown-field")
    for name, value in values.items():
        doc.GetField(name).Value = value
    if ctx.bool("flatten"):
        doc.FlattenPages()
    return saved(doc, work, "document.pdf", ctx)


def op_sign(ctx: Ctx) -> Output:
    doc, work = open_doc(ctx)
    check_fields(ctx, [], ("field", "password", "page"))
    cert, _ = ctx.one("certificate")
    name = ctx.fields.get("field", "")
    if not name:
        # No field named: a new one in the corner of the first (or given) page.
        name = "Signature1"
        n = 1
        while name in set(field_names(doc)):
            n += 1
            name = f"Signature{n}"
        doc.CreateSignatureField(name, ctx.int("page", 1), [36, 86, 236, 36])
        doc.Save(1)
    elif name not in set(field_names(doc)):
        raise BadRequest(f'no signature field "{name}"', "unknown-field")
    doc.GetField(name).SignDocument(cert, ctx.fields.get("password", ""))
    target = ctx.output("signed.pdf")
    doc.CloseDoc()
    del doc
    os.replace(work, target)
    return Output(files=[target])


def op_verify(ctx: Ctx) -> Output:
    doc, _ = open_doc(ctx)
    check_fields(ctx, [])
    out = []
    for name in field_names(doc):
        f = doc.GetField(name)
        if f.FieldType != "signature":
            continue
        row: dict[str, Any] = {"field": name, "signed": bool(f.IsSigned())}
        if row["signed"]:
            info = f.GetSignatureInfo()
            for key in ("Status", "Name", "Date", "Reason", "Location"):
                try:
                    v = getattr(info, key)
                    row[key.lower()] = v if isinstance(v, (int, float, str, bool)) or v is None else str(v)
                except Exception:  # a property this signature does not have
                    pass
        out.append(row)
    doc.CloseDoc()
    return Output(json={"signatures": out})


def op_text(ctx: Ctx) -> Output:
    path, _ = ctx.one()
    require_pdf(path)
    check_fields(ctx, [(ctx.pdf, "CreateTextfileFromPDF")])
    target = ctx.output("text.txt")
    ctx.pdf.CreateTextfileFromPDF(path, target, **member_args(ctx.pdf, "CreateTextfileFromPDF", ctx.fields))
    with open(target, "rb") as f:
        data = f.read()
    return Output(text=data.decode("utf-8", "replace"))


def _page_number(path: str) -> int:
    return int("".join(c for c in os.path.basename(path) if c.isdigit()) or 0)


def op_thumbnails(ctx: Ctx) -> Output:
    """One image a page: the component's bitmaps, as PNG unless bmp is asked for."""
    path, _ = ctx.one()
    require_pdf(path)
    check_fields(ctx, [(ctx.pdf, "CreateThumbnailImages")])
    args = member_args(ctx.pdf, "CreateThumbnailImages", ctx.fields)
    ext = str(args.pop("strFileExtention", "png")).lower()
    if ext not in ("png", "bmp"):
        raise BadRequest("strFileExtention is png or bmp", "invalid-argument")
    folder = ctx.output("thumbs")
    os.makedirs(folder, exist_ok=True)
    src = os.path.join(folder, "page.pdf")
    shutil.copyfile(path, src)
    if ctx.pdf.CreateThumbnailImages(src, folder, "bmp", **args) != 1:
        raise BadRequest("the thumbnails could not be made from this PDF", "damaged-pdf")
    os.remove(src)
    files = sorted((os.path.join(folder, f) for f in os.listdir(folder)), key=_page_number)
    if ext == "png":
        for i, f in enumerate(files):
            with open(f, "rb") as bmp:
                png = bmp_to_png(bmp.read())
            files[i] = f[:-4] + ".png"
            with open(files[i], "wb") as out:
                out.write(png)
            os.remove(f)
    return Output(files=files)


# The page range fields the page members share, listed so a form can offer them.
PAGE_RANGE = (("lngStartPage", "first page (empty: the first)"), ("lngEndPage", "last page (empty: the last)"))

OPS = [
    Op("convert", op_convert, (("file", False), ("files", True)), (), "office",
       "Convert office documents, text, images or PostScript to PDF or PostScript (form field to=pdf|ps); "
       "further fields are the converting member's named arguments (blnLandscape, strPages, ...)",
       (("to", "pdf or ps", "pdf"),)),
    Op("merge", op_merge, (("files", True),), ("CreatePDFfromMultiPDF",), "fast", "Merge PDFs in upload order"),
    Op("pages/extract", op_extract, (("file", False),), ("Document.ExtractPages",), "fast",
       "Extract a page range; each=true splits it into one PDF per page (ZIP)",
       (("each", "true: one file per page"), *PAGE_RANGE)),
    Op("pages/delete", page_op("DeletePages"), (("file", False),), ("Document.DeletePages",), "fast", "Delete pages",
       PAGE_RANGE),
    Op("pages/rotate", page_op("SetPageRotations"), (("file", False),), ("Document.SetPageRotations",), "fast",
       "Rotate pages", (("lngRotation", "degrees: 90, 180 or 270", "90"), *PAGE_RANGE)),
    Op("pages/move", page_op("MovePage"), (("file", False),), ("Document.MovePage",), "fast",
       "Move a page after another (reorder)"),
    Op("bookmarks/read", op_bookmarks_read, (("file", False),), ("BookmarksToArray",), "fast",
       "Bookmarks as JSON"),
    Op("bookmarks/write", op_bookmarks_write, (("file", False),), ("CreateBookmarksInPDF",), "fast",
       "Add bookmarks to the pages where their titles are found (varBookmarkTitles, a JSON array)"),
    Op("fields/list", op_fields_list, (("file", False),), ("Document.GetFields",), "fast", "Form fields as JSON"),
    Op("fields/fill", op_fields_fill, (("file", False),), ("Field.Value", "Document.FlattenPages"), "fast",
       "Fill form fields from JSON (values), flatten=true to flatten",
       (("values", "JSON object of field names and values"), ("flatten", "true to flatten the pages"))),
    Op("sign", op_sign, (("file", False), ("certificate", False)), ("Field.SignDocument",), "fast",
       "Sign with an uploaded PKCS #12 file (certificate, password; field names the signature field)",
       (("password", "of the PKCS #12 file"), ("field", "signature field; a new one when empty"),
        ("page", "page of a new signature field"))),
    Op("verify", op_verify, (("file", False),), ("Field.GetSignatureInfo",), "fast", "Signatures as JSON"),
    Op("text", op_text, (("file", False),), ("CreateTextfileFromPDF",), "fast", "Text of a PDF"),
    Op("thumbnails", op_thumbnails, (("file", False),), ("CreateThumbnailImages",), "fast",
       "One image per page (ZIP)"),
    Op("watermark", page_op("AddWatermarkFromText"), (("file", False),), ("Document.AddWatermarkFromText",), "fast",
       "Add a text watermark (strText, ...)", (("strText", "the watermark's text"),)),
]
