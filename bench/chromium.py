#!/usr/bin/env python3
"""A warm one-page HTML-to-PDF through the service's Chromium route, against
Chromium's own Page.printToPDF over a bare warm DevTools session, and against
one `chromium --headless --print-to-pdf` per document, in the same run.

    python3 bench/chromium.py [build-dir] [--n N]

The bare session is the floor: one browser started once, one tab kept, each
document navigated to (a data: address) and printed, nothing else; and, lower
still, the document of that tab replaced in place (no navigation) and printed. The service adds HTTP, the
form, the job, a fresh browser context per document and the answer of every
request the page makes. Target: the service's median within 1.3 times the
bare session's. Medians in milliseconds; the machine's load is printed with
them, for the machine is shared.
"""
import base64
import os
import pathlib
import shutil
import signal
import socket
import statistics
import subprocess
import sys
import tempfile
import time


def option(name, default=None):
    return next((sys.argv[i + 1] for i, a in enumerate(sys.argv) if a == name), default)


args = [a for i, a in enumerate(sys.argv[1:], 1) if not a.startswith("--") and not sys.argv[i - 1].startswith("--")]
build = pathlib.Path(args[0] if args else pathlib.Path(__file__).resolve().parents[1] / "build").resolve()
sys.path.insert(0, str(build / "python"))
from pressmark.service.browser.process import Browser  # noqa: E402

N = int(option("--n", 20))
PAGE = ("<html><head><title>Invoice</title><style>body{font-family:sans-serif} td{padding:4px}</style></head>"
        "<body><h1>Invoice 1024</h1><table>" + "".join(f"<tr><td>Item {i}</td><td>{i * 3}.00</td></tr>"
                                                       for i in range(20)) + "</table></body></html>")


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def timed(run, n, pause=0.0):
    run()   # warm
    times = []
    for _ in range(n):
        time.sleep(pause)
        t = time.perf_counter()
        run()
        times.append(time.perf_counter() - t)
    return statistics.median(times) * 1000


def bare(n):
    b = Browser("/usr/bin/chromium", "nobody", 512)
    d = b.devtools
    try:
        d.call("Browser.getVersion", timeout=30)
        target = d.call("Target.createTarget", {"url": "about:blank"})["targetId"]
        session = d.call("Target.attachToTarget", {"targetId": target, "flatten": True})["sessionId"]
        loaded = []
        d.listen(session, lambda method, params: loaded.append(1) if method == "Page.loadEventFired" else None)
        d.call("Page.enable", {}, session)
        url = "data:text/html;base64," + base64.b64encode(PAGE.encode()).decode()

        def navigated():
            loaded.clear()
            d.call("Page.navigate", {"url": url}, session)
            while not loaded:
                time.sleep(0.001)
            pdf = base64.b64decode(d.call("Page.printToPDF", {}, session)["data"])
            assert pdf.startswith(b"%PDF")
        frame = d.call("Page.getFrameTree", {}, session)["frameTree"]["frame"]["id"]

        def replaced():
            # The document of the page already shown replaced: no navigation, no new renderer.
            d.call("Page.setDocumentContent", {"frameId": frame, "html": PAGE}, session)
            pdf = base64.b64decode(d.call("Page.printToPDF", {}, session)["data"])
            assert pdf.startswith(b"%PDF")
        return timed(navigated, n), timed(replaced, n)
    finally:
        b.kill()


def service(n, work):
    import httpx
    port = free_port()
    log = open(work / "serve.log", "wb")
    proc = subprocess.Popen([str(build / "pressmark"), "serve", "--port", str(port), "--state-dir", str(work / "state"),
                             "--wait-budget", "120"], stdout=log, stderr=subprocess.STDOUT, start_new_session=True)
    try:
        client = httpx.Client(base_url=f"http://127.0.0.1:{port}", timeout=120)
        for _ in range(300):
            try:
                if client.get("/health").status_code == 200:
                    break
            except httpx.TransportError:
                time.sleep(0.1)

        def one():
            r = client.post("/forms/chromium/convert/html", files=[("files", ("index.html", PAGE.encode()))])
            assert r.status_code == 200 and r.content.startswith(b"%PDF"), r.text[:300]
        one()   # the pool starts with the first page
        # Back to back, and with a second between requests (when the browser's next context is made).
        return timed(one, n), timed(one, n, 1.0)
    finally:
        os.killpg(proc.pid, signal.SIGTERM)
        proc.wait(20)


def command_line(n, work):
    # A folder of the browser's user: its profile, the page and the PDF.
    own = work / "cli"
    own.mkdir()
    page = own / "page.html"
    page.write_text(PAGE)
    profile = own / "profile"
    argv = ["/usr/bin/chromium", "--headless", "--disable-gpu", "--no-first-run", "--disable-background-networking",
            "--disable-component-update", "--disable-sync", f"--user-data-dir={profile}", "--no-pdf-header-footer",
            f"--print-to-pdf={own / 'cli.pdf'}", page.as_uri()]
    user = ["setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"] if os.geteuid() == 0 else []
    if user:
        os.chmod(work, 0o711)
        for f in (own, page):
            os.chown(f, 65534, 65534)

    def one():
        subprocess.run(user + argv, capture_output=True, check=True, timeout=120)
    return timed(one, max(3, n // 4))


def main():
    work = pathlib.Path(tempfile.mkdtemp(prefix="pressmark-bench-chromium-"))
    try:
        load = os.getloadavg()
        floor, replaced = bare(N)
        served, paced = service(N, work)
        cli = command_line(N, work)
        after = os.getloadavg()
        print(f"one-page HTML to PDF, median of {N} (ms); {os.cpu_count()} cores, load {load[0]:.2f} before and "
              f"{after[0]:.2f} after (a machine shared with other work)")
        print(f"bare DevTools: navigate, printToPDF      {floor:8.1f}")
        print(f"bare DevTools: setDocumentContent, print {replaced:8.1f}")
        print(f"service /forms/chromium/convert/html     {served:8.1f}  ({served / floor:4.2f}x the bare navigation, "
              f"{served / replaced:4.2f}x the bare replacement; target 1.3x)")
        print(f"  the same, a second between requests    {paced:8.1f}  ({paced / floor:4.2f}x, "
              f"{paced / replaced:4.2f}x)")
        print(f"chromium --headless --print-to-pdf each  {cli:8.1f}  ({cli / served:4.1f}x the service)")
    finally:
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
