#!/usr/bin/env python3
"""OCR throughput and peak memory: `pressmark ocr` against the `ocrmypdf`
command on the same scan in the same run.

    python3 bench/ocr.py [build-dir] [--pages N] [--runs R] [--service]

Makes an N-page scan (default 6): pages of known text rendered by
Ghostscript at 200 dpi in grey, put in an image-only PDF. Then, alternately
and R times each (default 3), OCRs it with `pressmark ocr` and with
`ocrmypdf --output-type pdf --optimize 0 --skip-text -l eng` (what the
component asks OCRmyPDF for), once with two pages at a time (--jobs 2) and
once with one. Reported: the median pages per second and the median peak
memory of each command's whole process tree (the resident sizes of the
command and all its descendants summed, sampled every 20 ms). Target: pressmark at
most 10% slower than the ocrmypdf command with the same number of jobs.
With --service, then through POST /v1/ocr of a `pressmark serve` on a free
loopback port: one worker and one client against the ocrmypdf command
(target: the route adds at most 10%), and two workers with two clients at
once (the throughput with 2 workers), memory being the service's tree.
Ratios compare figures of the same run; the machine may be loaded.
"""
import concurrent.futures
import http.client
import os
import pathlib
import socket
import statistics
import subprocess
import sys
import tempfile
import threading
import time

import img2pdf


def option(name, default=None):
    return next((sys.argv[i + 1] for i, a in enumerate(sys.argv) if a == name), default)


args = [a for i, a in enumerate(sys.argv[1:], 1) if not a.startswith("--") and not sys.argv[i - 1].startswith("--")]
BUILD = pathlib.Path(args[0] if args else pathlib.Path(__file__).resolve().parents[1] / "build").resolve()
PAGES = int(option("--pages", "6"))
RUNS = int(option("--runs", "3"))
WORDS = ("harbour invoice bicycle warehouse delivery payment quarterly manager signature crane yellow "
         "schedule archive contract account").split()


def make_scan(folder):
    lines = []
    for p in range(PAGES):
        lines.append("".join(f"72 {720 - 22 * i} moveto ({' '.join(WORDS[(p + i + j) % len(WORDS)] for j in range(7))})"
                             f" show\n" for i in range(30)) + "showpage\n")
    ps = folder / "scan.ps"
    ps.write_text("%!PS\n<< /PageSize [612 792] >> setpagedevice /Helvetica findfont 14 scalefont setfont\n"
                  + "".join(lines))
    subprocess.run(["gs", "-q", "-dSAFER", "-dBATCH", "-dNOPAUSE", "-sDEVICE=pnggray", "-r200", "-o",
                    str(folder / "page-%03d.png"), str(ps)], check=True)
    pngs = sorted(str(p) for p in folder.glob("page-*.png"))
    (folder / "scan.pdf").write_bytes(img2pdf.convert(pngs))
    return folder / "scan.pdf"


def tree_rss(root):
    """The resident memory of a process and all its descendants, in bytes
    (the OCR child leads a session of its own, so groups would miss it)."""
    parent, rss = {}, {}
    for pid in os.listdir("/proc"):
        if not pid.isdigit():
            continue
        try:
            with open(f"/proc/{pid}/stat") as f:
                fields = f.read().rsplit(")", 1)[1].split()
            with open(f"/proc/{pid}/statm") as f:
                rss[int(pid)] = int(f.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")
            parent[int(pid)] = int(fields[1])
        except (OSError, IndexError, ValueError):
            pass
    total = 0
    for pid, size in rss.items():
        p = pid
        while p > 1 and p != root:
            p = parent.get(p, 0)
        if p == root:
            total += size
    return total


class PeakMemory:
    """Samples a process tree's resident memory while the block runs; `peak` holds the largest seen."""

    def __init__(self, pid):
        self.pid, self.peak = pid, 0
        self._done = threading.Event()
        self._thread = threading.Thread(target=self._sample)

    def _sample(self):
        while not self._done.is_set():
            self.peak = max(self.peak, tree_rss(self.pid))
            self._done.wait(0.02)

    def __enter__(self):
        self._thread.start()
        return self

    def __exit__(self, *exc):
        self._done.set()
        self._thread.join()


def measure(argv, out):
    """Wall time and peak memory of one run of a command in a group of its own."""
    if out.exists():
        out.unlink()
    began = time.monotonic()
    proc = subprocess.Popen(argv, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, start_new_session=True)
    with PeakMemory(proc.pid) as memory:
        _, err = proc.communicate()
        elapsed = time.monotonic() - began
    if proc.returncode != 0 or not out.exists():
        raise SystemExit(f"{argv[0]} failed: {err.decode(errors='replace')[-2000:]}")
    return elapsed, memory.peak


def post_ocr(port, scan):
    """One synchronous POST /v1/ocr; the PDF's size."""
    boundary = "pressmark-bench-boundary"
    body = (f"--{boundary}\r\nContent-Disposition: form-data; name=\"file\"; filename=\"scan.pdf\"\r\n"
            "Content-Type: application/pdf\r\n\r\n").encode() + scan.read_bytes() + f"\r\n--{boundary}--\r\n".encode()
    conn = http.client.HTTPConnection("127.0.0.1", port, timeout=3600)
    conn.request("POST", "/v1/ocr", body, {"Content-Type": f"multipart/form-data; boundary={boundary}"})
    r = conn.getresponse()
    data = r.read()
    conn.close()
    if r.status != 200 or not data.startswith(b"%PDF"):
        raise SystemExit(f"POST /v1/ocr answered {r.status}: {data[:500]!r}")
    return len(data)


def service_run(folder, scan, workers, clients):
    """Pages per second and peak memory of `clients` requests at once on a service of `workers` workers."""
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        port = s.getsockname()[1]
    state = folder / f"state-{workers}"
    proc = subprocess.Popen([str(BUILD / "pressmark"), "serve", "--state-dir", str(state), "--port", str(port),
                             "--workers", str(workers), "--wait-budget", "3600", "--call-timeout", "3600"],
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, start_new_session=True)
    try:
        for _ in range(600):
            try:
                conn = http.client.HTTPConnection("127.0.0.1", port, timeout=2)
                conn.request("GET", "/health")
                if conn.getresponse().status == 200:
                    break
            except OSError:
                time.sleep(0.1)
        with PeakMemory(proc.pid) as memory:
            began = time.monotonic()
            with concurrent.futures.ThreadPoolExecutor(clients) as pool:
                list(pool.map(lambda _: post_ocr(port, scan), range(clients)))
            elapsed = time.monotonic() - began
        return clients * PAGES / elapsed, memory.peak
    finally:
        os.killpg(proc.pid, 15)
        proc.wait()


def main():
    cli = BUILD / "pressmark"
    with tempfile.TemporaryDirectory(prefix="pressmark-bench-ocr-") as tmp:
        folder = pathlib.Path(tmp)
        scan = make_scan(folder)
        out = folder / "out.pdf"
        print(f"scan: {PAGES} pages at 200 dpi, {scan.stat().st_size // 1024} KiB; {RUNS} runs each, "
              f"{os.cpu_count()} cores")
        for jobs in (2, 1):
            runs = {
                "pressmark ocr": [str(cli), "ocr", str(scan), str(out), "--jobs", str(jobs)],
                "ocrmypdf": ["ocrmypdf", "--output-type", "pdf", "--optimize", "0", "--skip-text", "-l", "eng",
                             "--jobs", str(jobs), "--quiet", str(scan), str(out)],
            }
            seen = {name: [] for name in runs}
            for _ in range(RUNS):
                for name, argv in runs.items():
                    seen[name].append(measure(argv, out))
            rate = {}
            for name, results in seen.items():
                wall = statistics.median(r[0] for r in results)
                mem = statistics.median(r[1] for r in results)
                rate[name] = PAGES / wall
                print(f"jobs {jobs}  {name:14s} {rate[name]:6.2f} pages/s  {wall:6.2f} s  peak {mem / 2**20:6.0f} MiB")
            ratio = rate["ocrmypdf"] / rate["pressmark ocr"]
            print(f"jobs {jobs}  pressmark takes {ratio:.2f}x the time of the ocrmypdf command "
                  f"({'within' if ratio <= 1.1 else 'OVER'} the 1.10 target)")
        if "--service" not in sys.argv:
            return
        command = [measure(["ocrmypdf", "--output-type", "pdf", "--optimize", "0", "--skip-text", "-l", "eng",
                            "--quiet", str(scan), str(out)], out) for _ in range(RUNS)]
        rate = PAGES / statistics.median(r[0] for r in command)
        mem = statistics.median(r[1] for r in command)
        print(f"ocrmypdf command         {rate:6.2f} pages/s  peak {mem / 2**20:6.0f} MiB")
        for workers in (1, 2):
            runs = [service_run(folder, scan, workers, workers) for _ in range(RUNS)]
            got = statistics.median(r[0] for r in runs)
            mem = statistics.median(r[1] for r in runs)
            print(f"POST /v1/ocr, {workers} worker(s), {workers} client(s) {got:6.2f} pages/s  "
                  f"peak {mem / 2**20:6.0f} MiB  ({rate / got:.2f}x the command's time a page)")


if __name__ == "__main__":
    main()
