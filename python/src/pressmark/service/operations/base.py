"""What every operation is made of: the operation's description, the job's
view (its CreatePDF, inputs, form fields and output folder), and the way a
form field becomes a member's named argument.

An operation runs on a worker thread (or farm process) holding its own
CreatePDF; it reads its inputs from the job's folder and writes its outputs
there. Paths are always the service's own: a form field never names one.
"""

from __future__ import annotations

import dataclasses
import inspect
import json
import os
import threading
from typing import Any, Callable, Dict, Iterable, List, Optional, Sequence, Tuple

import pressmark

from ..problems import BadRequest

# (form name, several?) of uploaded files
InputSpec = Tuple[Tuple[str, bool], ...]
# (name, description[, default]) of the route's own form fields
ExtraSpec = Tuple[Tuple[str, ...], ...]
Progress = Callable[[int], None]
# an uploaded file: (path in the job's folder, the caller's file name)
Upload = Tuple[str, str]


@dataclasses.dataclass
class Output:
    files: List[str] = dataclasses.field(default_factory=list)   # paths, one → body, several → ZIP
    json: Any = None
    text: Optional[str] = None


@dataclasses.dataclass
class Op:
    name: str
    run: Callable[["Ctx"], Output]
    inputs: InputSpec
    members: Tuple[str, ...]    # members whose named arguments the form may carry
    queue: str = "fast"         # farm queue by cost: office, ocr, postscript, fast, browser
    summary: str = ""
    extra: ExtraSpec = ()       # further form fields of the route itself
    hidden: bool = False        # reached through a route of its own (the compatibility routes)


OFFICE = {".doc", ".docx", ".odt", ".rtf", ".wpd", ".dot", ".dotx", ".fodt",
          ".xls", ".xlsx", ".ods", ".csv", ".fods",
          ".ppt", ".pptx", ".odp", ".pps", ".ppsx", ".fodp"}
IMAGES = {".png", ".jpg", ".jpeg", ".tif", ".tiff", ".gif", ".bmp"}
POSTSCRIPT = {".ps", ".eps"}
TEXT = {".txt", ".text", ".log"}
EXCEL = {".xls", ".xlsx", ".ods", ".csv", ".fods"}
# The largest range a sheet has: A1 to the last column's last row.
WHOLE_SHEET = "A1:XFD1048576"
SLIDES = {".ppt", ".pptx", ".odp", ".pps", ".ppsx", ".fodp"}


def convert_value(name: str, text: str) -> Any:
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
    except (ValueError, RecursionError):
        # A value nested deeper than the parser's recursion limit is as wrong as a malformed one.
        raise BadRequest(f'form field "{name}": "{text[:80]}" is not a value of its type', "invalid-argument")
    return text


def parameters(obj: object, member: str) -> List[str]:
    return list(inspect.signature(getattr(obj, member)).parameters)


def member_args(obj: object, member: str, fields: Dict[str, str], consumed: Iterable[str] = ()) -> Dict[str, Any]:
    """The named arguments of `member` the form carries, converted. A parameter the member table marks as
    naming something on the server is the service's to fill in, never the form's."""
    function = getattr(obj, member)
    by_low = {p.lower(): p for p in parameters(obj, member)}
    paths = pressmark.path_parameters(function)
    skip = set(consumed)
    args: Dict[str, Any] = {}
    for key, value in fields.items():
        real = by_low.get(key.lower())
        if real is None or key in skip:
            continue
        if real in paths:
            raise BadRequest(f'form field "{key}" names a file on the server; upload the file instead',
                             "path-not-allowed")
        args[real] = convert_value(real, value)
    return args


class Ctx:
    """One job's view: its CreatePDF, inputs, form fields and output folder."""

    def __init__(self, pdf: Any, folder: str, inputs: Dict[str, List[Upload]], fields: Dict[str, str],
                 progress: Optional[Progress] = None, cancelled: Optional[threading.Event] = None,
                 timeout: Optional[float] = None) -> None:
        self.pdf = pdf
        self.folder = folder
        self.inputs = inputs          # form name -> list of (path, original file name)
        self.fields = fields          # form name -> text
        self.out = os.path.join(folder, "out")
        os.makedirs(self.out, exist_ok=True)
        self.progress: Progress = progress or (lambda p: None)
        # Set when the job has run out of time: work that can stop early looks at it.
        self.cancelled = cancelled or threading.Event()
        # The seconds the job may run: work in processes of its own ends by then.
        self.timeout = timeout

    def one(self, name: str = "file") -> Upload:
        files = self.inputs.get(name) or []
        if len(files) != 1:
            raise BadRequest(f'upload exactly one file as form field "{name}"', "missing-file")
        return files[0]

    def many(self, name: str = "files", least: int = 1) -> List[Upload]:
        files = self.inputs.get(name) or []
        if len(files) < least:
            raise BadRequest(f'upload at least {least} file(s) as form field "{name}"', "missing-file")
        return files

    def output(self, name: str) -> str:
        return os.path.join(self.out, name)

    def bool(self, name: str, default: bool = False) -> bool:
        return bool(convert_value("bln" + name, self.fields[name])) if name in self.fields else default

    def int(self, name: str, default: int = 0) -> int:
        return int(convert_value("lng" + name, self.fields[name])) if name in self.fields else default


def check_fields(ctx: Ctx, objs_members: Sequence[Tuple[object, str]], extra: Iterable[str] = ()) -> None:
    """Every form field must be an argument of the members called or of the route."""
    known = {e.lower() for e in extra}
    for obj, member in objs_members:
        known |= {p.lower() for p in parameters(obj, member)}
    unknown = sorted(k for k in ctx.fields if k.lower() not in known)
    if unknown:
        raise BadRequest(f"unknown form field(s): {', '.join(unknown)}", "unknown-field")


def stem(original: Optional[str]) -> str:
    base = os.path.splitext(os.path.basename(original or "document"))[0]
    return "".join(c if c.isalnum() or c in "-_." else "_" for c in base)[:80] or "document"


def require_pdf(path: str) -> None:
    with open(path, "rb") as f:
        head = f.read(1024)
    if b"%PDF-" not in head:
        raise BadRequest("the upload is not a PDF file", "not-a-pdf")


class Events:
    """Distiller events as the job's progress."""

    def __init__(self, ctx: Ctx) -> None:
        self.ctx = ctx

    def OnPercentDone(self, n: int) -> None:
        self.ctx.progress(int(n))


def converter(ext: str, to: str) -> Optional[Tuple[str, str]]:
    """The member that turns a file of this kind into PDF or PostScript, and its source argument."""
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


def convert_file(ctx: Ctx, path: str, original: str, to: str, target: str, args_from_form: bool = True,
                 extra_args: Optional[Dict[str, Any]] = None) -> str:
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
    params = {p.lower(): p for p in parameters(ctx.pdf, member)}
    for name, value in (extra_args or {}).items():
        if name.lower() in params:
            args[params[name.lower()]] = value
    if "strRange" in params.values():
        # The spreadsheet members print a range and have no default for it:
        # the first sheet, and all of it (the office prints its used cells).
        args.setdefault("varExcelWorksheet", 1)
        if not str(args.get("strRange", "")).strip():
            args["strRange"] = WHOLE_SHEET
    out_arg = "strPDFFile" if to == "pdf" else "strPSFile"
    with pressmark.WithEvents(ctx.pdf, Events(ctx)):
        getattr(ctx.pdf, member)(**{out_arg: target, source: path}, **args)
    return member


def queue_for(op: Op, inputs: Dict[str, List[List[str]]]) -> str:
    """The farm queue by cost: office conversions, PostScript, everything else."""
    if op.queue != "office":
        return op.queue
    names = [orig for files in inputs.values() for _, orig in files]
    exts = {os.path.splitext(n or "")[1].lower() for n in names}
    if exts & OFFICE or exts & TEXT:
        return "office"
    if exts & POSTSCRIPT:
        return "postscript"
    return "fast"
