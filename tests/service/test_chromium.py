# Web pages printed by the real headless Chromium through the service's
# Chromium routes, read back with pdftotext and pdfinfo; the page's fence
# proved by a loopback server of the test's own that counts what reaches it.
import collections
import http.server
import io
import os
import shutil
import signal
import socket
import time

import pytest

from conftest import Service, pdf_text, read_back, require_or_skip
from test_service import Redis, finished, serving


@pytest.fixture(autouse=True)
def chromium():
    require_or_skip(shutil.which("chromium"), "chromium (Debian's headless browser)")


@pytest.fixture(scope="module")
def strict(tmp_path_factory):
    """A service with the default URL policy: no loopback or private address."""
    s = Service(tmp_path_factory.mktemp("strict"), "--wait-budget", "60", "--chromium-pool", "1",
                "--chromium-timeout", "20", "--max-body", "4000000")
    yield s
    s.stop()


class Site(http.server.BaseHTTPRequestHandler):
    """Pages of the test's own; `hits` counts each path asked for."""
    hits = collections.Counter()
    headers = {}

    def do_GET(self):
        Site.hits[self.path] += 1
        Site.headers[self.path] = self.headers
        if self.path == "/away":
            # Off to a host the allow-list does not name.
            self.send_response(302)
            self.send_header("Location", f"http://localhost:{self.server.server_port}/page.html")
            self.end_headers()
            return
        missing = self.path == "/missing"
        body = b"<html><body><h1>Served page</h1></body></html>" if not missing else b"gone"
        self.send_response(404 if missing else 200)
        self.send_header("Content-Type", "text/html")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def log_message(self, *args):
        pass


@pytest.fixture(autouse=True)
def fresh_counts():
    Site.hits.clear()


def page(body, head=""):
    return f"<html><head><title>Report</title>{head}</head><body>{body}</body></html>".encode()


def shows(element, loaded, failed):
    """An element whose text says whether it loaded."""
    return (f'{element} onload="document.getElementById(\'{loaded}\').hidden=false" '
            f'onerror="document.getElementById(\'{failed}\').hidden=false">'
            f'<p id="{loaded}" hidden>{loaded}</p><p id="{failed}" hidden>{failed}</p>')


def files(index, *others):
    return [("files", ("index.html", index)), *[("files", o) for o in others]]


def pdfinfo(data, tmp_path):
    return read_back(data, tmp_path, "pdfinfo")


PAGE_SIZES = [({}, "612 x 792"), ({"paperWidth": "210mm", "paperHeight": "297mm", "landscape": "true"},
                                  "841.92 x 595.92")]


@pytest.mark.parametrize("fields,size", PAGE_SIZES)
def test_html_with_assets_header_and_footer(strict, made, tmp_path, fields, size):
    index = page("<h1>Quarterly figures</h1>" + shows(f'<img src="{made["png"].name}"', "dot-loaded", "dot-failed"))
    r = strict.client.post("/forms/chromium/convert/html", data=fields, files=files(
        index, (made["png"].name, made["png"].read_bytes()),
        ("header.html", b'<div style="font-size:10px">Header of <span class="title"></span></div>'),
        ("footer.html", b'<div style="font-size:10px">Page <span class="pageNumber"></span> of '
                        b'<span class="totalPages"></span></div>')))
    assert r.status_code == 200, r.text
    text = pdf_text(r.content, tmp_path)
    for expected in ("Quarterly figures", "dot-loaded", "Header of Report", "Page 1 of 1"):
        assert expected in text
    assert "dot-failed" not in text
    assert f"Page size:       {size} pts" in pdfinfo(r.content, tmp_path)


def test_markdown(strict, tmp_path):
    r = strict.client.post("/forms/chromium/convert/markdown", files=files(
        page('<main>{{ toHTML "notes.md" }}</main>'),
        ("notes.md", b"# Minutes\n\n| Item | Owner |\n|---|---|\n| Budget | Ada |\n"))
        + [("embeds", ("agenda.txt", b"Budget first"))])
    assert r.status_code == 200, r.text
    text = pdf_text(r.content, tmp_path)
    assert "Minutes" in text and "Budget" in text and "toHTML" not in text
    # The PDF engine fields' uploads reach the printed page too.
    assert read_back(r.content, tmp_path, "pdfdetach", "-list").splitlines()[1:] == ["1: agenda.txt"]
    # A page that names its file again and again does not grow past what an upload may be.
    r = strict.client.post("/forms/chromium/convert/markdown",
                           files=files(page('{{ toHTML "a.md" }}' * 250), ("a.md", b"word " * 4000)))
    assert r.status_code == 400 and "toHTML" in r.json()["detail"], r.text


def test_url_refused_on_loopback_unless_allowed(strict, service, tmp_path):
    with serving(Site) as port:
        url = f"http://127.0.0.1:{port}/page.html"
        refused = strict.client.post("/forms/chromium/convert/url", data={"url": url})
        assert refused.status_code == 400 and "url-not-allowed" in refused.json()["type"]
        assert Site.hits[url[-10:]] == 0
        allowed = service.client.post("/forms/chromium/convert/url", data={
            "url": url, "userAgent": "Pressmark test", "extraHttpHeaders": '{"X-Report": "7;scope=page"}',
            "cookies": '[{"name": "session", "value": "s1", "domain": "127.0.0.1"}]'})
        assert allowed.status_code == 200, allowed.text
        assert "Served page" in pdf_text(allowed.content, tmp_path) and Site.hits["/page.html"] == 1
        seen = Site.headers["/page.html"]
        assert (seen["user-agent"], seen["x-report"], seen["cookie"]) == ("Pressmark test", "7", "session=s1")


def test_page_reaches_no_loopback_and_no_file_outside_its_folder(strict, tmp_path):
    with serving(Site) as port, socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as udp:
        udp.bind(("127.0.0.1", 0))
        # WebRTC's STUN goes out over UDP, past the proxy: the page waits until its addresses are gathered.
        rtc = (f"const pc = new RTCPeerConnection({{iceServers: [{{urls: 'stun:127.0.0.1:{udp.getsockname()[1]}'}}]}});"
               "pc.createDataChannel('x'); const gathered = new Promise(ok => { setTimeout(ok, 5000); "
               "pc.onicegatheringstatechange = () => pc.iceGatheringState === 'complete' && ok() });"
               "pc.createOffer().then(o => pc.setLocalDescription(o));")
        tries = [f"http://127.0.0.1:{port}/secret", f"http://localhost:{port}/secret", "file:///etc/hostname",
                 "../../../../../etc/hostname", "/..%2f..%2fjobs.sqlite"]
        index = page(shows(f'<img src="http://127.0.0.1:{port}/secret.png"', "image-loaded", "image-blocked")
                     + f"<script>{rtc} const socket = new Promise((ok, no) => {{ const w = new WebSocket("
                       f"'ws://127.0.0.1:{port}/socket'); w.onopen = ok; w.onerror = no }});"
                       f"Promise.allSettled([socket, ...{tries}.map(u => fetch(u).then(r => r.ok ? r.text() : "
                       "Promise.reject(r.status)))]).then(all => gathered.then(() => { document.body.append(all.map("
                       "a => a.status === 'fulfilled' ? 'read:' + a.value : 'blocked').join(' ')); "
                       "window.done = true }))"
                       "</script>")
        r = strict.client.post("/forms/chromium/convert/html", files=files(index),
                               data={"waitForExpression": "window.done === true"})
        assert r.status_code == 200, r.text
        assert pdf_text(r.content, tmp_path).split() == ["image-blocked"] + ["blocked"] * (1 + len(tries))
        assert sum(Site.hits.values()) == 0
        udp.setblocking(False)
        with pytest.raises(BlockingIOError):
            udp.recv(2048)


FAILURES = [
    ("html", {"failOnConsoleExceptions": "true"}, 409),
    ("html", {}, 200),
    ("html", {"waitForExpression": "window.done === true"}, 200),
    ("html", {"singlePage": "true"}, 400),
    ("html", {"nativePageRanges": "3-4"}, 400),
    ("html", {"waitForExpression": "window.never === true"}, 504),
    ("html", {"pdfa": "PDF/A-9z", "paperWidth": "wide"}, 400),
    ("html", {"extraHttpHeaders": '{"X-A": "1;scope=(a|a)*x"}'}, 400),
    ("html", {"extraHttpHeaders": '{"Host": "intranet"}'}, 400),
]


@pytest.mark.parametrize("route,fields,status", FAILURES)
def test_page_fields(strict, tmp_path, route, fields, status):
    index = page('<p id="state">waiting</p><script>setTimeout(() => { window.done = true; '
                 'document.getElementById("state").textContent = "finished" }, 300); '
                 'throw new Error("broken script")</script>')
    r = strict.client.post(f"/forms/chromium/convert/{route}", files=files(index), data=fields)
    assert r.status_code == status, r.text
    if status == 409:
        assert "broken script" in r.json()["detail"]
    if "waitForExpression" in fields and status == 200:
        assert "finished" in pdf_text(r.content, tmp_path)


@pytest.mark.parametrize("path,status,detail", [("/missing", 409, "404"), ("/away", 400, "allow-list")])
def test_page_that_fails_or_leaves(service, path, status, detail):
    with serving(Site) as port:
        r = service.client.post("/forms/chromium/convert/url", data={"url": f"http://127.0.0.1:{port}{path}"})
        assert r.status_code == status and detail in r.json()["detail"], r.text
        assert Site.hits[path] == 1 and Site.hits["/page.html"] == 0


def test_screenshot_is_an_image(strict):
    from PIL import Image
    r = strict.client.post("/forms/chromium/screenshot/html", files=files(page("<h1>Shot</h1>")),
                           data={"width": "400", "height": "300", "clip": "true"})
    assert r.status_code == 200 and r.headers["content-type"] == "image/png"
    assert Image.open(io.BytesIO(r.content)).size == (400, 300)


def browsers_of(service):
    pids = [int(p) for p in os.listdir("/proc") if p.isdigit()]
    out = []
    for pid in pids:
        try:
            with open(f"/proc/{pid}/stat") as f:
                fields = f.read().rsplit(")", 1)[1].split()
            with open(f"/proc/{pid}/comm") as f:
                comm = f.read().strip()
        except OSError:
            continue
        if int(fields[1]) == service.proc.pid and comm.startswith("chromium"):
            out.append(pid)
    return out


def test_killed_browser_is_replaced_and_the_job_done(service, tmp_path):
    """Every browser of the service killed while a page waits: the job runs again on a fresh one."""
    with serving(Site) as port:
        index = page(f'<img src="http://127.0.0.1:{port}/mark"><h1>Survived</h1>')
        r = service.client.post("/forms/chromium/convert/html", files=files(index), data={"waitDelay": "4s"},
                                headers={"prefer": "respond-async"})
        assert r.status_code == 202, r.text
        for _ in range(600):
            if Site.hits["/mark"]:
                break
            time.sleep(0.05)
        killed = browsers_of(service)
        assert killed
        for pid in killed:
            os.kill(pid, signal.SIGKILL)
        st = finished(service.client, r.json()["id"])
        assert st["status"] == "done", st
        assert "Survived" in pdf_text(service.client.get(st["result"]).content, tmp_path)
        assert Site.hits["/mark"] == 2 and not set(killed) & set(browsers_of(service))


def test_native_route_through_the_farm(tmp_path):
    require_or_skip(os.path.exists("/usr/bin/redis-check-rdb"), "redis-tools (the Redis server)")
    redis = Redis(tmp_path / "redis")
    farm = ["--broker", f"redis://127.0.0.1:{redis.port}/0", "--store-dir", str(tmp_path / "store"),
            "--workers", "1", "--queues", "browser"]
    gateway = Service(tmp_path / "gw", *farm, "--wait-budget", "60")
    worker = Service(tmp_path / "w", *farm, command="worker")
    try:
        r = gateway.client.post("/v1/html", files=files(page("<h1>From the farm</h1>")))
        assert r.status_code == 200, r.text
        assert "From the farm" in pdf_text(r.content, tmp_path)
    finally:
        worker.stop()
        gateway.stop()
        redis.kill()
