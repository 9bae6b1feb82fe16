"""One page printed or photographed in a fresh browser context.

The page is hostile. Every request it makes (its frames' and workers' too) is
paused before it leaves the browser and answered here: a file of the job's
own folder (the page's origin is ORIGIN, a name that resolves nowhere),
an http(s) address the service's URL policy allows, fetched by the service
itself so a name cannot resolve one way when checked and another when
reached; everything else fails."""

from __future__ import annotations

import base64
import dataclasses
import http.client
import json
import os
import queue
import re
import stat
import threading
import time
import urllib.parse
from concurrent.futures import ThreadPoolExecutor
from typing import Any, Callable, Dict, List, Optional, Tuple

from ..problems import BadRequest
from .devtools import CommandFailed, Connection, Gone

ORIGIN = "http://pressmark.invalid"
# The largest answer one request of the page gets.
MAX_RESOURCE = 64 << 20
SCOPED = 1024
# Headers the service sets itself when it fetches for the page.
_HOP = {"host", "connection", "keep-alive", "proxy-connection", "proxy-authorization", "te", "trailer",
        "transfer-encoding", "upgrade", "accept-encoding", "content-length"}
_KEPT_BACK = {"content-encoding", "transfer-encoding", "content-length", "connection", "keep-alive"}
TYPES = {".html": "text/html; charset=utf-8", ".htm": "text/html; charset=utf-8", ".css": "text/css",
         ".js": "text/javascript", ".mjs": "text/javascript", ".json": "application/json", ".svg": "image/svg+xml",
         ".png": "image/png", ".jpg": "image/jpeg", ".jpeg": "image/jpeg", ".gif": "image/gif",
         ".webp": "image/webp", ".ico": "image/x-icon", ".woff": "font/woff", ".woff2": "font/woff2",
         ".ttf": "font/ttf", ".otf": "font/otf", ".txt": "text/plain; charset=utf-8", ".md": "text/markdown"}

# Whether an element the selector names is shown (it has a box of its own).
VISIBLE = "(e => !!e && !!(e.offsetWidth || e.offsetHeight || e.getClientRects().length))(document.querySelector(%s))"
# (method, url, headers, body) -> (status, headers, body); raises to refuse.
Fetcher = Callable[[str, str, Dict[str, str], Optional[bytes]], Tuple[int, List[Tuple[str, str]], bytes]]


class PageFailed(Exception):
    """The page did not load as the job asks (a status, a console exception, a resource that failed)."""


@dataclasses.dataclass
class PageJob:
    url: str                                  # where the page is: ORIGIN/... for the job's files
    site: Optional[str] = None                # the folder ORIGIN serves (None: nothing)
    fetcher: Optional[Fetcher] = None         # http(s) for the page (None: refused)
    media: str = ""                           # emulated media type: screen or print
    user_agent: str = ""
    headers: Dict[str, Tuple[str, Optional["re.Pattern[str]"]]] = dataclasses.field(default_factory=dict)
    cookies: List[Dict[str, Any]] = dataclasses.field(default_factory=list)
    wait_delay: float = 0.0
    wait_expression: str = ""
    wait_selector: str = ""
    network_idle: bool = False
    network_almost_idle: bool = False
    fail_statuses: List[Tuple[int, int]] = dataclasses.field(default_factory=list)
    fail_resource_statuses: List[Tuple[int, int]] = dataclasses.field(default_factory=list)
    fail_resource_failed: bool = False
    fail_console: bool = False
    omit_background: bool = False
    viewport: Optional[Tuple[int, int]] = None
    pdf: Optional[Dict[str, Any]] = None          # Page.printToPDF's parameters, or
    screenshot: Optional[Dict[str, Any]] = None   # Page.captureScreenshot's
    seconds: float = 60.0
    cancelled: Optional[threading.Event] = None   # set when the job has run out of time elsewhere


def site_file(site: str, url: str) -> Optional[str]:
    """The file of the job's folder an ORIGIN address names, or None: nothing above the folder, no link out of it,
    nothing but regular files."""
    path = urllib.parse.unquote(urllib.parse.urlsplit(url).path)
    parts = [p for p in path.split("/") if p]
    if not parts or any(p in (".", "..") or "\0" in p for p in parts):
        return None
    root = os.path.realpath(site)
    full = os.path.join(root, *parts)
    if os.path.realpath(full) != full:
        return None   # a link somewhere on the way
    try:
        st = os.lstat(full)
    except OSError:
        return None
    return full if stat.S_ISREG(st.st_mode) else None


def in_ranges(status: int, ranges: List[Tuple[int, int]]) -> bool:
    return any(a <= status <= b for a, b in ranges)


# What a page's failure reports of each kind: a page that fails in a loop must not fill the service's memory.
NOTED = 5


def noted(kept: List[str], text: str) -> None:
    if len(kept) < NOTED:
        kept.append(text)


class _Run:
    """The state of one page's run: its sessions, its main frame, what it loaded and what went wrong."""

    def __init__(self, devtools: Connection, job: PageJob) -> None:
        self.devtools = devtools
        self.job = job
        self.events: "queue.Queue[Tuple[str, Dict[str, Any]]]" = queue.Queue()
        self.sessions: List[str] = []
        self.frame = ""
        self.main_status: Optional[int] = None
        self.main_error: Optional[Exception] = None   # why the page itself (or a redirect of it) was refused
        self.failures: List[str] = []       # requests refused or failed
        self.bad_statuses: List[str] = []   # resources that answered a status the job fails on
        self.exceptions: List[str] = []
        self.pool = ThreadPoolExecutor(4, thread_name_prefix="page-fetch")
        self.lock = threading.Lock()

    def watch(self, session: str) -> None:
        self.sessions.append(session)

        def on(method: str, params: Dict[str, Any]) -> None:
            if method == "Fetch.requestPaused":
                self.pool.submit(self.answer, session, params)
            elif method == "Target.attachedToTarget":
                self.child(str(params.get("sessionId", "")))
            elif method == "Runtime.exceptionThrown":
                details = params.get("exceptionDetails", {})
                text = (details.get("exception") or {}).get("description") or details.get("text", "exception")
                with self.lock:
                    noted(self.exceptions, str(text).splitlines()[0][:300])
            else:
                self.events.put((method, params))
        self.devtools.listen(session, on)

    def child(self, session: str) -> None:
        # On the reader's thread: the child waits for the debugger, so its fence is set before it runs.
        def setup() -> None:
            try:
                self.watch(session)
                fence(self.devtools, session)
                self.devtools.call("Runtime.runIfWaitingForDebugger", {}, session)
            except (CommandFailed, Gone, TimeoutError):
                pass
        self.pool.submit(setup)

    def answer(self, session: str, params: Dict[str, Any]) -> None:
        rid = params.get("requestId")
        request = params.get("request") or {}
        url = str(request.get("url", ""))
        kind = str(params.get("resourceType", ""))
        main = kind == "Document" and params.get("frameId") == self.frame
        try:
            status, headers, body = self.load(url, str(request.get("method", "GET")), request)
        except Exception as e:
            with self.lock:
                noted(self.failures, f"{url[:200]}: {e}")
                if main:
                    self.main_error = e
            self.devtools.send("Fetch.failRequest", {"requestId": rid, "errorReason": "AccessDenied"}, session)
            return
        with self.lock:
            if main:
                self.main_status = status   # after redirects, the page's own
            elif in_ranges(status, self.job.fail_resource_statuses):
                noted(self.bad_statuses, f"{url[:200]} answered {status}")
        self.devtools.send("Fetch.fulfillRequest", {
            "requestId": rid, "responseCode": status, "body": base64.b64encode(body).decode(),
            "responseHeaders": [{"name": k, "value": v} for k, v in headers]}, session)

    def load(self, url: str, method: str, request: Dict[str, Any]) -> Tuple[int, List[Tuple[str, str]], bytes]:
        if url.startswith(ORIGIN + "/"):
            if self.job.site is None:
                raise PermissionError("the page has no files of its own")
            path = site_file(self.job.site, url)
            if path is None:
                return 404, [("Content-Type", "text/plain")], b"not found"
            with open(path, "rb") as f:
                data = f.read(MAX_RESOURCE + 1)
            if len(data) > MAX_RESOURCE:
                raise PermissionError("larger than a resource may be")
            kind = TYPES.get(os.path.splitext(path)[1].lower(), "application/octet-stream")
            return 200, [("Content-Type", kind)], data
        scheme = urllib.parse.urlsplit(url).scheme.lower()
        if scheme not in ("http", "https") or self.job.fetcher is None:
            raise PermissionError(f"{scheme or 'this'} addresses are not reached")
        headers = {k: v for k, v in (request.get("headers") or {}).items() if k.lower() not in _HOP}
        # A scope is matched against the address's first SCOPED characters: with the two repetitions a scope may
        # have, the work grows with the cube of the length, and a page's addresses may be megabytes long.
        headers.update({k: v for k, (v, scope) in self.job.headers.items()
                        if scope is None or scope.search(url[:SCOPED])})
        cookie = cookie_header(self.job.cookies, url)
        if cookie:
            headers["Cookie"] = "; ".join(filter(None, [headers.pop("Cookie", ""), cookie]))
        status, answer, body = self.job.fetcher(method, url, headers, post_body(request))
        return status, [(k, v) for k, v in answer if k.lower() not in _KEPT_BACK], body

    def close(self) -> None:
        for s in self.sessions:
            self.devtools.listen(s, None)
        self.pool.shutdown(wait=False, cancel_futures=True)


def post_body(request: Dict[str, Any]) -> Optional[bytes]:
    """A paused request's body: its entries (each in base64), or the older text form."""
    entries = request.get("postDataEntries")
    if entries:
        return b"".join(base64.b64decode(e.get("bytes", "")) for e in entries)
    text = request.get("postData")
    return str(text).encode() if text else None


def cookie_header(cookies: List[Dict[str, Any]], url: str) -> str:
    parts = urllib.parse.urlsplit(url)
    host = (parts.hostname or "").lower()
    out = []
    for c in cookies:
        domain = str(c.get("domain", "")).lstrip(".").lower()
        if not domain or not (host == domain or host.endswith("." + domain)):
            continue
        if not (parts.path or "/").startswith(str(c.get("path") or "/")):
            continue
        if c.get("secure") and parts.scheme != "https":
            continue
        out.append(f"{c.get('name', '')}={c.get('value', '')}")
    return "; ".join(out)


@dataclasses.dataclass
class Tab:
    """A tab in a browser context of its own, fenced, that no page has used yet."""
    box: str
    session: str
    frame: str


def open_tab(devtools: Connection, seconds: float = 30.0) -> Tab:
    """A fresh context and its tab, made before a job needs it (starting its renderer is most of the cost)."""
    box = str(devtools.call("Target.createBrowserContext", {"disposeOnDetach": True}, timeout=seconds)
              ["browserContextId"])
    try:
        target = devtools.call("Target.createTarget", {"url": "about:blank", "browserContextId": box},
                               timeout=seconds)["targetId"]
        session = str(devtools.call("Target.attachToTarget", {"targetId": target, "flatten": True},
                                    timeout=seconds)["sessionId"])
        tree = devtools.call("Page.getFrameTree", {}, session, timeout=seconds)
        steps: List[Tuple[str, Dict[str, Any]]] = [
            ("Page.enable", {}), ("Page.setLifecycleEventsEnabled", {"enabled": True}), ("Inspector.enable", {}),
            ("Runtime.enable", {}), ("Network.enable", {}), ("Network.setBypassServiceWorker", {"bypass": True})]
        for method, params in steps:
            devtools.call(method, params, session, timeout=seconds)
        fence(devtools, session)
        warm(devtools, session, seconds)
        return Tab(box, session, str(tree["frameTree"]["frame"]["id"]))
    except BaseException:
        close_tab(devtools, box)
        raise


def warm(devtools: Connection, session: str, seconds: float) -> None:
    """The tab shows an empty page of the job's origin: the renderer a page of uploaded files is drawn in is
    started ahead, with the tab."""
    loaded = threading.Event()

    def on(method: str, params: Dict[str, Any]) -> None:
        if method == "Fetch.requestPaused":
            devtools.send("Fetch.fulfillRequest", {"requestId": params.get("requestId"), "responseCode": 200,
                                                   "responseHeaders": [{"name": "Content-Type",
                                                                        "value": "text/html"}], "body": ""}, session)
        elif method in ("Page.loadEventFired", ""):
            loaded.set()
    devtools.listen(session, on)
    try:
        devtools.call("Page.navigate", {"url": ORIGIN + "/"}, session, timeout=seconds)
        loaded.wait(seconds)
    finally:
        devtools.listen(session, None)


def close_tab(devtools: Connection, box: str) -> None:
    try:
        devtools.call("Target.disposeBrowserContext", {"browserContextId": box}, timeout=10)
    except (CommandFailed, TimeoutError, Gone):
        pass


def fence(devtools: Connection, session: str) -> None:
    """Every request of the target paused for answer, and its own frames and workers fenced likewise."""
    devtools.call("Fetch.enable", {"patterns": [{"urlPattern": "*", "requestStage": "Request"}]}, session)
    devtools.call("Target.setAutoAttach", {"autoAttach": True, "waitForDebuggerOnStart": True, "flatten": True},
                  session)


def run(devtools: Connection, job: PageJob, tab: Tab) -> bytes:
    """The page's PDF or image, made in `tab` (which the caller closes). Gone when the browser ends under it,
    TimeoutError past the job's seconds, PageFailed when the page fails as the job's fields say it must not."""
    deadline = time.monotonic() + job.seconds

    def left() -> float:
        remaining = deadline - time.monotonic()
        if remaining <= 0 or job.cancelled is not None and job.cancelled.is_set():
            raise TimeoutError(f"the page did not finish within {job.seconds:.0f} s")
        return remaining

    state = _Run(devtools, job)
    session = tab.session
    state.frame = tab.frame
    try:
        state.watch(session)

        def call(method: str, params: Optional[Dict[str, Any]] = None) -> Dict[str, Any]:
            return devtools.call(method, params, session, timeout=left())
        if job.user_agent:
            call("Emulation.setUserAgentOverride", {"userAgent": job.user_agent})
        if job.media:
            call("Emulation.setEmulatedMedia", {"media": job.media})
        if job.viewport:
            call("Emulation.setDeviceMetricsOverride", {"width": job.viewport[0], "height": job.viewport[1],
                                                        "deviceScaleFactor": 1, "mobile": False})
        if job.omit_background:
            call("Emulation.setDefaultBackgroundColorOverride", {"color": {"r": 0, "g": 0, "b": 0, "a": 0}})
        nav = call("Page.navigate", {"url": job.url})
        if nav.get("errorText"):
            check_main(state)
            raise PageFailed(f"the page did not load: {nav['errorText']}")
        wait_for(state, "Page.loadEventFired", left)
        for idle, wanted in (("networkAlmostIdle", job.network_almost_idle), ("networkIdle", job.network_idle)):
            if wanted:
                wait_for(state, "Page.lifecycleEvent", left, lambda p: p.get("name") == idle
                         and p.get("frameId") == state.frame)
        check_main(state)
        if job.wait_delay:
            time.sleep(min(job.wait_delay, left()))
        for expression in filter(None, [job.wait_expression, job.wait_selector and VISIBLE % json.dumps(
                job.wait_selector)]):
            poll(call, expression, left)
        with state.lock:
            if job.fail_console and state.exceptions:
                raise PageFailed("the page threw: " + "; ".join(state.exceptions))
            if job.fail_resource_failed and state.failures:
                raise PageFailed("resources of the page did not load: " + "; ".join(state.failures))
            if state.bad_statuses:
                raise PageFailed("resources of the page answered: " + "; ".join(state.bad_statuses))
        if job.pdf is not None:
            data = call("Page.printToPDF", job.pdf)["data"]
        else:
            data = call("Page.captureScreenshot", job.screenshot or {})["data"]
        return base64.b64decode(data)
    finally:
        state.close()


def check_main(state: _Run) -> None:
    """The page's own failure: refused (the policy's own problem), or a status the job fails on."""
    if state.main_error is not None:
        if isinstance(state.main_error, BadRequest):
            raise state.main_error
        raise PageFailed(f"the page did not load: {state.main_error}")
    status = state.main_status
    if status is not None and in_ranges(status, state.job.fail_statuses):
        raise PageFailed(f"the page answered {status}")


def wait_for(state: _Run, method: str, left: Callable[[], float],
             match: Callable[[Dict[str, Any]], bool] = lambda p: True) -> None:
    while True:
        try:
            got, params = state.events.get(timeout=min(left(), 1.0))
        except queue.Empty:
            got, params = "", {}
        if state.devtools.closed.is_set():
            raise Gone("the browser ended under the page")
        if got == "Inspector.targetCrashed":
            raise PageFailed("the page crashed (it may have used more memory than a page may)")
        if got == method and match(params):
            return


def poll(call: Callable[..., Dict[str, Any]], expression: str, left: Callable[[], float]) -> None:
    """Until the page's expression is true (checked every tenth of a second)."""
    while True:
        left()
        result = call("Runtime.evaluate", {"expression": expression, "returnByValue": True})
        if "exceptionDetails" in result:
            raise PageFailed(f"the expression failed: {expression[:100]}")
        if (result.get("result") or {}).get("value") is True:
            return
        time.sleep(0.1)


def http_fetcher(request: Callable[..., Any], settings: Any) -> Fetcher:
    """A Fetcher over the service's URL policy (fetch.request): each address checked, then reached at the
    address that was checked; redirects go back to the page, whose next request is checked again."""
    def get(method: str, url: str, headers: Dict[str, str], body: Optional[bytes]
            ) -> Tuple[int, List[Tuple[str, str]], bytes]:
        try:
            r = request(method, url, settings, body=body, headers=headers, timeout=30, follow=False)
        except (OSError, http.client.HTTPException) as e:
            raise PermissionError(f"fetching failed: {e}")
        with r:
            data = r.read(MAX_RESOURCE + 1)
            if len(data) > MAX_RESOURCE:
                raise PermissionError("larger than a resource may be")
            return r.status, list(r.answer.getheaders()), data
    return get
