"""The routes' work: each operation is the component member it calls, the
named arguments it takes from the form, and how its result travels back.

An operation runs on a worker thread (or farm process) holding its own
CreatePDF; it reads its inputs from the job's folder and writes its outputs
there. Paths are always the service's own: a form field never names one.
"""

import dataclasses
import inspect
import json
import os


class BadRequest(Exception):
    """The request cannot be done as asked: answered 400, never retried."""

    def __init__(self, detail, type_="bad-request"):
        super().__init__(detail)
        self.detail = detail
        self.type = type_


@dataclasses.dataclass
class Op:
    name: str
    run: object             # run(ctx) -> result
    inputs: tuple           # (form name, several?) of uploaded files
    members: tuple          # members whose named arguments the form may carry
    queue: str = "fast"     # farm queue by cost: office, postscript, fast
    summary: str = ""
    extra: tuple = ()       # further form fields of the route itself: (name, description)
    hidden: bool = False    # reached through a route of its own (the compatibility routes)


@dataclasses.dataclass
class Output:
    files: list = dataclasses.field(default_factory=list)   # paths, one → body, several → ZIP
    json: object = None
    text: str = None


OFFICE = {".doc", ".docx", ".odt", ".rtf", ".wpd", ".dot", ".dotx", ".fodt",
          ".xls", ".xlsx", ".ods", ".csv", ".fods",
          ".ppt", ".pptx", ".odp", ".pps", ".ppsx", ".fodp"}
IMAGES = {".png", ".jpg", ".jpeg", ".tif", ".tiff", ".gif", ".bmp"}
POSTSCRIPT = {".ps", ".eps"}
TEXT = {".txt", ".text", ".log"}
EXCEL = {".xls", ".xlsx", ".ods", ".csv", ".fods"}
SLIDES = {".ppt", ".pptx", ".odp", ".pps", ".ppsx", ".fodp"}

# The arguments that name files are the service's to fill in.
PATH_ARGS = {"strpdffile", "strpsfile", "strwordddocument", "strworddocument", "strtextfile", "strexcelworkbook",
             "strppdocument", "strimagefile", "strpubfile", "strmiscfile", "varpdffiles", "varimagefiles",
             "varpsfiles", "strpdf", "strdir", "strfile", "strpath", "strsourcepdf", "strtargetpdf",
             "strcertificatefile", "strjoboptionsfile", "strdirectory", "strdistiller", "strprinter"}


def convert_value(name, text):
    """A form field's text as the member's argument, by its type prefix."""
    low = name.lower()
    try:
        if low.startswith("bln"):
            t = text.strip().lower()
            if t in ("1", "true", "yes", "on"):
                return True
            if t in ("0", "false", "no", "off", ""):
                return False
            raise ValueError(text)
        if low.startswith(("lng", "int")):
            return int(text)
        if low.startswith(("sng", "dbl")):
            return float(text)
        if low.startswith("var"):
            return json.loads(text)
    except ValueError:
        raise BadRequest(f'form field "{name}": "{text[:80]}" is not a value of its type', "invalid-argument")
    return text


def member_args(obj, member, fields, consumed=()):
    """The named arguments of `member` the form carries, converted."""
    params = inspect.signature(getattr(obj, member)).parameters
    by_low = {p.lower(): p for p in params}
    args = {}
    for key, value in fields.items():
        real = by_low.get(key.lower())
        if real is None or key in consumed:
            continue
        if real.lower() in PATH_ARGS:
            raise BadRequest(f'form field "{key}" names a file on the server; upload the file instead',
                             "path-not-allowed")
        args[real] = convert_value(real, value)
    return args


def check_fields(ctx, objs_members, extra=()):
    """Every form field must be an argument of the members called or of the route."""
    known = {e.lower() for e in extra}
    for obj, member in objs_members:
        known |= {p.lower() for p in inspect.signature(getattr(obj, member)).parameters}
    unknown = sorted(k for k in ctx.fields if k.lower() not in known)
    if unknown:
        raise BadRequest(f"unknown form field(s): {', '.join(unknown)}", "unknown-field")


class Ctx:
    """One job's view: its CreatePDF, inputs, form fields and output folder."""

    def __init__(self, pdf, folder, inputs, fields, progress=None):
        self.pdf = pdf
        self.folder = folder
        self.inputs = inputs          # form name -> list of (path, original file name)
        self.fields = fields          # form name -> text
        self.out = os.path.join(folder, "out")
        os.makedirs(self.out, exist_ok=True)
        self.progress = progress or (lambda p: None)

    def one(self, name="file"):
        files = self.inputs.get(name) or []
        if len(files) != 1:
            raise BadRequest(f'upload exactly one file as form field "{name}"', "missing-file")
        return files[0]

    def many(self, name="files", least=1):
        files = self.inputs.get(name) or []
        if len(files) < least:
            raise BadRequest(f'upload at least {least} file(s) as form field "{name}"', "missing-file")
        return files

    def output(self, name):
        return os.path.join(self.out, name)

    def bool(self, name, default=False):
        return convert_value("bln" + name, self.fields[name]) if name in self.fields else default

    def int(self, name, default=0):
        return convert_value("lng" + name, self.fields[name]) if name in self.fields else default


def stem(original):
    base = os.path.splitext(os.path.basename(original or "document"))[0]
    return "".join(c if c.isalnum() or c in "-_." else "_" for c in base)[:80] or "document"


def require_pdf(path):
    with open(path, "rb") as f:
        head = f.read(1024)
    if b"%PDF-" not in head:
        raise BadRequest("the upload is not a PDF file", "not-a-pdf")


class Events:
    """Distiller events as the job's progress."""

    def __init__(self, ctx):
        self.ctx = ctx

    def OnPercentDone(self, n):
        self.ctx.progress(int(n))


def converter(ext, to):
    """The member that turns a file of this kind into PDF or PostScript."""
    if ext in POSTSCRIPT:
        return ("CreatePDFfromPS", "strPSFile") if to == "pdf" else None
    if ext in TEXT:
        return ("CreatePDFfromTextFile" if to == "pdf" else "CreatePSfromTextFile", "strTextFile")
    if ext in IMAGES:
        return ("CreatePDFfromImageFile", "strImagefile") if to == "pdf" else None
    if ext in EXCEL:
        return ("CreatePDFfromExcel" if to == "pdf" else "CreatePSfromExcel", "strExcelWorkbook")
    if ext in SLIDES:
        return ("CreatePDFfromPowerPoint" if to == "pdf" else "CreatePSfromPowerPoint", "strPPDocument")
    if ext in OFFICE:
        return ("CreatePDFfromWord" if to == "pdf" else "CreatePSfromWord", "strWordDocument")
    return None


def convert_file(ctx, path, original, to, target, args_from_form=True, extra_args=None):
    import pressmark
    ext = os.path.splitext(original or "")[1].lower()
    pick = converter(ext, to)
    if pick is None:
        raise BadRequest(f'cannot convert a "{ext or "file without extension"}" file to {to.upper()}',
                         "unsupported-input")
    member, source = pick
    if not hasattr(ctx.pdf, member):
        raise BadRequest(f"this installation has no {member}", "unsupported-input")
    fields = ctx.fields if args_from_form else {}
    if args_from_form:
        check_fields(ctx, [(ctx.pdf, member)], ("to",))
    args = member_args(ctx.pdf, member, {k: v for k, v in fields.items() if k not in ("to",)})
    params = {p.lower(): p for p in inspect.signature(getattr(ctx.pdf, member)).parameters}
    for name, value in (extra_args or {}).items():
        if name.lower() in params:
            args[params[name.lower()]] = value
    if member == "CreatePDFfromExcel":
        args.setdefault("varExcelWorksheet", 1)
        args.setdefault("strRange", "")
    out_arg = "strPDFFile" if to == "pdf" else "strPSFile"
    with pressmark.WithEvents(ctx.pdf, Events(ctx)):
        getattr(ctx.pdf, member)(**{out_arg: target, source: path}, **args)
    return member


def op_convert(ctx):
    to = ctx.fields.get("to", "pdf").lower()
    if to not in ("pdf", "ps"):
        raise BadRequest('form field "to" is pdf or ps', "invalid-argument")
    outs = []
    for path, original in ctx.many("files") if "files" in ctx.inputs else [ctx.one()]:
        target = ctx.output(f"{stem(original)}.{to}")
        n = 1
        while target in outs:
            n += 1
            target = ctx.output(f"{stem(original)}-{n}.{to}")
        convert_file(ctx, path, original, to, target)
        outs.append(target)
    return Output(files=outs)


def op_merge(ctx):
    files = ctx.many("files", 1)
    for p, _ in files:
        require_pdf(p)
    target = ctx.output("merged.pdf")
    ctx.pdf.CreatePDFfromMultiPDF(target, [p for p, _ in files])
    return Output(files=[target])


def open_doc(ctx, path=None):
    if path is None:
        path, _ = ctx.one()
    require_pdf(path)
    work = ctx.output("work.pdf")
    with open(path, "rb") as src, open(work, "wb") as dst:
        dst.write(src.read())
    return ctx.pdf.OpenDocument(work), work


def saved(doc, path, name, ctx):
    target = ctx.output(name)
    doc.Save(1, target)
    doc.CloseDoc()
    if not os.path.exists(target) and os.path.exists(path):
        os.replace(path, target)
    return Output(files=[target])


def page_op(member):
    def run(ctx):
        doc, work = open_doc(ctx)
        check_fields(ctx, [(doc, member)])
        getattr(doc, member)(**member_args(doc, member, ctx.fields))
        return saved(doc, work, "document.pdf", ctx)
    return run


def op_extract(ctx):
    doc, _ = open_doc(ctx)
    check_fields(ctx, [(doc, "ExtractPages")], ("each",))
    each = ctx.bool("each")
    if not each:
        target = ctx.output("pages.pdf")
        doc.ExtractPages(**member_args(doc, "ExtractPages", ctx.fields), strPath=target)
        return Output(files=[target])
    # Split: one file per page of the range.
    n = doc.NumPages
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


def op_bookmarks_read(ctx):
    import pressmark
    path, _ = ctx.one()
    require_pdf(path)
    check_fields(ctx, [])
    rows = pressmark.Ref()
    ctx.pdf.BookmarksToArray(path, rows)
    value = rows.value
    table = [list(r) for r in value] if value is not None and not isinstance(value, str) else []
    return Output(json={"bookmarks": [{"title": r[0], "page": r[1]} for r in table if len(r) >= 2]})


def op_bookmarks_write(ctx):
    path, _ = ctx.one()
    require_pdf(path)
    check_fields(ctx, [(ctx.pdf, "CreateBookmarksInPDF")])
    target = ctx.output("document.pdf")
    with open(path, "rb") as s, open(target, "wb") as d:
        d.write(s.read())
    ctx.pdf.CreateBookmarksInPDF(target, **member_args(ctx.pdf, "CreateBookmarksInPDF", ctx.fields))
    return Output(files=[target])


def field_names(doc):
    c = doc.GetFields()
    return [c.Item(i) for i in range(1, c.Count + 1)]


def plain(value):
    """A field's value as JSON carries it."""
    if value is None or isinstance(value, (bool, int, float, str)):
        return value
    if isinstance(value, (list, tuple)):
        return [plain(v) for v in value]
    return str(value)


def op_fields_list(ctx):
    doc, _ = open_doc(ctx)
    check_fields(ctx, [])
    out = []
    for name in field_names(doc):
        f = doc.GetField(name)
        out.append({"name": name, "type": f.FieldType, "value": plain(f.Value)})
    doc.CloseDoc()
    return Output(json={"fields": out})


def op_fields_fill(ctx):
    doc, work = open_doc(ctx)
    check_fields(ctx, [], ("values", "flatten"))
    try:
        values = json.loads(ctx.fields.get("values", "{}"))
    except ValueError:
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


def op_sign(ctx):
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


def op_verify(ctx):
    doc, _ = open_doc(ctx)
    check_fields(ctx, [])
    out = []
    for name in field_names(doc):
        f = doc.GetField(name)
        if f.FieldType != "signature":
            continue
        row = {"field": name, "signed": bool(f.IsSigned())}
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


def op_text(ctx):
    path, _ = ctx.one()
    require_pdf(path)
    check_fields(ctx, [(ctx.pdf, "CreateTextfileFromPDF")])
    target = ctx.output("text.txt")
    ctx.pdf.CreateTextfileFromPDF(path, target, **member_args(ctx.pdf, "CreateTextfileFromPDF", ctx.fields))
    with open(target, "rb") as f:
        data = f.read()
    return Output(text=data.decode("utf-8", "replace"))


def bmp_to_png(data):
    """An uncompressed 24- or 32-bit bitmap as PNG (the component writes bitmaps)."""
    import struct
    import zlib
    if data[:2] != b"BM" or len(data) < 54:
        raise ValueError("not a bitmap")
    offset, = struct.unpack_from("<I", data, 10)
    width, height, _, bits, compression = struct.unpack_from("<iiHHI", data, 18)
    if bits not in (24, 32) or compression not in (0, 3) or width <= 0 or height == 0:
        raise ValueError("an unsupported bitmap")
    step = bits // 8
    stride = (width * step + 3) & ~3
    rows = []
    for y in range(abs(height)):
        src = y if height < 0 else abs(height) - 1 - y
        line = data[offset + src * stride: offset + src * stride + width * step]
        if len(line) < width * step:
            raise ValueError("a truncated bitmap")
        rgb = bytearray(width * 3)
        rgb[0::3], rgb[1::3], rgb[2::3] = line[2::step], line[1::step], line[0::step]
        rows.append(b"\0" + bytes(rgb))

    def chunk(kind, body):
        return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, abs(height), 8, 2, 0, 0, 0))
            + chunk(b"IDAT", zlib.compress(b"".join(rows), 6)) + chunk(b"IEND", b""))


def op_thumbnails(ctx):
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
    with open(path, "rb") as s, open(src, "wb") as d:
        d.write(s.read())
    if ctx.pdf.CreateThumbnailImages(src, folder, "bmp", **args) != 1:
        raise BadRequest("the thumbnails could not be made from this PDF", "damaged-pdf")
    os.remove(src)
    files = sorted((os.path.join(folder, f) for f in os.listdir(folder)),
                   key=lambda p: int("".join(c for c in os.path.basename(p) if c.isdigit()) or 0))
    if ext == "png":
        for i, f in enumerate(files):
            with open(f, "rb") as bmp:
                png = bmp_to_png(bmp.read())
            files[i] = f[:-4] + ".png"
            with open(files[i], "wb") as out:
                out.write(png)
            os.remove(f)
    return Output(files=files)


OPS = {o.name: o for o in [
    Op("convert", op_convert, (("file", False), ("files", True)), (), "office",
       "Convert office documents, text, images or PostScript to PDF or PostScript (form field to=pdf|ps); "
       "further fields are the converting member's named arguments (blnLandscape, strPages, ...)",
       (("to", "pdf or ps", "pdf"),)),
    Op("merge", op_merge, (("files", True),), ("CreatePDFfromMultiPDF",), "fast", "Merge PDFs in upload order"),
    Op("pages/extract", op_extract, (("file", False),), ("Document.ExtractPages",), "fast",
       "Extract a page range; each=true splits it into one PDF per page (ZIP)", (("each", "one file per page"),)),
    Op("pages/delete", page_op("DeletePages"), (("file", False),), ("Document.DeletePages",), "fast", "Delete pages"),
    Op("pages/rotate", page_op("SetPageRotations"), (("file", False),), ("Document.SetPageRotations",), "fast",
       "Rotate pages"),
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
       "Add a text watermark (strText, ...)"),
]}


# The compatibility routes: the form fields of the common conversion-service
# convention. What it offers and this service does not is refused by name.
COMPAT_CONVERT = {"files", "merge", "landscape", "nativePageRanges", "pdfa", "pdfua"}
COMPAT_MERGE = {"files", "pdfa", "pdfua"}


def compat_check(ctx, known):
    unknown = sorted(set(ctx.fields) - known)
    if unknown:
        raise BadRequest(f"not supported by this service: {', '.join(unknown)}", "unsupported-field")
    for name in ("pdfa", "pdfua"):
        v = ctx.fields.get(name, "").strip()
        if v and v.lower() != "false":
            raise BadRequest(f"{name}={v} is not supported: PDF/A and PDF/UA output are not made by this service",
                             "unsupported-field")


def page_range(text, pages):
    """nativePageRanges as (first, last): one page or one range, within the document."""
    text = text.strip()
    first, dash, last = text.partition("-")
    try:
        a = int(first)
        b = int(last) if dash else a
    except ValueError:
        raise BadRequest(f'nativePageRanges "{text}": one page ("3") or one range ("1-5") is supported',
                         "unsupported-field")
    if not 1 <= a <= b or a > pages:
        raise BadRequest(f'nativePageRanges "{text}" is not in a document of {pages} page(s)', "invalid-argument")
    return a, min(b, pages)


def by_name(files):
    return sorted(files, key=lambda f: (os.path.basename(f[1] or "")))


def op_compat_convert(ctx):
    compat_check(ctx, COMPAT_CONVERT)
    landscape = ctx.bool("landscape")
    ranges = ctx.fields.get("nativePageRanges", "").strip()
    outs = []
    for path, original in by_name(ctx.many("files")):
        target = ctx.output(f"{stem(original)}.pdf")
        if target in outs:
            target = ctx.output(f"{stem(original)}-{len(outs)}.pdf")
        convert_file(ctx, path, original, "pdf", target, args_from_form=False,
                     extra_args={"blnLandscape": landscape, "blnHorizontalOrientation": landscape})
        if ranges:
            doc = ctx.pdf.OpenDocument(target)
            a, b = page_range(ranges, doc.NumPages)
            part = target + ".range.pdf"
            doc.ExtractPages(lngStartPage=a, lngEndPage=b, strPath=part)
            doc.CloseDoc()
            del doc
            os.replace(part, target)
        outs.append(target)
    if ctx.bool("merge") and len(outs) > 1:
        merged = ctx.output("merged.pdf")
        ctx.pdf.CreatePDFfromMultiPDF(merged, outs)
        outs = [merged]
    return Output(files=outs)


def op_compat_merge(ctx):
    compat_check(ctx, COMPAT_MERGE)
    files = by_name(ctx.many("files"))
    for p, _ in files:
        require_pdf(p)
    target = ctx.output("merged.pdf")
    ctx.pdf.CreatePDFfromMultiPDF(target, [p for p, _ in files])
    return Output(files=[target])


OPS["compat/libreoffice"] = Op("compat/libreoffice", op_compat_convert, (("files", True),), (), "office",
                               "Compatibility: convert with LibreOffice", hidden=True)
OPS["compat/merge"] = Op("compat/merge", op_compat_merge, (("files", True),), (), "fast",
                         "Compatibility: merge PDFs", hidden=True)


def queue_for(op_name, inputs):
    """The farm queue by cost: office conversions, PostScript, everything else."""
    if op_name not in ("convert", "compat/libreoffice"):
        return "fast"
    names = [orig for files in inputs.values() for _, orig in files]
    exts = {os.path.splitext(n or "")[1].lower() for n in names}
    if exts & OFFICE or exts & TEXT:
        return "office"
    if exts & POSTSCRIPT:
        return "postscript"
    return "fast"
