"""Web pages printed to PDF or photographed by headless Chromium: uploaded
HTML (index.html and its assets, header.html and footer.html), Markdown
through `{{ toHTML "file.md" }}` in index.html, or a URL the service's policy
allows. The fields are the common conversion-service convention's; a field
it has and this service does not is refused by name."""

from __future__ import annotations

import html
import json
import os
import re
import shutil
from typing import Any, Callable, Dict, List, Optional, Set, Tuple

from .. import browser, fetch
from ..problems import BadRequest, JobProblem
from .base import Ctx, Op, Output
from .pdfengine import FIELDS as ENGINE_FIELDS, INPUTS as ENGINE_INPUTS, finish

WAITS = {"waitDelay", "waitForExpression", "waitForSelector", "emulatedMediaType", "cookies", "userAgent",
         "extraHttpHeaders", "failOnHttpStatusCodes", "failOnResourceHttpStatusCodes",
         "failOnResourceLoadingFailed", "failOnConsoleExceptions", "skipNetworkIdleEvent",
         "skipNetworkAlmostIdleEvent", "omitBackground"}
PRINT = {"paperWidth", "paperHeight", "marginTop", "marginBottom", "marginLeft", "marginRight", "scale",
         "preferCssPageSize", "printBackground", "landscape", "nativePageRanges", "generateDocumentOutline",
         "generateTaggedPdf", "singlePage"}
SHOT = {"width", "height", "clip", "format", "quality", "optimizeForSpeed"}
PDF_FIELDS = WAITS | PRINT | ENGINE_FIELDS
SHOT_FIELDS = WAITS | SHOT

# Lengths as the convention writes them: a number of inches, or a number and its unit.
UNITS = {"in": 1.0, "": 1.0, "pt": 1 / 72, "px": 1 / 96, "pc": 1 / 6, "mm": 1 / 25.4, "cm": 1 / 2.54}
DURATION = re.compile(r"^\s*(\d+(?:\.\d+)?)\s*(ms|s|m|h)?\s*$")
TO_HTML = re.compile(r"\{\{\s*toHTML\s+\"([^\"]+)\"\s*\}\}")
CONFLICT = 409
# What a scope's expression holds that cannot make it backtrack: a character class, an escaped character.
PLAIN = re.compile(r"\[\^?\]?(?:\\.|[^\]\\])*\]|\\.")


def page_failed(e: Exception) -> JobProblem:
    return JobProblem({"status": CONFLICT, "type": "page-failed", "title": "The page failed",
                       "detail": str(e), "retryable": False})


def check(ctx: Ctx, known: Set[str]) -> None:
    unknown = sorted(set(ctx.fields) - known)
    if unknown:
        raise BadRequest(f"not supported by this route: {', '.join(unknown)}", "unsupported-field")


def length(ctx: Ctx, name: str, default: float) -> float:
    text = ctx.fields.get(name, "").strip().lower()
    if not text:
        return default
    m = re.match(r"^(\d+(?:\.\d+)?|\.\d+)\s*([a-z]*)$", text)
    if not m or m.group(2) not in UNITS:
        raise BadRequest(f'{name} "{text[:40]}" is a length: a number of inches, or with in, pt, px, pc, mm or cm',
                         "invalid-argument")
    return float(m.group(1)) * UNITS[m.group(2)]


def number(ctx: Ctx, name: str, default: float, low: float, high: float) -> float:
    text = ctx.fields.get(name, "").strip()
    try:
        value = float(text) if text else default
    except ValueError:
        value = float("nan")
    if not low <= value <= high:
        raise BadRequest(f"{name} is a number from {low:g} to {high:g}", "invalid-argument")
    return value


def seconds(ctx: Ctx, name: str) -> float:
    text = ctx.fields.get(name, "").strip()
    if not text:
        return 0.0
    m = DURATION.match(text)
    if not m:
        raise BadRequest(f'{name} "{text[:40]}" is a duration such as 500ms or 2s', "invalid-argument")
    return float(m.group(1)) * {"ms": 0.001, "s": 1, "m": 60, "h": 3600, None: 1}[m.group(2)]


def as_json(ctx: Ctx, name: str, default: Any, kind: type) -> Any:
    text = ctx.fields.get(name, "").strip()
    if not text:
        return default
    try:
        value = json.loads(text)
    except (ValueError, RecursionError):
        value = None
    if not isinstance(value, kind):
        raise BadRequest(f"{name} is a JSON {'array' if kind is list else 'object'}", "invalid-argument")
    return value


def statuses(ctx: Ctx, name: str) -> List[Tuple[int, int]]:
    """The statuses a field names: 499 stands for 400 to 499, and so on for each hundred."""
    out = []
    for code in as_json(ctx, name, [499, 599], list):
        if not isinstance(code, int) or not 100 <= code <= 599:
            raise BadRequest(f"{name} holds HTTP statuses (100 to 599)", "invalid-argument")
        out.append((code - 99, code) if code % 100 == 99 else (code, code))
    return out


def headers(ctx: Ctx) -> Dict[str, Tuple[str, Optional["re.Pattern[str]"]]]:
    """extraHttpHeaders: each value sent with every request, or, with ";scope=<regular expression>" after it, with
    the requests whose address the expression matches."""
    out: Dict[str, Tuple[str, Optional["re.Pattern[str]"]]] = {}
    for k, v in as_json(ctx, "extraHttpHeaders", {}, dict).items():
        value, _, scope = v.partition(";scope=") if isinstance(v, str) else (v, "", "")
        if not fetch.sendable_header(k, value):
            raise BadRequest(f'extraHttpHeaders: "{str(k)[:100]}" is not a header the service sends (a JSON object '
                             "of header names and text values, no framing or host headers)", "invalid-argument")
        if len(scope) > 300 or costly(scope):
            # Python's expressions backtrack: a repeated group that repeats within could run for ever.
            raise BadRequest(f"extraHttpHeaders: the scope of {k} is longer than 300 characters, or has more than "
                             "two repetitions and alternatives or one inside a repeated group", "unsupported-field")
        try:
            out[k] = (value.strip(), re.compile(scope) if scope else None)
        except re.error:
            raise BadRequest(f"extraHttpHeaders: the scope of {k} is not a regular expression", "invalid-argument")
    return out


def costly(scope: str) -> bool:
    """Whether Python's backtracking expressions could take long over an address: a repeated group with a
    repetition or an alternative inside (exponential), or more than two of them in all (each one more multiplies
    the work by the address's length)."""
    bare = PLAIN.sub("c", scope)
    opens: List[int] = []
    count = 0
    for i, c in enumerate(bare):
        before, after = bare[i - 1:i], bare[i + 1:i + 2]
        if c == "(":
            opens.append(count)
        elif c == ")" and opens:
            if count > opens.pop() and after and after in "*+?{":
                return True
        elif c in "*+|{" or c == "?" and before not in ("(", "*", "+", "?", "}"):
            count += 1
    return count > 2


def cookies(ctx: Ctx) -> List[Dict[str, Any]]:
    value = as_json(ctx, "cookies", [], list)
    if not all(isinstance(c, dict) and c.get("name") and "value" in c and c.get("domain") for c in value):
        raise BadRequest("cookies is a JSON array of objects with name, value and domain", "invalid-argument")
    return list(value)


def page_job(ctx: Ctx, url: str, site: Optional[str]) -> browser.PageJob:
    """The fields every route shares: what the page may reach and how long it is waited for."""
    media = ctx.fields.get("emulatedMediaType", "").strip()
    if media not in ("", "screen", "print"):
        raise BadRequest('emulatedMediaType is "screen" or "print"', "invalid-argument")
    settings = browser.settings()
    limit = min(settings.chromium_timeout, ctx.timeout or settings.chromium_timeout)
    delay = seconds(ctx, "waitDelay")
    if delay >= limit:
        raise BadRequest(f"waitDelay must be shorter than the {limit:g} s a page may take", "invalid-argument")
    return browser.PageJob(
        url=url, site=site, fetcher=browser.http_fetcher(fetch.request, settings), media=media,
        user_agent=ctx.fields.get("userAgent", ""), headers=headers(ctx), cookies=cookies(ctx), wait_delay=delay,
        wait_expression=ctx.fields.get("waitForExpression", "").strip(),
        wait_selector=ctx.fields.get("waitForSelector", "").strip(),
        network_idle=not ctx.bool("skipNetworkIdleEvent", True),
        network_almost_idle=not ctx.bool("skipNetworkAlmostIdleEvent", True),
        fail_statuses=statuses(ctx, "failOnHttpStatusCodes"),
        fail_resource_statuses=statuses(ctx, "failOnResourceHttpStatusCodes")
        if "failOnResourceHttpStatusCodes" in ctx.fields else [],
        fail_resource_failed=ctx.bool("failOnResourceLoadingFailed"),
        fail_console=ctx.bool("failOnConsoleExceptions"), omit_background=ctx.bool("omitBackground"),
        seconds=limit, cancelled=ctx.cancelled)


def print_options(ctx: Ctx, site: Optional[str]) -> Dict[str, Any]:
    if ctx.bool("singlePage"):
        raise BadRequest("singlePage is not supported by this service", "unsupported-field")
    options: Dict[str, Any] = {
        "paperWidth": length(ctx, "paperWidth", 8.5), "paperHeight": length(ctx, "paperHeight", 11),
        "marginTop": length(ctx, "marginTop", 0.39), "marginBottom": length(ctx, "marginBottom", 0.39),
        "marginLeft": length(ctx, "marginLeft", 0.39), "marginRight": length(ctx, "marginRight", 0.39),
        "scale": number(ctx, "scale", 1.0, 0.1, 2.0), "landscape": ctx.bool("landscape"),
        "preferCSSPageSize": ctx.bool("preferCssPageSize"), "printBackground": ctx.bool("printBackground"),
        "generateDocumentOutline": ctx.bool("generateDocumentOutline"),
        "generateTaggedPDF": ctx.bool("generateTaggedPdf"),
        "pageRanges": ctx.fields.get("nativePageRanges", "").strip(),
    }
    if options["paperWidth"] <= 0 or options["paperHeight"] <= 0:
        raise BadRequest("paperWidth and paperHeight are more than 0", "invalid-argument")
    if ctx.bool("omitBackground"):
        options["printBackground"] = True   # a transparent page is printed with its (absent) background
    header = footer = None
    if site is not None:
        header, footer = (_read(os.path.join(site, n)) for n in ("header.html", "footer.html"))
    if header is not None or footer is not None:
        options["displayHeaderFooter"] = True
        # An empty template, not Chromium's own (the title and the date), where only one is given.
        options["headerTemplate"] = header if header is not None else "<span></span>"
        options["footerTemplate"] = footer if footer is not None else "<span></span>"
    return options


def _read(path: str) -> Optional[str]:
    if not os.path.isfile(path):
        return None
    with open(path, "rb") as f:
        return f.read().decode("utf-8", "replace")


def shot_options(ctx: Ctx, job: browser.PageJob) -> Dict[str, Any]:
    fmt = ctx.fields.get("format", "png").strip().lower() or "png"
    if fmt not in ("png", "jpeg", "webp"):
        raise BadRequest('format is "png", "jpeg" or "webp"', "invalid-argument")
    width = int(number(ctx, "width", 800, 1, 10000))
    height = int(number(ctx, "height", 600, 1, 10000))
    job.viewport = (width, height)
    options: Dict[str, Any] = {"format": fmt, "optimizeForSpeed": ctx.bool("optimizeForSpeed")}
    if fmt != "png":
        options["quality"] = int(number(ctx, "quality", 100, 0, 100))
    elif "quality" in ctx.fields:
        raise BadRequest("quality is for jpeg and webp", "invalid-argument")
    if ctx.bool("clip"):
        options["clip"] = {"x": 0, "y": 0, "width": width, "height": height, "scale": 1}
    else:
        options["captureBeyondViewport"] = True
    return options


def site_of(ctx: Ctx, markdown: bool) -> str:
    """The job's uploads under their own names in a folder of their own: the page's origin serves it."""
    site = os.path.join(ctx.folder, "site")
    os.makedirs(site, exist_ok=True)
    for path, original in ctx.many("files"):
        name = os.path.basename((original or "").replace("\\", "/"))
        if not name or name in (".", "..") or name.startswith("."):
            raise BadRequest(f'"{original[:80]}" is not a file name a page can use', "invalid-argument")
        target = os.path.join(site, name)
        if os.path.lexists(target):
            os.remove(target)
        try:
            os.link(path, target)
        except OSError:
            shutil.copyfile(path, target)
    index = os.path.join(site, "index.html")
    if not os.path.isfile(index):
        raise BadRequest('upload the page as a file named "index.html" in "files"', "missing-file")
    if markdown:
        with open(index, "rb") as f:
            page = f.read().decode("utf-8", "replace")
        # Each file rendered once; a page that names one again and again may not grow past what an upload may be.
        names = TO_HTML.findall(page)
        rendered = {name: markdown_html(site, name) for name in set(names)}
        if len(page) + sum(len(rendered[name]) for name in names) > browser.settings().max_body:
            raise BadRequest(f"index.html with its toHTML files is larger than {browser.settings().max_body} bytes",
                             "too-large")
        os.remove(index)   # a link to the upload, which stays as it came
        with open(index, "w", encoding="utf-8") as f:
            f.write(TO_HTML.sub(lambda m: rendered[m.group(1)], page))
    return site


def markdown_html(site: str, name: str) -> str:
    from markdown_it import MarkdownIt
    path = os.path.join(site, os.path.basename(name))
    if os.path.basename(name) != name or not os.path.isfile(path):
        raise BadRequest(f'index.html asks for "{html.escape(name[:80])}", which was not uploaded', "missing-file")
    with open(path, "rb") as f:
        # Raw HTML in Markdown stays HTML, as the convention's Markdown does: the page is fenced anyway.
        text = f.read().decode("utf-8", "replace")
    return str(MarkdownIt("commonmark", {"html": True}).enable("table").render(text))


def start_url(ctx: Ctx) -> str:
    url = ctx.fields.get("url", "").strip()
    if not url:
        raise BadRequest('form field "url" names the page to print', "missing-field")
    # Checked here for a clear answer; each request of the page is checked again when it is made.
    fetch.check_url(url, browser.settings())
    return url


def render(job: browser.PageJob) -> bytes:
    try:
        return browser.pool().run(job)
    except browser.PageFailed as e:
        raise page_failed(e)
    except TimeoutError as e:
        raise JobProblem({"status": 504, "type": "timeout", "title": "The job ran out of time", "detail": str(e),
                          "retryable": True})
    except browser.CommandFailed as e:
        # What the browser refuses is what the fields asked of it (a page range past the end, say).
        raise BadRequest(f"Chromium refused the request: {e}", "invalid-argument")


def opened(ctx: Ctx, source: str, fields: Set[str]) -> Tuple[browser.PageJob, Optional[str]]:
    """The page job of a route's upload or address, its fields checked; and the uploaded site's folder."""
    check(ctx, fields | ({"url"} if source == "url" else set()))
    site = None if source == "url" else site_of(ctx, source == "markdown")
    url = start_url(ctx) if source == "url" else browser.ORIGIN + "/index.html"
    return page_job(ctx, url, site), site


def written(target: str, job: browser.PageJob) -> str:
    with open(target, "wb") as f:
        f.write(render(job))
    return target


def converter(source: str) -> Callable[[Ctx], Output]:
    def run(ctx: Ctx) -> Output:
        job, site = opened(ctx, source, PDF_FIELDS)
        job.pdf = print_options(ctx, site)
        return Output(files=finish(ctx, [written(ctx.output("page.pdf"), job)]))
    return run


def screenshot(source: str) -> Callable[[Ctx], Output]:
    def run(ctx: Ctx) -> Output:
        job, _ = opened(ctx, source, SHOT_FIELDS)
        job.screenshot = shot_options(ctx, job)
        ext = "jpg" if job.screenshot["format"] == "jpeg" else job.screenshot["format"]
        return Output(files=[written(ctx.output(f"screenshot.{ext}"), job)])
    return run


FILES = (("files", True),)
# The PDF routes also take the PDF engine fields' uploads: embedded files and a watermark's or stamp's source.
PRINTED = (*FILES, *ENGINE_INPUTS)
OPS = [
    Op("html", converter("html"), PRINTED, (), "browser",
       "Print a web page to PDF: index.html and its assets in files, header.html and footer.html for each page's "
       "header and footer; the fields of the compatible Chromium routes (paperWidth, marginTop, landscape, "
       "waitForExpression, ...)"),
    Op("markdown", converter("markdown"), PRINTED, (), "browser",
       'Print Markdown to PDF: index.html with {{ toHTML "file.md" }} where each file goes, and the .md files'),
    Op("url", converter("url"), ENGINE_INPUTS, (), "browser",
       "Print the page at an address to PDF (url; the hosts fetch_allow names, never private addresses unless "
       "allow_private)", (("url", "the page's address"),)),
]
for _source in ("url", "html", "markdown"):
    OPS += [Op(f"compat/chromium/convert/{_source}", converter(_source),
               ENGINE_INPUTS if _source == "url" else PRINTED, (), "browser",
               f"Compatibility: Chromium convert {_source}", hidden=True),
            Op(f"compat/chromium/screenshot/{_source}", screenshot(_source), () if _source == "url" else FILES, (),
               "browser", f"Compatibility: Chromium screenshot {_source}", hidden=True)]
