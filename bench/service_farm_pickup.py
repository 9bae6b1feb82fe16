#!/usr/bin/env python3
"""How soon a farm worker takes its next job, and how soon the gateway learns
that a job ended.

    python3 bench/service_farm_pickup.py [build-dir] --farm redis://127.0.0.1:PORT/0 [--jobs N]

Starts a gateway and one worker of one process on the given Redis, queues N
jobs (the text of a one-page PDF) at once, and reads from the jobs' status
files when the worker started and ended each. Pick-up: from the end of one
job to the start of the next, with the worker's pick-up step and, as the
anchor in the same run, without it. Announcement: from a job's end in the
worker to its end in the gateway's store. Target: pick-up and announcement
each under 50 ms at the median.
"""
import json
import os
import pathlib
import signal
import socket
import statistics
import subprocess
import sys
import tempfile
import time
import urllib.request


def option(name, default=None):
    return next((sys.argv[i + 1] for i, a in enumerate(sys.argv) if a == name), default)


farm = option("--farm")
if not farm:
    sys.exit("usage: service_farm_pickup.py [build-dir] --farm redis://127.0.0.1:PORT/0 [--jobs N]")
JOBS = int(option("--jobs", 20))
args = [a for i, a in enumerate(sys.argv[1:], 1) if not a.startswith("--") and not sys.argv[i - 1].startswith("--")]
build = pathlib.Path(args[0] if args else pathlib.Path(__file__).resolve().parents[1] / "build").resolve()
sys.path.insert(0, str(build / "python"))
import pressmark  # noqa: E402

# A worker without the pick-up step: the anchor.
PLAIN_WORKER = ("import sys; from pressmark.service import config; from pressmark.service.engines import farm, pickup; "
                "pickup.PromptPickup.create = lambda self, worker: None; "
                "sys.exit(farm.run_worker(config.parse(sys.argv[1:], 'pressmark worker')))")


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def post(port, path, body, ctype):
    req = urllib.request.Request(f"http://127.0.0.1:{port}{path}", data=body, method="POST",
                                 headers={"Content-Type": ctype, "Prefer": "respond-async"})
    with urllib.request.urlopen(req, timeout=60) as r:
        return json.loads(r.read())


def get(port, path):
    with urllib.request.urlopen(f"http://127.0.0.1:{port}{path}", timeout=60) as r:
        return json.loads(r.read())


def run(work, pdf, prompt):
    store = work / "store"
    port = free_port()
    common = ["--broker", farm, "--store-dir", str(store), "--workers", "1"]
    env = dict(os.environ, PYTHONPATH=str(build / "python"))
    procs = [subprocess.Popen([str(build / "pressmark"), "serve", "--port", str(port), "--state-dir",
                               str(work / "gw"), "--queue-size", str(JOBS + 1), *common], start_new_session=True,
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)]
    worker = [str(build / "pressmark"), "worker"] if prompt else ["/usr/bin/python3", "-c", PLAIN_WORKER]
    procs.append(subprocess.Popen([*worker, "--state-dir", str(work / "w"), *common], env=env,
                                  start_new_session=True, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL))
    try:
        for _ in range(300):
            try:
                get(port, "/health")
                break
            except OSError:
                time.sleep(0.1)
        boundary = "pickupbench"
        body = (f"--{boundary}\r\nContent-Disposition: form-data; name=\"file\"; filename=\"one.pdf\"\r\n"
                "Content-Type: application/pdf\r\n\r\n").encode() + pdf + f"\r\n--{boundary}--\r\n".encode()
        ctype = f"multipart/form-data; boundary={boundary}"
        # One job first, so the worker's process and office are warm.
        first = post(port, "/v1/text", body, ctype)["id"]
        while get(port, f"/v1/jobs/{first}")["status"] not in ("done", "failed"):
            time.sleep(0.05)
        ids = [post(port, "/v1/text", body, ctype)["id"] for _ in range(JOBS)]
        seen = {}
        while len(seen) < len(ids):
            for j in ids:
                if j not in seen:
                    st = get(port, f"/v1/jobs/{j}")
                    if st["status"] in ("done", "failed"):
                        seen[j] = st
            time.sleep(0.05)
        worker_side = [json.loads((store / "jobs" / j / "status.json").read_text()) for j in ids]
        runs = sorted((w["started"], w["finished"]) for w in worker_side)
        gaps = [b[0] - a[1] for a, b in zip(runs, runs[1:])]
        told = [seen[j]["finished"] - w["finished"] for j, w in zip(ids, worker_side)]
        return gaps, told
    finally:
        for p in procs:
            if p.poll() is None:
                os.killpg(p.pid, signal.SIGTERM)
        for p in procs:
            p.wait(timeout=30)


def ms(values):
    values = sorted(values)
    p90 = values[int(0.9 * (len(values) - 1))]
    median = statistics.median(values)
    return f"median {1000 * median:7.1f} ms   p90 {1000 * p90:7.1f} ms   max {1000 * values[-1]:7.1f} ms"


def main():
    with tempfile.TemporaryDirectory(prefix="pressmark-pickup-") as tmp:
        tmp = pathlib.Path(tmp)
        os.environ["PRESSMARK_REGISTRY"] = str(tmp / "registry")
        subprocess.run([str(build / "pressmark"), "register"], check=True, stdout=subprocess.DEVNULL)
        ps = tmp / "one.ps"
        ps.write_text("%!PS\n/Helvetica findfont 24 scalefont setfont 72 700 moveto (One) show showpage\n")
        pdf = pressmark.CreatePDF()
        pdf.TempFilePath = str(tmp)
        pdf.CreatePDFfromPS(str(tmp / "one.pdf"), str(ps))
        data = (tmp / "one.pdf").read_bytes()
        for prompt in (False, True):
            work = tmp / ("prompt" if prompt else "plain")
            gaps, told = run(work, data, prompt)
            name = "with the pick-up step   " if prompt else "without (anchor)        "
            print(f"pick-up, {name} {ms(gaps)}")
            if prompt:
                print(f"gateway told of the end        {ms(told)}")


if __name__ == "__main__":
    main()
