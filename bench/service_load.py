#!/usr/bin/env python3
"""The HTTP service under sustained mixed load while its offices are killed.

    python3 bench/service_load.py [build-dir] [--seconds 600] [--clients 2,4,8] [--kill-every 60]
                                  [--out DIR]

Starts `pressmark serve` (embedded engine) on a free loopback port with a
private state folder and office pool, then for each number of concurrent
clients runs mixed work for --seconds: office conversion of a rich-text
document, merge of two PDFs, the text of a PDF, thumbnails, and a form
fill, each client taking them in turn. Every --kill-every seconds the busiest
office of the pool is killed (SIGKILL), as a crashing office would end.

Per level: requests done, throughput, p50/p95/p99 latency (all requests,
and office conversions alone), errors (any answer but a correct 200: the
office deaths are the service's to absorb), problems that show a server
path, and the memory of the service with its offices (the sum of their
proportional set sizes) at the level's start and end. With --out, the
table (Markdown), the raw figures (JSON) and a plot (PNG, matplotlib) are
written there. The figures of one run compare with each other only: the
machine may be loaded.
"""
import concurrent.futures
import http.client
import json
import os
import pathlib
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import threading
import time


def option(name, default=None):
    return next((sys.argv[i + 1] for i, a in enumerate(sys.argv) if a == name), default)


args = [a for i, a in enumerate(sys.argv[1:], 1) if not a.startswith("--") and not sys.argv[i - 1].startswith("--")]
build = pathlib.Path(args[0] if args else pathlib.Path(__file__).resolve().parents[1] / "build").resolve()
sys.path.insert(0, str(build / "python"))
import pressmark  # noqa: E402

SECONDS = float(option("--seconds", 600))
CLIENTS = [int(n) for n in option("--clients", "2,4,8").split(",")]
KILL_EVERY = float(option("--kill-every", 60))
OUT = option("--out")
BOUNDARY = "pressmark-load-boundary"


def rich_text(pages):
    s = "{\\rtf1\\ansi\\deff0{\\fonttbl{\\f0 DejaVu Sans;}}\\paperw11906\\paperh16838\n"
    for i in range(1, pages + 1):
        s += ("\\page\n" if i > 1 else "") + f"\\pard\\f0\\fs24 Page {i}."
        s += " Some words to fill the page with text of an ordinary kind." * 40 + "\\par\n"
    return s + "}\n"


def make_documents(folder):
    pdf = pressmark.CreatePDF()
    pdf.TempFilePath = str(folder)
    docs = {"rtf": folder / "letter.rtf"}
    docs["rtf"].write_text(rich_text(2))
    for name, text in (("a", "Chapter One"), ("b", "Chapter Two")):
        ps = folder / f"{name}.ps"
        ps.write_text(f"%!PS\n/Helvetica findfont 24 scalefont setfont 72 700 moveto ({text}) show showpage\n")
        docs[name] = folder / f"{name}.pdf"
        pdf.CreatePDFfromPS(str(docs[name]), str(ps))
    docs["form"] = folder / "form.pdf"
    shutil.copy(docs["a"], docs["form"])
    doc = pdf.OpenDocument(str(docs["form"]))
    doc.CreateTextField("name", 1, [72, 600, 272, 580])
    doc.Save(1)
    doc.CloseDoc()
    return {k: (p.name, p.read_bytes()) for k, p in docs.items()}


# (name, route, uploads [(field, document)], form fields, check of a 200's body)
WORK = [
    ("convert", "/v1/convert", [("file", "rtf")], {}, lambda b: b.startswith(b"%PDF")),
    ("merge", "/v1/merge", [("files", "a"), ("files", "b")], {}, lambda b: b.startswith(b"%PDF")),
    ("text", "/v1/text", [("file", "a")], {}, lambda b: b"Chapter One" in b),
    ("thumbnails", "/v1/thumbnails", [("file", "a")], {"intZoom": "20"}, lambda b: b.startswith((b"PK", b"\x89PNG"))),
    ("fill", "/v1/fields/fill", [("file", "form")], {"values": '{"name": "Ada Lovelace"}'},
     lambda b: b.startswith(b"%PDF")),
]


def multipart(files, fields, docs):
    parts = []
    for field, key in files:
        name, data = docs[key]
        parts.append(f'--{BOUNDARY}\r\nContent-Disposition: form-data; name="{field}"; filename="{name}"\r\n'
                     "Content-Type: application/octet-stream\r\n\r\n".encode() + data + b"\r\n")
    for field, value in fields.items():
        parts.append(f'--{BOUNDARY}\r\nContent-Disposition: form-data; name="{field}"\r\n\r\n{value}\r\n'.encode())
    return b"".join(parts) + f"--{BOUNDARY}--\r\n".encode()


class Client:
    """Keep-alive HTTP/1.1; a request and its body leave in one write (Nagle off, as curl)."""

    def __init__(self, port):
        self.port = port
        self.conn = None

    def post(self, path, body):
        if self.conn is None:
            self.conn = http.client.HTTPConnection("127.0.0.1", self.port, timeout=900)
            self.conn.connect()
            self.conn.sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
        try:
            self.conn.request("POST", path, body, {"Content-Type": f"multipart/form-data; boundary={BOUNDARY}"})
            r = self.conn.getresponse()
            return r.status, r.read()
        except (OSError, http.client.HTTPException):
            self.close()
            raise

    def close(self):
        if self.conn:
            self.conn.close()
        self.conn = None


def processes_of(token):
    """Process ids whose environment carries the run's token: the service, its office supervisor and offices."""
    mine = []
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            if token in pathlib.Path(f"/proc/{pid}/environ").read_bytes():
                mine.append(int(pid))
        except OSError:
            pass
    return mine


def memory_parts(token):
    """Proportional set sizes in MiB: (the service with its office supervisor, the offices)."""
    parts = [0, 0]
    for pid in processes_of(token):
        try:
            office = pathlib.Path(f"/proc/{pid}/comm").read_text().strip() == "soffice.bin"
            for line in pathlib.Path(f"/proc/{pid}/smaps_rollup").read_text().splitlines():
                if line.startswith("Pss:"):
                    parts[office] += int(line.split()[1])
        except OSError:
            pass
    return parts[0] / 1024, parts[1] / 1024


def cpu_ticks(pid):
    fields = pathlib.Path(f"/proc/{pid}/stat").read_text().rsplit(")", 1)[1].split()
    return int(fields[11]) + int(fields[12])


def offices(token):
    out = []
    for pid in processes_of(token):
        try:
            if pathlib.Path(f"/proc/{pid}/comm").read_text().strip() == "soffice.bin":
                out.append(pid)
        except OSError:
            pass
    return out


def kill_busiest_office(token):
    """SIGKILL to the office that used the most processor time in the last half second."""
    before = {}
    for pid in offices(token):
        try:
            before[pid] = cpu_ticks(pid)
        except OSError:
            pass
    time.sleep(0.5)
    busy = []
    for pid, ticks in before.items():
        try:
            busy.append((cpu_ticks(pid) - ticks, pid))
        except OSError:
            pass
    if not busy:
        return None
    pid = max(busy)[1]
    try:
        os.kill(pid, signal.SIGKILL)
    except OSError:
        return None
    return pid


def percentile(values, q):
    if not values:
        return float("nan")
    values = sorted(values)
    return values[min(len(values) - 1, int(round(q / 100 * (len(values) - 1))))]


def run_level(port, clients, docs, token, work_dir):
    bodies = [(name, route, multipart(files, fields, docs), check) for name, route, files, fields, check in WORK]
    records = []  # (started, seconds, name, outcome)
    problems = []
    lock = threading.Lock()
    stop = threading.Event()
    leaks = [0]

    def client(index):
        c = Client(port)
        n = index
        while not stop.is_set():
            name, route, body, check = bodies[n % len(bodies)]
            n += 1
            t = time.monotonic()
            try:
                status, content = c.post(route, body)
                outcome = "ok" if status == 200 and check(content) else str(status)
            except (OSError, http.client.HTTPException) as e:
                status, content, outcome = 0, str(e).encode(), "connection"
            took = time.monotonic() - t
            with lock:
                records.append((t, took, name, outcome))
                if outcome != "ok":
                    problems.append({"operation": name, "status": status, "body": content[:400].decode("latin-1")
                                     if status != 200 else "a 200 whose body is not the operation's result"})
                if status != 200 and str(work_dir).encode() in content:
                    leaks[0] += 1
        c.close()

    kills = []

    def killer():
        while not stop.wait(KILL_EVERY):
            pid = kill_busiest_office(token)
            kills.append((time.monotonic(), pid))

    parts_start = memory_parts(token)
    mem_start = sum(parts_start)
    started = time.monotonic()
    k = threading.Thread(target=killer, daemon=True)
    k.start()
    with concurrent.futures.ThreadPoolExecutor(clients) as ex:
        futures = [ex.submit(client, i) for i in range(clients)]
        stop.wait(SECONDS)
        stop.set()
        for f in futures:
            f.result()
    elapsed = time.monotonic() - started
    k.join()
    parts_end = memory_parts(token)
    mem_end = sum(parts_end)
    lat = [r[1] for r in records]
    conv = [r[1] for r in records if r[2] == "convert"]
    statuses = {}
    for r in records:
        if r[3] != "ok":
            statuses[r[3]] = statuses.get(r[3], 0) + 1
    return {
        "clients": clients, "seconds": round(elapsed, 1), "requests": len(records),
        "throughput": len(records) / elapsed,
        "p50": percentile(lat, 50), "p95": percentile(lat, 95), "p99": percentile(lat, 99),
        "convert_p50": percentile(conv, 50), "convert_p99": percentile(conv, 99),
        "by_operation": {name: {"requests": sum(1 for r in records if r[2] == name),
                                "p50": percentile([r[1] for r in records if r[2] == name], 50),
                                "p99": percentile([r[1] for r in records if r[2] == name], 99)}
                         for name, *_ in WORK},
        "errors": sum(statuses.values()), "error_kinds": statuses, "path_leaks": leaks[0],
        "offices_killed": sum(1 for _, pid in kills if pid), "memory_start_mib": mem_start,
        "memory_end_mib": mem_end, "service_mib": [parts_start[0], parts_end[0]],
        "offices_mib": [parts_start[1], parts_end[1]], "problems": problems[:20],
        "timeline": [(round(r[0] - started, 3), round(r[1], 4), r[2], r[3]) for r in records],
        "kills": [round(t - started, 3) for t, pid in kills if pid],
    }


def table(levels):
    lines = ["| Clients | Seconds | Requests | Requests/s | p50 ms | p95 ms | p99 ms | conversion p50 / p99 ms "
             "| Errors | Offices killed | Memory start → end MiB |",
             "|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|"]
    for lv in levels:
        lines.append(f"| {lv['clients']} | {lv['seconds']:.0f} | {lv['requests']} | {lv['throughput']:.2f} "
                     f"| {lv['p50'] * 1000:.0f} | {lv['p95'] * 1000:.0f} | {lv['p99'] * 1000:.0f} "
                     f"| {lv['convert_p50'] * 1000:.0f} / {lv['convert_p99'] * 1000:.0f} "
                     f"| {lv['errors']} | {lv['offices_killed']} "
                     f"| {lv['memory_start_mib']:.0f} → {lv['memory_end_mib']:.0f} |")
    return "\n".join(lines)


def plot(levels, path):
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt
    fig, (left, right) = plt.subplots(1, 2, figsize=(11, 4))
    xs = [lv["clients"] for lv in levels]
    for key, style in (("p50", "o-"), ("p95", "s--"), ("p99", "^:")):
        left.plot(xs, [lv[key] * 1000 for lv in levels], style, label=key)
    left.set_xlabel("concurrent clients")
    left.set_ylabel("latency, ms (all operations)")
    left.set_xticks(xs)
    left.set_yscale("log")
    twin = left.twinx()
    twin.bar(xs, [lv["throughput"] for lv in levels], width=0.6, alpha=0.25, color="grey")
    twin.set_ylabel("requests/s (bars)")
    left.legend(loc="upper left")
    left.set_title("Latency and throughput")
    for lv in levels:
        t = [r[0] for r in lv["timeline"] if r[2] == "convert"]
        y = [r[1] * 1000 for r in lv["timeline"] if r[2] == "convert"]
        right.plot(t, y, ".", markersize=3, label=f"{lv['clients']} clients")
    for lv in levels:
        for k in lv["kills"]:
            right.axvline(k, color="red", alpha=0.15)
    right.set_xlabel("seconds into the level (red: an office killed)")
    right.set_ylabel("office conversion latency, ms")
    right.set_title("Conversions while offices are killed")
    right.legend(loc="upper left", markerscale=3)
    fig.tight_layout()
    fig.savefig(path, dpi=90)


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def main():
    work = pathlib.Path(tempfile.mkdtemp(prefix="pressmark-bench-load-"))
    token = f"PRESSMARK_LOAD_RUN={work.name}"
    env = dict(os.environ, PRESSMARK_LOAD_RUN=work.name, PRESSMARK_REGISTRY=str(work / "registry"),
               PRESSMARK_OFFICE_RUNTIME_DIR=str(work / "office"))
    os.environ.update(PRESSMARK_REGISTRY=env["PRESSMARK_REGISTRY"],
                      PRESSMARK_OFFICE_RUNTIME_DIR=env["PRESSMARK_OFFICE_RUNTIME_DIR"])
    proc = None
    try:
        subprocess.run([str(build / "pressmark"), "register"], check=True, env=env, stdout=subprocess.DEVNULL)
        docs = make_documents(work)
        port = free_port()
        log = open(work / "serve.log", "wb")
        proc = subprocess.Popen([str(build / "pressmark"), "serve", "--port", str(port), "--state-dir",
                                 str(work / "state"), "--wait-budget", "900", "--queue-size", "256"],
                                env=env, stdout=log, stderr=subprocess.STDOUT, start_new_session=True)
        for _ in range(300):
            try:
                socket.create_connection(("127.0.0.1", port), timeout=1).close()
                break
            except OSError:
                time.sleep(0.1)
        # Every office starts before anything is measured.
        warm = [(route, multipart(files, fields, docs)) for _, route, files, fields, _ in WORK]
        with concurrent.futures.ThreadPoolExecutor(max(CLIENTS)) as ex:
            list(ex.map(lambda i: [Client(port).post(r, b) for r, b in warm], range(max(CLIENTS))))
        levels = []
        for clients in CLIENTS:
            lv = run_level(port, clients, docs, token.encode(), work)
            levels.append(lv)
            print(f"{clients} clients: {lv['requests']} requests, {lv['throughput']:.2f}/s, p50 "
                  f"{lv['p50'] * 1000:.0f} ms, p99 {lv['p99'] * 1000:.0f} ms, errors {lv['errors']} "
                  f"{lv['error_kinds']}, offices killed {lv['offices_killed']}, memory "
                  f"{lv['memory_start_mib']:.0f} -> {lv['memory_end_mib']:.0f} MiB (service "
                  f"{lv['service_mib'][0]:.0f} -> {lv['service_mib'][1]:.0f}, offices {lv['offices_mib'][0]:.0f} -> "
                  f"{lv['offices_mib'][1]:.0f})", flush=True)
            for p in lv["problems"][:3]:
                print("   ", p, flush=True)
        growth = (levels[-1]["memory_end_mib"] / levels[0]["memory_start_mib"] - 1) * 100
        print()
        print(table(levels))
        print(f"\nmemory growth over the run: {growth:+.1f}%; p99/p50 of conversions: "
              + ", ".join(f"{lv['convert_p99'] / lv['convert_p50']:.2f} ({lv['clients']} clients)" for lv in levels))
        if OUT:
            out = pathlib.Path(OUT)
            out.mkdir(parents=True, exist_ok=True)
            (out / "service_load.md").write_text(table(levels) + "\n")
            (out / "service_load.json").write_text(json.dumps(
                {"seconds_per_level": SECONDS, "kill_every": KILL_EVERY, "memory_growth_percent": growth,
                 "levels": [{k: v for k, v in lv.items() if k != "timeline"} for lv in levels]}, indent=1))
            try:
                plot(levels, out / "service_load.png")
                print(f"written: {out}/service_load.md, .json, .png")
            except ImportError:
                print(f"written: {out}/service_load.md, .json (no plot: it needs python3-matplotlib)")
    finally:
        if proc and proc.poll() is None:
            os.killpg(proc.pid, signal.SIGTERM)
            try:
                proc.wait(timeout=60)
            except subprocess.TimeoutExpired:
                os.killpg(proc.pid, signal.SIGKILL)
        subprocess.run([str(build / "pressmark"), "office", "stop"], env=env, capture_output=True)
        for pid in processes_of(token.encode()):
            try:
                os.kill(pid, signal.SIGKILL)
            except OSError:
                pass
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
