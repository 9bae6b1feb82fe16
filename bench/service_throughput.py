#!/usr/bin/env python3
"""Throughput of the HTTP service converting a five-page document, and the
cost of HTTP on a small request.

    python3 bench/service_throughput.py [build-dir] [--farm redis://127.0.0.1:PORT/0] [--per-client N]

Starts `pressmark serve` (embedded, or as a farm gateway with two workers when
a Redis address is given) on a free loopback port and converts the
five-page rich-text document of the Word benchmarks with 1, 2 and 4
concurrent clients, against serial `soffice --headless --convert-to pdf` of
the same document in the same run. Then the text of a one-page PDF over HTTP
against the same member called directly from Python (target: under 5 ms
more). Targets for throughput: 2 clients at least 1.6 times one client.

The client sends each request in one write on a connection with Nagle's
algorithm off, as curl does. httpx 0.23 writes a multipart body after its
headers and leaves Nagle on, so each upload waited for the server's delayed
acknowledgement: about 40 ms per request that no real client pays.
"""
import concurrent.futures
import http.client
import os
import pathlib
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time


def option(name, default=None):
    return next((sys.argv[i + 1] for i, a in enumerate(sys.argv) if a == name), default)


farm = option("--farm")
args = [a for i, a in enumerate(sys.argv[1:], 1) if not a.startswith("--") and not sys.argv[i - 1].startswith("--")]
build = pathlib.Path(args[0] if args else pathlib.Path(__file__).resolve().parents[1] / "build").resolve()
sys.path.insert(0, str(build / "python"))
import pressmark  # noqa: E402

PER_CLIENT = int(option("--per-client", 4))


def five_pages():
    s = "{\\rtf1\\ansi\\deff0{\\fonttbl{\\f0 DejaVu Sans;}}\\paperw11906\\paperh16838\n"
    for i in range(1, 6):
        if i > 1:
            s += "\\page\n"
        s += f"\\pard\\f0\\fs24 Page {i}." + " Some words to fill the page with text of an ordinary kind." * 40
        s += "\\par\n"
    return s + "}\n"


class Client:
    """Keep-alive HTTP/1.1 to the service; a request and its body leave in one write."""

    def __init__(self, port):
        self.conn = http.client.HTTPConnection("127.0.0.1", port, timeout=600)
        self.conn.connect()
        self.conn.sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)

    def get(self, path):
        self.conn.request("GET", path)
        r = self.conn.getresponse()
        return r.status, r.read()

    def post_file(self, path, name, data):
        boundary = "pressmark-bench-boundary"
        body = (f'--{boundary}\r\nContent-Disposition: form-data; name="file"; filename="{name}"\r\n'
                f"Content-Type: application/octet-stream\r\n\r\n").encode() + data + f"\r\n--{boundary}--\r\n".encode()
        self.conn.request("POST", path, body, {"Content-Type": f"multipart/form-data; boundary={boundary}"})
        r = self.conn.getresponse()
        return r.status, r.read()

    def close(self):
        self.conn.close()


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def main():
    work = pathlib.Path(tempfile.mkdtemp(prefix="pressmark-bench-service-"))
    procs = []
    try:
        doc = work / "five.rtf"
        doc.write_text(five_pages())
        ps = work / "one.ps"
        ps.write_text("%!PS\n/Helvetica findfont 24 scalefont setfont 72 700 moveto (One page) show showpage\n")
        one = work / "one.pdf"
        pressmark.CreatePDF().CreatePDFfromPS(str(one), str(ps))

        # Serial soffice, the way one office per container works.
        if shutil.which("soffice"):
            prof = work / "profile"
            cmd = ["soffice", f"-env:UserInstallation=file://{prof}", "--headless", "--convert-to", "pdf",
                   "--outdir", str(work / "soffice"), str(doc)]
            subprocess.run(cmd, capture_output=True, timeout=300)  # profile made once
            t = time.monotonic()
            for _ in range(PER_CLIENT):
                subprocess.run(cmd, capture_output=True, timeout=300, check=True)
            rate = PER_CLIENT / (time.monotonic() - t)
            print(f"serial soffice --convert-to pdf        {rate:6.2f} documents/s")

        port = free_port()
        state = work / "state"
        extra = ["--broker", farm, "--store-dir", str(work / "store"), "--workers", "1"] if farm else []
        log = open(work / "serve.log", "wb")
        procs.append(subprocess.Popen([str(build / "pressmark"), "serve", "--port", str(port), "--state-dir",
                                       str(state), "--wait-budget", "900", *extra], stdout=log, stderr=subprocess.STDOUT,
                                      start_new_session=True))
        if farm:
            for i in range(2):
                procs.append(subprocess.Popen([str(build / "pressmark"), "worker", "--state-dir", str(work / f"w{i}"),
                                               *extra], stdout=log, stderr=subprocess.STDOUT,
                                              start_new_session=True))
        for _ in range(300):
            try:
                c = Client(port)
                ok = c.get("/health")[0] == 200
                c.close()
                if ok:
                    break
            except OSError:
                time.sleep(0.1)
        body = doc.read_bytes()

        def convert(client):
            status, content = client.post_file("/v1/convert", "five.rtf", body)
            assert status == 200 and content.startswith(b"%PDF"), content[:200]

        # Every office warms up before anything is timed: each worker thread
        # (or farm worker) converts in an office of its own, and one started
        # cold inside the one-client run would flatter the ratios.
        def warm(_):
            c = Client(port)
            convert(c)
            c.close()
        for _ in range(2):
            with concurrent.futures.ThreadPoolExecutor(4) as ex:
                list(ex.map(warm, range(4)))
        base_rate = None
        for clients in (1, 2, 4):
            def run_client(_):
                c = Client(port)
                for _ in range(PER_CLIENT):
                    convert(c)
                c.close()
            t = time.monotonic()
            with concurrent.futures.ThreadPoolExecutor(clients) as ex:
                list(ex.map(run_client, range(clients)))
            rate = clients * PER_CLIENT / (time.monotonic() - t)
            base_rate = base_rate or rate
            print(f"service ({'farm, 2 workers' if farm else 'embedded'}), {clients} client(s)   "
                  f"{rate:6.2f} documents/s  ({rate / base_rate:4.2f}x one client)")

        # HTTP overhead: the text of a one-page PDF.
        pdf = pressmark.CreatePDF()
        n = 50
        t = time.monotonic()
        for i in range(n):
            pdf.CreateTextfileFromPDF(str(one), str(work / "t.txt"))
            (work / "t.txt").read_bytes()
        direct = (time.monotonic() - t) / n
        data = one.read_bytes()
        c = Client(port)
        c.post_file("/v1/text", "one.pdf", data)
        t = time.monotonic()
        for i in range(n):
            assert c.post_file("/v1/text", "one.pdf", data)[0] == 200
        served = (time.monotonic() - t) / n
        c.close()
        print(f"text of a one-page PDF: direct {direct * 1000:6.2f} ms, over HTTP {served * 1000:6.2f} ms, "
              f"overhead {(served - direct) * 1000:6.2f} ms")
    finally:
        for p in procs:
            if p.poll() is None:
                os.killpg(p.pid, signal.SIGTERM)
                try:
                    p.wait(timeout=20)
                except subprocess.TimeoutExpired:
                    os.killpg(p.pid, signal.SIGKILL)
        subprocess.run([str(build / "pressmark"), "office", "stop"], capture_output=True)
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
