# Every native and compatibility route on documents the tests make, jobs,
# webhooks, problems, limits, keys and metrics, over real HTTP.
import base64
import contextlib
import functools
import hashlib
import hmac
import http.server
import io
import json
import os
import re
import signal
import socket
import sqlite3
import shutil
import subprocess
import threading
import time
import zipfile

import pytest

from conftest import (CLI, WEBHOOK_KEY, WEBHOOK_SECRET, Service, free_port, pdf_pages, pdf_text, read_back,
                      require_or_skip)


def qdf(data, tmp_path):
    (tmp_path / "in.pdf").write_bytes(data)
    subprocess.run(["qpdf", "--qdf", "--object-streams=disable", str(tmp_path / "in.pdf"), str(tmp_path / "q.pdf")],
                   check=True)
    return (tmp_path / "q.pdf").read_bytes().decode("latin-1")


def zipped(data):
    z = zipfile.ZipFile(io.BytesIO(data))
    return {n: z.read(n) for n in z.namelist()}


# (route, uploads {field: [document keys]}, form fields, check of (response, tmp_path))
ROUTES = [
    ("convert", {"file": ["ps"]}, {}, lambda r, t: "Chapter Two" in pdf_text(r.content, t)),
    ("convert", {"file": ["txt"]}, {"blnLandscape": "true"},
     lambda r, t: "Plain text through the office" in pdf_text(r.content, t)),
    ("convert", {"file": ["png"]}, {}, lambda r, t: pdf_pages(r.content, t) == 1),
    ("convert", {"file": ["rtf"]}, {"to": "ps"}, lambda r, t: r.content.startswith(b"%!PS")),
    ("convert", {"files": ["ps", "png"]}, {},
     lambda r, t: sorted(zipped(r.content)) == ["dot.pdf", "two.pdf"]),
    ("pages/extract", {"file": ["pdf"]}, {"lngStartPage": "2", "lngEndPage": "2"},
     lambda r, t: pdf_pages(r.content, t) == 1 and "Chapter Two" in pdf_text(r.content, t)),
    ("pages/extract", {"file": ["pdf"]}, {"each": "true"},
     lambda r, t: sorted(zipped(r.content)) == ["page-1.pdf", "page-2.pdf"]),
    ("pages/delete", {"file": ["pdf"]}, {"lngStartPage": "1", "lngEndPage": "1"},
     lambda r, t: pdf_text(r.content, t).strip() == "Chapter Two"),
    ("pages/rotate", {"file": ["pdf"]}, {"lngStartPage": "1", "lngEndPage": "1", "lngRotation": "90"},
     lambda r, t: "/Rotate 90" in qdf(r.content, t)),
    ("pages/move", {"file": ["pdf"]}, {"lngPage": "1", "lngMoveAfterPage": "2"},
     lambda r, t: pdf_text(r.content, t).index("Chapter Two") < pdf_text(r.content, t).index("Chapter One")),
    ("bookmarks/write", {"file": ["pdf"]}, {"varBookmarkTitles": '["Chapter Two"]'},
     lambda r, t: "Chapter Two" in qdf(r.content, t) and "/Outlines" in qdf(r.content, t)),
    ("convert", {"file": ["csv"]}, {}, lambda r, t: "Apples" in pdf_text(r.content, t)),
    ("bookmarks/read", {"file": ["marked"]}, {},
     lambda r, t: r.json() == {"bookmarks": [{"title": "Chapter Two", "page": 2, "level": 1}]}),
    ("fields/list", {"file": ["form"]}, {},
     lambda r, t: {f["name"]: f["type"] for f in r.json()["fields"]} == {"name": "text", "sig": "signature"}),
    ("fields/fill", {"file": ["form"]}, {"values": '{"name": "Ada Lovelace"}', "flatten": "true"},
     lambda r, t: "Ada Lovelace" in pdf_text(r.content, t)),
    ("sign", {"file": ["form"], "certificate": ["p12"]}, {"password": "secret", "field": "sig"},
     lambda r, t: "Signature is Valid" in read_back(r.content, t, "pdfsig", check=False)),
    ("text", {"file": ["pdf"]}, {}, lambda r, t: "Chapter One" in r.text and r.headers["content-type"].startswith(
        "text/plain")),
    ("thumbnails", {"file": ["pdf"]}, {"intZoom": "20"},
     lambda r, t: [v[:4] for v in zipped(r.content).values()] == [b"\x89PNG"] * 2),
    ("watermark", {"file": ["pdf"]}, {"strText": "DRAFT COPY"}, lambda r, t: "DRAFT COPY" in pdf_text(r.content, t)),
]


def uploads(made, fields):
    return [(field, (made[k].name, made[k].read_bytes())) for field, keys in fields.items() for k in keys]


def finished(client, job, tries=600, until=("done", "failed"), headers=None):
    """A job's status once it has reached one of `until` (by default: once it has ended)."""
    for _ in range(tries):
        status = client.get(f"/v1/jobs/{job}", headers=headers).json()
        if status["status"] in until:
            return status
        assert 0 <= status.get("progress", 0) <= 100
        time.sleep(0.1)
    return status


@contextlib.contextmanager
def serving(handler, port=0):
    """A loopback HTTP server of the test's own (its port), stopped when the block ends."""
    server = http.server.HTTPServer(("127.0.0.1", port), handler)
    threading.Thread(target=server.serve_forever, daemon=True).start()
    try:
        yield server.server_port
    finally:
        server.shutdown()


@pytest.mark.parametrize("route,files,fields,check", ROUTES, ids=[f"{r[0]}-{i}" for i, r in enumerate(ROUTES)])
def test_native_routes(service, made, tmp_path, route, files, fields, check):
    r = service.client.post("/v1/" + route, files=uploads(made, files), data=fields)
    assert r.status_code == 200, r.text
    assert re.fullmatch(r"[0-9a-f]{32}", r.headers["x-request-id"])
    assert check(r, tmp_path), r.content[:300]


def test_signed_document_verifies(service, made):
    signed = service.client.post("/v1/sign", files=uploads(made, {"file": ["form"], "certificate": ["p12"]}),
                                 data={"password": "secret"})
    assert signed.status_code == 200, signed.text
    r = service.client.post("/v1/verify", files=[("file", ("s.pdf", signed.content))])
    rows = r.json()["signatures"]
    assert [(s["field"], s["signed"]) for s in rows] == [("sig", False), ("Signature1", True)]
    assert rows[1]["name"] == "Pressmark Service Test"


COMPAT = [
    ("/forms/libreoffice/convert", {"files": ["rtf", "txt"]}, {"merge": "true", "landscape": "true"}, 200,
     lambda r, t: pdf_pages(r.content, t) == 2 and "Dear reader" in pdf_text(r.content, t)),
    ("/forms/libreoffice/convert", {"files": ["rtf"]}, {"pdfa": "PDF/A-9z"}, 400,
     lambda r, t: "pdfa" in r.json()["detail"]),
    ("/forms/pdfengines/merge", {"files": ["form", "pdf"]}, {}, 200,
     lambda r, t: pdf_pages(r.content, t) == 4 and pdf_text(r.content, t).startswith("Chapter One")),
]


@pytest.mark.parametrize("path,files,fields,status,check", COMPAT)
def test_compatibility_routes(service, made, tmp_path, path, files, fields, status, check):
    r = service.client.post(path, files=uploads(made, files), data=fields)
    assert r.status_code == status, r.text
    assert check(r, tmp_path)


def test_health_version_openapi_and_docs(service):
    assert service.client.get("/health").json()["status"] == "up"
    assert service.client.get("/ready").status_code == 200
    v = service.client.get("/version").json()
    assert v["source"].startswith("https://") and v["version"] not in ("", "unknown")
    paths = service.client.get("/openapi.json").json()["paths"]
    assert {"/v1/convert", "/v1/sign", "/forms/pdfengines/merge", "/v1/jobs/{job_id}"} <= set(paths)
    text = paths["/v1/text"]["post"]
    assert "fileUrl" in text["requestBody"]["content"]["multipart/form-data"]["schema"]["properties"]
    assert "X-Webhook-Url" in [p["name"] for p in text["parameters"]]
    docs = service.client.get("/docs")
    assert docs.status_code == 200 and "/docs/assets/swagger-ui-bundle.js" in docs.text
    assert "http" not in docs.text.replace("/openapi.json", ""), "the page loads nothing from outside"
    assert service.client.get("/docs/assets/swagger-ui-bundle.js").status_code == 200
    page = service.client.get("/")
    assert page.status_code == 200 and "/page/page.js" in page.text
    assert "default-src 'none'" in page.headers["content-security-policy"]
    assert service.client.get("/v1/limits").json() == {"maxBody": 4 << 20}


BAD = [
    # (what, request arguments, status, problem type)
    ("unsupported input", dict(files=[("file", ("a.xyz", b"data"))]), "/v1/convert", 400, "unsupported-input"),
    ("missing file", dict(data={"x": "1"}), "/v1/merge", 400, "missing-file"),
    ("not a PDF", dict(files=[("file", ("a.pdf", b"hello"))]), "/v1/text", 400, "not-a-pdf"),
    ("damaged PDF", dict(files=[("file", ("a.pdf", b"%PDF-1.7\n1 0 obj <<>> trailer garbage"))]), "/v1/text", 422,
     "automation-error"),
    ("server path", dict(files=[("file", ("a.ps", b"%!PS\nshowpage\n"))], data={"strPDFFile": "/etc/x.pdf"}),
     "/v1/convert", 400, "path-not-allowed"),
    ("unknown field", dict(files=[("file", ("a.pdf", b"%PDF-1.4"))], data={"lngWhat": "1"}), "/v1/pages/delete", 400,
     "unknown-field"),
    ("not a form", dict(content=b"{}", headers={"content-type": "application/json"}), "/v1/text", 415,
     "bad-content-type"),
    ("oversized body", dict(files=[("file", ("big.pdf", b"%PDF-" + b"0" * (5 << 20)))]), "/v1/text", 413,
     "too-large"),
    ("no such route", dict(), "/v1/nothing", 404, "not-found"),
    ("broken image", dict(files=[("file", ("a.png", b"\x89PNG\r\n\x1a\nbroken"))]), "/v1/convert", 422, "no-output"),
    ("malformed form", dict(content=b"--b\r\nno header\r\n\r\n--b--",
                            headers={"content-type": "multipart/form-data; boundary=b"}), "/v1/text", 400,
     "malformed-form"),
    ("junk to OCR", dict(files=[("file", ("scan.png", b"\x89PNG junk"))]), "/v1/ocr", 400, "unsupported-input"),
    ("OCR language not installed", dict(files=[("file", ("a.pdf", b"%PDF-1.4"))], data={"languages": "eng+xyz"}),
     "/v1/ocr", 400, "invalid-argument"),
]


@pytest.mark.parametrize("what,kwargs,path,status,type_", BAD, ids=[b[0] for b in BAD])
def test_problems(service, what, kwargs, path, status, type_):
    kwargs = dict(kwargs)
    kwargs["headers"] = dict(kwargs.get("headers", {}), **{"x-request-id": "req-" + type_})
    r = service.client.post(path, **kwargs)
    assert r.status_code == status, r.text
    assert r.headers["content-type"] == "application/problem+json"
    assert r.headers["x-request-id"] == "req-" + type_
    p = r.json()
    assert p["type"] == "urn:pressmark:problem:" + type_ and p["status"] == status and p["retryable"] is False
    assert p["detail"].strip()
    if type_ == "automation-error":
        assert p["source"] == "Pressmark" and isinstance(p["number"], int) and p["detail"]


def receiver(refusals=1):
    """A webhook receiver's handler class: the first `refusals` calls are
    answered 503 (the service tries again), later ones 204; `got` keeps
    each call's headers and body."""
    class Receiver(http.server.BaseHTTPRequestHandler):
        got = []

        def do_POST(self):
            Receiver.got.append((dict(self.headers), self.rfile.read(int(self.headers["content-length"]))))
            self.send_response(503 if len(Receiver.got) <= refusals else 204)
            self.end_headers()

        def log_message(self, *args):
            pass
    return Receiver


def delivered(hooks, calls=2):
    """The calls a receiver got once it has `calls` of them (the first refused, the next taken)."""
    for _ in range(600):
        if len(hooks.got) >= calls:
            break
        time.sleep(0.05)
    assert len(hooks.got) == calls
    (first, body), (again, same) = hooks.got[0], hooks.got[-1]
    assert body == same and first["webhook-id"] == again["webhook-id"] and again["webhook-id"].startswith("msg_")
    for headers in (first, again):
        # The receiver's check of the Standard Webhooks signature, with the key the service was given.
        signed = f"{headers['webhook-id']}.{headers['webhook-timestamp']}.".encode() + body
        expected = base64.b64encode(hmac.new(WEBHOOK_KEY, signed, hashlib.sha256).digest()).decode()
        given = [s.split(",", 1)[1] for s in headers["webhook-signature"].split() if s.startswith("v1,")]
        assert any(hmac.compare_digest(expected, g) for g in given), headers
    return again, body


def test_async_job_polled_deleted_and_webhook_signed(service, made, tmp_path):
    hooks = receiver()
    with serving(hooks) as port:
        r = service.client.post("/v1/convert", files=uploads(made, {"file": ["five_ps"]}),
                                headers={"prefer": "respond-async", "x-request-id": "hooked",
                                         "x-webhook-url": f"http://127.0.0.1:{port}/done"})
        assert r.status_code == 202 and r.headers["location"] == f"/v1/jobs/{r.json()['id']}"
        job = r.headers["location"]
        status = finished(service.client, r.json()["id"])
        assert status["status"] == "done" and status["progress"] == 100 and status["result"] == job + "/result"
        assert pdf_pages(service.client.get(status["result"]).content, tmp_path) == 5
        headers, body = delivered(hooks)
        assert headers["X-Request-Id"] == "hooked" and json.loads(body)["status"] == "done"
        assert service.client.delete(job).status_code == 204
        assert service.client.get(job).status_code == 404


def test_ocr_progress_counts_pages(made, tmp_path):
    from pressmark.service.operations import OPS
    from pressmark.service.operations.base import Ctx
    shutil.copy(made["scan"], tmp_path / "in.png")
    seen = []
    ctx = Ctx(None, str(tmp_path), {"file": [(str(tmp_path / "in.png"), "page.png")]}, {}, seen.append, timeout=300)
    out = OPS["ocr"].run(ctx)
    assert seen == [0, 100] and [os.path.basename(f) for f in out.files] == ["page.pdf"]


def test_loopback_refused_in_every_spelling_with_any_host_allowed(tmp_path, made):
    """With every host allowed and private addresses not, loopback reaches no
    listener there, as an input or as a webhook (every spelling the URL check
    refuses is a row of its unit test)."""
    listener = socket.create_server(("127.0.0.1", 0))
    listener.setblocking(False)
    port = listener.getsockname()[1]
    s = Service(tmp_path / "open", "--fetch-allow", "*")
    try:
        for host in ["127.1", "localhost.", "[::ffff:127.0.0.1]"]:
            url = f"http://{host}:{port}/two.pdf"
            fetched = s.client.post("/v1/text", data={"fileUrl": url})
            hooked = s.client.post("/v1/text", files=uploads(made, {"file": ["pdf"]}), headers={"x-webhook-url": url})
            for r in (fetched, hooked):
                assert r.status_code == 400 and r.json()["type"].endswith("url-not-allowed"), (host, r.text)
        with pytest.raises(BlockingIOError):
            listener.accept()
    finally:
        s.stop()
        listener.close()


def test_pending_webhook_survives_a_restart(tmp_path, made):
    """A delivery its receiver could not take yet is sent after the service
    restarts, under the id it was first given."""
    port = free_port()
    s = Service(tmp_path / "state", "--allow-private", "--fetch-allow", "127.0.0.1", "--webhook-secret",
                WEBHOOK_SECRET)
    try:
        r = s.client.post("/v1/text", files=uploads(made, {"file": ["pdf"]}),
                          headers={"x-webhook-url": f"http://127.0.0.1:{port}/later"})
        assert r.status_code == 200, r.text
        store = sqlite3.connect(tmp_path / "state" / "jobs.sqlite")
        pending = []
        for _ in range(300):
            pending = store.execute("SELECT id FROM deliveries").fetchall()
            if pending:
                break
            time.sleep(0.05)
        store.close()
        assert len(pending) == 1
        s.kill()
        hooks = receiver(refusals=0)
        with serving(hooks, port=port):
            s.start()
            headers, body = delivered(hooks, 1)
        assert headers["webhook-id"] == pending[0][0]
        assert json.loads(body)["status"] == "done"
    finally:
        s.stop()


def test_input_fetched_from_an_allowed_address(service, made):
    files = functools.partial(http.server.SimpleHTTPRequestHandler, directory=str(made["pdf"].parent))
    with serving(files) as port:
        r = service.client.post("/v1/text", data={"fileUrl": f"http://127.0.0.1:{port}/two.pdf"})
    assert r.status_code == 200 and "Chapter Two" in r.text, r.text


def counter(text, name, **labels):
    """The sum of a metric's samples that carry these labels."""
    total = 0.0
    for found, value in re.findall(re.escape(name) + r"\{([^}]*)\} ([0-9.e+]+)", text):
        if labels.items() <= dict(re.findall(r'(\w+)="([^"]*)"', found)).items():
            total += float(value)
    return total


def settled_metrics(client):
    """The metrics once an earlier test's request has been counted: a request
    is counted just after its answer goes out, so two reads must agree."""
    texts = [client.get("/metrics").text]
    for _ in range(50):
        time.sleep(0.1)
        texts.append(client.get("/metrics").text)
        if counter(texts[-1], "pressmark_requests_total", route="/v1/text") == \
                counter(texts[-2], "pressmark_requests_total", route="/v1/text"):
            break
    return texts[-1]


def test_metrics_counters_move(service, made):
    before = settled_metrics(service.client)
    assert service.client.post("/v1/text", files=uploads(made, {"file": ["pdf"]})).status_code == 200
    after = settled_metrics(service.client)
    assert counter(after, "pressmark_jobs_total", route="text", outcome="done") == \
        counter(before, "pressmark_jobs_total", route="text", outcome="done") + 1
    assert counter(after, "pressmark_requests_total", route="/v1/text", status="200") == \
        counter(before, "pressmark_requests_total", route="/v1/text", status="200") + 1
    assert "pressmark_job_run_seconds_bucket" in after and "pressmark_office_pool_size" in after


def test_keys_queue_limit_and_binding(tmp_path, made):
    keys = tmp_path / "keys"
    keys.write_text("# one key a line\nsecret-key-1\n")
    refused = subprocess.run([CLI, "serve", "--host", "0.0.0.0",
                              "--state-dir", str(tmp_path / "x"), "--port", "1"], capture_output=True, text=True)
    assert refused.returncode != 0 and "without API keys" in refused.stderr
    gate = tmp_path / "gate"
    gate.mkdir()
    s = Service(tmp_path / "keyed", "--api-keys-file", str(keys), "--workers", "1", "--queue-size", "1",
                "--test-gate-dir", str(gate))
    try:
        c = s.client
        assert c.get("/health").status_code == 200
        assert c.get("/metrics").status_code == 401
        # The page itself is public; what it reads needs the key typed into it.
        assert [c.get(p).status_code for p in ("/", "/page/page.js", "/openapi.json")] == [200, 200, 401]
        assert c.get("/metrics", headers={"authorization": "Bearer wrong"}).status_code == 401
        ok = {"authorization": "Bearer secret-key-1", "prefer": "respond-async"}
        assert c.get("/metrics", headers=ok).status_code == 200
        # The gate's job holds the one worker until the test opens it: one
        # more job waits, the next finds the queue full.
        held = c.post("/v1/test/gate", content=b"",
                      headers={**ok, "content-type": "application/x-www-form-urlencoded"})
        assert held.status_code == 202, held.text
        assert finished(c, held.json()["id"], until=("running",), headers=ok)["status"] == "running"
        answers = [c.post("/v1/convert", files=uploads(made, {"file": ["ps"]}), headers=ok) for _ in range(2)]
        assert [a.status_code for a in answers] == [202, 429]
        assert answers[1].headers["retry-after"] == "5" and answers[1].json()["retryable"] is True
        (gate / "open").touch()
        assert finished(c, answers[0].json()["id"], headers=ok)["status"] == "done"
    finally:
        s.stop()


def test_embedded_jobs_survive_a_killed_service(tmp_path, made):
    s = Service(tmp_path / "state", "--workers", "1")
    ids = []
    for _ in range(4):
        r = s.client.post("/v1/convert", files=uploads(made, {"file": ["five_ps"]}),
                          headers={"prefer": "respond-async"})
        assert r.status_code == 202
        ids.append(r.json()["id"])
    for _ in range(600):
        if s.client.get(f"/v1/jobs/{ids[0]}").json()["status"] == "running":
            break
        time.sleep(0.05)
    s.kill()
    s.start()
    try:
        for job in ids:
            st = finished(s.client, job)
            assert st["status"] == "done", st
            assert pdf_pages(s.client.get(st["result"]).content, tmp_path) == 5
    finally:
        s.stop()


class Redis:
    """A Redis of the test's own on a fixed loopback port, nothing kept on disk, to be killed and started again."""

    def __init__(self, folder):
        self.folder, self.port, self.proc = folder, free_port(), None
        folder.mkdir()
        self.start()

    def start(self):
        # redis-tools holds the server as redis-check-rdb, which serves when named redis-server.
        argv = ["redis-server", "--port", str(self.port), "--bind", "127.0.0.1", "--save", "", "--appendonly", "no",
                "--dir", str(self.folder)]
        self.proc = subprocess.Popen(argv, executable="/usr/bin/redis-check-rdb", stdout=subprocess.DEVNULL,
                                     stderr=subprocess.DEVNULL)
        for _ in range(100):
            if subprocess.run(["redis-cli", "-p", str(self.port), "ping"], capture_output=True).stdout == b"PONG\n":
                return
            time.sleep(0.1)
        raise AssertionError("redis did not start")

    def kill(self):
        self.proc.kill()
        self.proc.wait()


def test_farm_bad_day_every_job_ends_once(tmp_path, made):
    """A worker process killed mid-job, Redis killed (losing its queues) and started again, the gateway
    restarted: every accepted job ends once, with its result, and runs once (the killed one twice)."""
    require_or_skip(os.path.exists("/usr/bin/redis-check-rdb"), "redis-tools (the Redis server)")
    redis = Redis(tmp_path / "redis")
    store = tmp_path / "store"
    farm = ["--broker", f"redis://127.0.0.1:{redis.port}/0", "--store-dir", str(store), "--call-timeout", "300",
            "--workers", "1", "--allow-private", "--fetch-allow", "127.0.0.1", "--webhook-secret", WEBHOOK_SECRET]
    gateway = Service(tmp_path / "gw", *farm, "--queue-size", "100")
    workers = [Service(tmp_path / f"w{i}", *farm, command="worker") for i in range(2)]
    kinds = [("convert", {"file": ["five_ps"]}, 5), ("merge", {"files": ["pdf", "pdf"]}, 4),
             ("convert", {"file": ["txt"]}, 1), ("pages/extract", {"file": ["pdf"]}, 1), ("pdfa", {"file": ["pdf"]}, 2)]
    hooks = receiver()
    try:
        with serving(hooks) as port:
            ids = []
            for i in range(30):
                route, files, pages = kinds[i % len(kinds)]
                data = {"pages/extract": {"lngStartPage": "2", "lngEndPage": "2"}, "pdfa": {"pdfa": "PDF/A-2b"}}.get(
                    route, {})
                # The first job's webhook is a task of the farm, retried after a 503.
                hook = {"x-webhook-url": f"http://127.0.0.1:{port}/farm"} if i == 0 else {}
                r = gateway.client.post("/v1/" + route, files=uploads(made, files), data=data,
                                        headers={"prefer": "respond-async", **hook})
                assert r.status_code == 202, r.text
                ids.append((r.json()["id"], pages))
            # OCR, on its own queue.
            r = gateway.client.post("/v1/ocr", files=uploads(made, {"file": ["scan"]}),
                                    headers={"prefer": "respond-async"})
            assert r.status_code == 202, r.text
            ids.append((r.json()["id"], 1))
            # The worker process running a job dies mid-job.
            victim = None
            for _ in range(600):
                for j, _ in ids:
                    st = store / "jobs" / j / "status.json"
                    if st.exists() and json.loads(st.read_text())["status"] == "running":
                        victim = j, int(json.loads(st.read_text())["worker"].rsplit(":", 1)[1])
                        break
                if victim:
                    break
                time.sleep(0.05)
            assert victim, "no job ran"
            os.kill(victim[1], signal.SIGKILL)
            # The first job's webhook is delivered before Redis goes.
            assert finished(gateway.client, ids[0][0], 1800)["status"] == "done"
            headers, body = delivered(hooks)
            assert json.loads(body)["id"] == ids[0][0]
        # Redis dies with the queued messages and comes back empty; the gateway restarts.
        redis.kill()
        redis.start()
        done = counter(gateway.client.get("/metrics").text, "pressmark_jobs_total", outcome="done")
        gateway.stop()
        gateway.start()
        for job, pages in ids:
            st = finished(gateway.client, job, 1800)
            assert st["status"] == "done", st
            assert pdf_pages(gateway.client.get(st["result"]).content, tmp_path) == pages
        assert done + counter(gateway.client.get("/metrics").text, "pressmark_jobs_total", outcome="done") == 31
        logs = "".join((tmp_path / f"w{i}" / "worker.log").read_text() for i in range(2))
        assert sorted(re.findall(r"job ([0-9a-f]{32}) runs", logs)) == sorted([j for j, _ in ids] + [victim[0]])
        # The killed job ran again elsewhere: its outcome names another process.
        again = json.loads((store / "jobs" / victim[0] / "status.json").read_text())
        assert again["status"] == "done" and not again["worker"].endswith(f":{victim[1]}")
    finally:
        for s in [*workers, gateway]:
            s.stop()
        redis.kill()


def test_docs_page_converts_in_a_headless_browser(service, made, browser):
    """The /docs page in a real browser: it renders from the service's own
    assets, a conversion run from it answers a PDF, and no request the page
    makes leaves the machine."""
    from selenium.webdriver.common.by import By
    from selenium.webdriver.support import expected_conditions as ready
    from selenium.webdriver.support.ui import WebDriverWait
    browser.get(f"http://127.0.0.1:{service.port}/docs")
    wait = WebDriverWait(browser, 60)
    block = wait.until(ready.presence_of_element_located(
        (By.XPATH, "//div[contains(@class,'opblock') and .//*[@data-path='/v1/convert']]")))
    block.find_element(By.CLASS_NAME, "opblock-summary").click()
    wait.until(lambda _: block.find_elements(By.CLASS_NAME, "try-out__btn"))[0].click()
    block.find_element(By.CSS_SELECTOR, "input[type=file]").send_keys(str(made["ps"]))
    block.find_element(By.CSS_SELECTOR, "button.execute").click()
    # The table's heading cell is "Code"; the answer's cell holds the number.
    status = wait.until(lambda _: [e.text.strip() for e in block.find_elements(
        By.CSS_SELECTOR, ".live-responses-table .response-col_status") if e.text.strip().isdigit()])
    assert status[0] == "200", block.text
    link = wait.until(lambda _: block.find_elements(By.CSS_SELECTOR, ".live-responses-table a[download]"))[0]
    head = browser.execute_async_script(
        "const done = arguments[1];"
        "fetch(arguments[0]).then(r => r.arrayBuffer())"
        ".then(b => done(String.fromCharCode(...new Uint8Array(b.slice(0, 5)))))"
        ".catch(e => done('failed: ' + e));", link.get_attribute("href"))
    assert head == "%PDF-", head
    urls = [json.loads(e["message"])["message"]["params"]["request"]["url"]
            for e in browser.get_log("performance") if '"Network.requestWillBeSent"' in e["message"]]
    assert any(u.endswith("/openapi.json") for u in urls), urls
    # The browser's own pages (chrome://, blob:, data:) are no network request.
    outside = [u for u in urls if u.split(":")[0] in ("http", "https", "ws", "wss", "ftp")
               and not u.startswith(f"http://127.0.0.1:{service.port}/")]
    assert outside == [], outside
