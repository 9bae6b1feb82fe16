"""The PDF engine routes of the common conversion-service convention
(/forms/pdfengines/...), and the native operations of the same work (PDF/A,
encryption, metadata, split, embedding). Each route maps its fields; the
work is the component's, through `finish` and the Document's members."""

from __future__ import annotations

import json
import os
import shutil
from typing import Any, Dict, List, Set, Tuple

import pressmark

from ..problems import BadRequest
from .base import Ctx, InputSpec, Op, Output, Upload, require_pdf, stem
from .pdfengine import FIELDS, INPUTS, METADATA, finish, mark_files

FILES: InputSpec = (("files", True),)
ENGINE: InputSpec = FILES + INPUTS


def check(ctx: Ctx, known: Set[str]) -> None:
    unknown = sorted(set(ctx.fields) - known)
    if unknown:
        raise BadRequest(f"not supported by this service: {', '.join(unknown)}", "unsupported-field")


def need(ctx: Ctx, *names: str) -> None:
    given = [n for n in names if ctx.fields.get(n, "").strip().lower() not in ("", "false") or ctx.inputs.get(n)]
    if not given:
        raise BadRequest(f"this route needs {' or '.join(names)}", "missing-field")


def uploads(ctx: Ctx) -> List[Upload]:
    """The uploaded PDFs in the alphanumeric order of their names, less a watermark's or stamp's source."""
    skip = set(mark_files(ctx))
    files = sorted((f for f in ctx.many("files") if f[0] not in skip), key=lambda f: os.path.basename(f[1] or ""))
    if not files:
        raise BadRequest('upload at least one PDF as form field "files"', "missing-file")
    for path, _ in files:
        require_pdf(path)
    return files


def copies(ctx: Ctx) -> List[Tuple[str, str]]:
    """Each uploaded PDF copied into the output folder under its own name: (copy, name)."""
    out: List[Tuple[str, str]] = []
    for path, original in uploads(ctx):
        name = f"{stem(original)}.pdf"
        n = 1
        while any(name == taken for _, taken in out):
            n += 1
            name = f"{stem(original)}-{n}.pdf"
        target = ctx.output(name)
        shutil.copyfile(path, target)
        out.append((target, name))
    return out


def engine_route(*required: str) -> Any:
    """A route whose work is the PDF engine fields on each uploaded PDF; `required` names what it must get."""
    def run(ctx: Ctx) -> Output:
        check(ctx, FIELDS)
        if required:
            need(ctx, *required)
        return Output(files=finish(ctx, [p for p, _ in copies(ctx)]))
    return run


def op_merge(ctx: Ctx) -> Output:
    check(ctx, FIELDS)
    target = ctx.output("merged.pdf")
    ctx.pdf.CreatePDFfromMultiPDF(target, [p for p, _ in uploads(ctx)])
    return Output(files=finish(ctx, [target]))


def op_flatten(ctx: Ctx) -> Output:
    check(ctx, FIELDS)
    # The route flattens whether or not the form says so.
    ctx.fields["flatten"] = "true"
    return Output(files=finish(ctx, [p for p, _ in copies(ctx)]))


def read_metadata(ctx: Ctx, path: str) -> Dict[str, Any]:
    doc = ctx.pdf.OpenDocument(path)
    try:
        out: Dict[str, Any] = {}
        for key in METADATA:
            try:
                value = getattr(doc, "KeyWords" if key == "Keywords" else key)
            except pressmark.AutomationError:  # a date the document does not have
                continue
            if value not in (None, ""):
                out[key] = value.isoformat() if hasattr(value, "isoformat") else str(value)
        out["PageCount"] = int(doc.NumPages)
        return out
    finally:
        doc.CloseDoc()
        del doc


def op_metadata_read(ctx: Ctx) -> Output:
    check(ctx, set())
    return Output(json={os.path.basename(o or ""): read_metadata(ctx, p) for p, o in uploads(ctx)})


def outline(rows: List[List[Any]]) -> List[Dict[str, Any]]:
    """The flat rows (title, level from 1, page index from 0) as nested bookmarks with pages from 1."""
    root: List[Dict[str, Any]] = []
    stack: List[Tuple[int, List[Dict[str, Any]]]] = [(0, root)]
    for r in rows:
        level = int(r[1])
        while len(stack) > 1 and stack[-1][0] >= level:
            stack.pop()
        node: Dict[str, Any] = {"title": str(r[0]), "page": int(r[2]) + 1, "children": []}
        stack[-1][1].append(node)
        stack.append((level, node["children"]))
    return root


def op_bookmarks_read(ctx: Ctx) -> Output:
    check(ctx, set())
    out: Dict[str, Any] = {}
    for path, original in uploads(ctx):
        rows = pressmark.Ref()
        ctx.pdf.BookmarksToArray(path, rows)
        value = rows.value
        table = [list(r) for r in value] if value is not None and not isinstance(value, str) else []
        out[os.path.basename(original or "")] = outline([r for r in table if len(r) >= 3])
    return Output(json=out)


def flat(nodes: Any, level: int = 1) -> List[List[Any]]:
    """Nested bookmarks as the rows of the Document's bookmark table: name, level, page."""
    if not isinstance(nodes, list):
        raise BadRequest("bookmarks are a JSON array of {title, page, children}", "invalid-argument")
    rows: List[List[Any]] = []
    for node in nodes:
        if not isinstance(node, dict) or not isinstance(node.get("title"), str) or not isinstance(
                node.get("page"), int):
            raise BadRequest("each bookmark has a title (text) and a page (a number from 1)", "invalid-argument")
        rows.append([node["title"], level, node["page"]])
        rows += flat(node.get("children") or [], level + 1)
    return rows


def op_bookmarks_write(ctx: Ctx) -> Output:
    check(ctx, FIELDS | {"bookmarks"})
    need(ctx, "bookmarks")
    try:
        given = json.loads(ctx.fields["bookmarks"])
    except (ValueError, RecursionError):
        raise BadRequest("bookmarks is not JSON", "invalid-argument")
    outs = []
    for path, name in copies(ctx):
        nodes = given.get(name, given.get(os.path.splitext(name)[0] + ".pdf")) if isinstance(given, dict) else given
        if nodes is None:
            outs.append(path)
            continue
        rows = flat(nodes)
        doc = ctx.pdf.OpenDocument(path)
        try:
            pages = int(doc.NumPages)
            bad = [r[0] for r in rows if not 1 <= r[2] <= pages]
            if bad:
                raise BadRequest(f"bookmark(s) {', '.join(bad)} point past the document's {pages} page(s)",
                                 "invalid-argument")
            if rows:
                doc.CreateBookmarksFromArray(rows)
            doc.Save(1, path + ".saving.pdf")
        finally:
            doc.CloseDoc()
            del doc
        os.replace(path + ".saving.pdf", path)
        outs.append(path)
    return Output(files=finish(ctx, outs))


def native(name: str, summary: str, required: Tuple[str, ...], *extra: Tuple[str, ...],
           inputs: InputSpec = (("file", False),)) -> Op:
    """A native operation: the engine fields on one uploaded PDF (file), one of `required` among its fields."""
    names = {e[0] for e in extra}

    def run(ctx: Ctx) -> Output:
        check(ctx, names)
        need(ctx, *required)
        path, original = ctx.one()
        require_pdf(path)
        target = ctx.output(f"{stem(original)}.pdf")
        shutil.copyfile(path, target)
        return Output(files=finish(ctx, [target]))
    return Op(name, run, inputs, (), "fast", summary, extra)


def op_native_metadata_read(ctx: Ctx) -> Output:
    check(ctx, set())
    path, _ = ctx.one()
    require_pdf(path)
    return Output(json=read_metadata(ctx, path))


def _hidden(name: str, run: Any, inputs: InputSpec, summary: str) -> Op:
    return Op("pdfengines/" + name, run, inputs, (), "fast", summary, hidden=True)


SPLIT = (("splitMode", "pages or intervals"), ("splitSpan", "page ranges (1-3,5) or pages per part"),
         ("splitUnify", "pages mode: true for one PDF of the pages"))
SECURITY = (("userPassword", "needed to open the PDF"), ("ownerPassword", "lifts the permissions"),
            ("permissions", 'JSON: the permissions refused, such as {"print": false}'))

OPS = [
    _hidden("merge", op_merge, ENGINE, "Merge PDFs in the alphanumeric order of their names"),
    _hidden("split", engine_route("splitMode"), ENGINE, "Split PDFs"),
    _hidden("flatten", op_flatten, ENGINE, "Flatten PDFs"),
    _hidden("rotate", engine_route("rotateAngle"), ENGINE, "Rotate pages"),
    _hidden("convert", engine_route("pdfa", "pdfua"), ENGINE, "PDF/A or PDF/UA"),
    _hidden("metadata/read", op_metadata_read, FILES, "Metadata of PDFs"),
    _hidden("metadata/write", engine_route("metadata"), ENGINE, "Write metadata"),
    _hidden("bookmarks/read", op_bookmarks_read, FILES, "Bookmarks of PDFs"),
    _hidden("bookmarks/write", op_bookmarks_write, ENGINE, "Write bookmarks"),
    _hidden("encrypt", engine_route("userPassword", "ownerPassword"), ENGINE, "Encrypt PDFs"),
    _hidden("embed", engine_route("embeds"), ENGINE, "Embed files in PDFs"),
    _hidden("watermark", engine_route("watermarkSource"), ENGINE, "Watermark PDFs"),
    _hidden("stamp", engine_route("stampSource"), ENGINE, "Stamp PDFs"),
    native("pdfa", "Rewrite a PDF as PDF/A (1b, 2b or 3b) and check the result", ("pdfa",),
           ("pdfa", "PDF/A-1b, PDF/A-2b or PDF/A-3b", "PDF/A-2b")),
    native("encrypt", "Encrypt a PDF (AES-256): passwords and permissions", ("userPassword", "ownerPassword"),
           *SECURITY),
    Op("metadata/read", op_native_metadata_read, (("file", False),), ("Document.Title",), "fast",
       "Metadata of a PDF as JSON"),
    native("metadata/write", "Write a PDF's metadata (Title, Author, Subject, Keywords, Creator, Producer, "
           "CreationDate, ModDate)", ("metadata",), ("metadata", 'JSON: {"Title": ..., "Keywords": [...]}')),
    native("split", "Split a PDF into parts (ZIP), or its chosen pages into one", ("splitMode",), *SPLIT),
    native("embed", "Embed files (embeds) in a PDF", ("embeds",), inputs=(("file", False), ("embeds", True))),
]
