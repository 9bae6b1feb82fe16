#!/usr/bin/env python3
"""What hostile bodies cost the HTTP service.

    python3 bench/service_hostile_body.py [build-dir]

Starts `pressmark serve` on a free loopback port and answers the text of a
one-page PDF: plainly (the anchor), with 1 MB of bytes after the closing
multipart boundary (target: under 100 ms, and within 50 ms of the anchor),
and /health while ten connections hold bodies that never come (target: as
fast as alone). Medians of 20.
"""
import http.client
import pathlib
import signal
import socket
import statistics
import subprocess
import sys
import tempfile
import time

build = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else pathlib.Path(__file__).resolve().parents[1] / "build")
build = build.resolve()
sys.path.insert(0, str(build / "python"))
import pressmark  # noqa: E402


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def timed(port, method, path, body=b"", headers=None, runs=20):
    times = []
    for _ in range(runs):
        conn = http.client.HTTPConnection("127.0.0.1", port, timeout=120)
        t = time.monotonic()
        conn.request(method, path, body, headers or {})
        r = conn.getresponse()
        r.read()
        times.append((time.monotonic() - t) * 1000)
        assert r.status == 200, r.status
        conn.close()
    return statistics.median(times)


def main():
    work = pathlib.Path(tempfile.mkdtemp(prefix="pressmark-bench-hostile-"))
    ps = work / "one.ps"
    ps.write_text("%!PS\n/Helvetica findfont 24 scalefont setfont 72 700 moveto (One page) show showpage\n")
    pdf = work / "one.pdf"
    pressmark.CreatePDF().CreatePDFfromPS(str(pdf), str(ps))
    port = free_port()
    log = open(work / "serve.log", "wb")
    argv = [str(build / "pressmark"), "serve", "--port", str(port), "--state-dir", str(work / "state")]
    proc = subprocess.Popen(argv, stdout=log, stderr=subprocess.STDOUT, start_new_session=True)
    try:
        for _ in range(300):
            try:
                timed(port, "GET", "/health", runs=1)
                break
            except OSError:
                time.sleep(0.1)
        form = (b'--b\r\nContent-Disposition: form-data; name="file"; filename="one.pdf"\r\n\r\n' + pdf.read_bytes()
                + b"\r\n--b--\r\n")
        ctype = {"Content-Type": "multipart/form-data; boundary=b"}
        plain = timed(port, "POST", "/v1/text", form, ctype)
        trailing = timed(port, "POST", "/v1/text", form + b"\x00garbage" * (1 << 17), ctype)
        alone = timed(port, "GET", "/health")
        stalled = []
        for _ in range(10):
            s = socket.create_connection(("127.0.0.1", port))
            s.sendall(b"POST /v1/text HTTP/1.1\r\nHost: x\r\nContent-Type: multipart/form-data; boundary=b\r\n"
                      b"Content-Length: 100000\r\n\r\n--b\r\n")
            stalled.append(s)
        beside = timed(port, "GET", "/health")
        for s in stalled:
            s.close()
        print(f"text of a one-page PDF                    {plain:7.1f} ms")
        print(f"the same with 1 MB after the boundary     {trailing:7.1f} ms  (target < 100 ms)")
        print(f"/health alone                             {alone:7.1f} ms")
        print(f"/health beside 10 stalled bodies          {beside:7.1f} ms")
        print(f"service log                               {(work / 'serve.log').stat().st_size:7d} bytes")
    finally:
        proc.send_signal(signal.SIGTERM)
        proc.wait(30)


if __name__ == "__main__":
    main()
