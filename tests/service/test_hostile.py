# The service against hostile callers over real HTTP: bodies that never end
# or go on past their end, slow and greedy connections, other keys' jobs,
# reused idempotency keys, forged log lines, work past its time-out.
import json
import os
import socket
import stat
import time

import httpx
import pytest

from conftest import Service
from test_service import finished, uploads

HEAD = ("POST /v1/text HTTP/1.1\r\nHost: x\r\nContent-Type: multipart/form-data; boundary=b\r\n"
        "Content-Length: {}\r\n\r\n")


def held(port, data=b""):
    """A raw connection that sends `data` and then holds, sending nothing more."""
    s = socket.create_connection(("127.0.0.1", port))
    s.settimeout(60)
    s.sendall(data)
    return s


def answer(sock):
    """All the server sends until it closes the connection."""
    got = b""
    while chunk := sock.recv(65536):
        got += chunk
    sock.close()
    return got


def test_bytes_past_the_closing_boundary_are_not_parsed(service, made):
    """A megabyte after the closing boundary neither stalls the service nor
    fills its log; a body that stalls meanwhile holds nobody else."""
    log = service.state / "serve.log"
    before = log.stat().st_size
    pdf = made["pdf"].read_bytes()
    body = (b'--b\r\nContent-Disposition: form-data; name="file"; filename="two.pdf"\r\n\r\n' + pdf
            + b"\r\n--b--\r\n" + b"\x00garbage" * (1 << 17))
    slow = held(service.port, HEAD.format(1000).encode() + b"--b\r\n")
    try:
        r = service.client.post("/v1/text", content=body, headers={"content-type": "multipart/form-data; boundary=b"})
        assert r.status_code == 200 and "Chapter Two" in r.text, r.text
        assert service.client.get("/health").status_code == 200
    finally:
        slow.close()
    assert log.stat().st_size - before < 64 * 1024


def test_slow_and_greedy_connections_are_cut_off(tmp_path):
    s = Service(tmp_path / "s", "--header-timeout", "5", "--body-timeout", "1", "--client-connections", "3")
    s.client.close()   # its kept-alive connection would count as one of the three
    try:
        conns = [held(s.port) for _ in range(3)]
        assert answer(held(s.port)) == b"", "a fourth connection of one client is closed at once"
        conns[0].sendall(HEAD.format(1000).encode() + b"--b\r\n")
        conns[1].sendall(b"GET /health HTTP/1.1\r\nHost: x\r\n")
        assert b" 408 " in answer(conns[0]).split(b"\r\n")[0], "a stalled body is answered 408"
        assert answer(conns[1]) == b"", "headers that never end are cut off"
        with httpx.Client(base_url=f"http://127.0.0.1:{s.port}") as c:
            assert c.get("/health").status_code == 200
        conns[2].close()
    finally:
        s.stop()


def test_keys_own_their_jobs_and_see_nothing_of_the_service(tmp_path, made):
    keys = tmp_path / "keys"
    keys.write_text("key-a\nkey-b\n")
    s = Service(tmp_path / "keyed", "--api-keys-file", str(keys), "--results-disk-cap", "1")
    a, b = {"authorization": "Bearer key-a"}, {"authorization": "Bearer key-b"}
    try:
        r = s.client.post("/v1/text", files=uploads(made, {"file": ["pdf"]}), headers={**a, "prefer": "respond-async"})
        first = f"/v1/jobs/{r.json()['id']}"
        assert finished(s.client, r.json()["id"], headers=a)["status"] == "done"
        for method, path in [("GET", first), ("GET", first + "/result"), ("DELETE", first)]:
            assert s.client.request(method, path, headers=b).status_code == 404, (method, path)
        assert s.client.get(first + "/result", headers=a).status_code == 200
        # Made-up paths, with and without a key, and a line break in a job id.
        for path in ["/scan-1", "/scan-2/deeper", "/v1/jobs/x%0A2020-01-01 00:00:00,000 INFO forged"]:
            assert s.client.get(path).status_code == 401
            assert s.client.get(path, headers=a).status_code == 404
        metrics = s.client.get("/metrics", headers=a).text
        assert "scan-" not in metrics and "forged" not in metrics
        assert not any(line.startswith("2020-01-01") for line in (s.state / "serve.log").read_text().splitlines())
        ready = s.client.get("/ready")
        public = ready.json().get("details") or json.loads(ready.json()["detail"])
        assert "office" not in public and "office" in s.client.get("/ready", headers=a).text
        # Past the disk cap the oldest finished job goes, once a newer one is kept.
        r = s.client.post("/v1/text", files=uploads(made, {"file": ["pdf"]}), headers={**a, "prefer": "respond-async"})
        assert finished(s.client, r.json()["id"], headers=a)["status"] == "done"
        for _ in range(300):
            if s.client.get(first, headers=a).status_code == 404:
                break
            time.sleep(0.05)
        assert s.client.get(first, headers=a).status_code == 404
    finally:
        s.stop()


IDEMPOTENT = [  # (route, upload, another webhook?, answer)
    ("/v1/text", "pdf", False, 202),
    ("/v1/text", "form", False, 422),
    ("/v1/fields/list", "pdf", False, 422),
    ("/v1/text", "pdf", True, 422),
]


@pytest.mark.parametrize("route,upload,hooked,status", IDEMPOTENT)
def test_an_idempotency_key_answers_its_own_request_only(service, made, route, upload, hooked, status):
    key = f"key-{route}-{upload}-{hooked}"

    def send(route, upload, hooked):
        hook = {"x-webhook-url": f"http://127.0.0.1:{service.port}/nowhere"} if hooked else {}
        return service.client.post(route, files=uploads(made, {"file": [upload]}),
                                   headers={"idempotency-key": key, "prefer": "respond-async", **hook})
    first, second = send("/v1/text", "pdf", False), send(route, upload, hooked)
    assert first.status_code == 202 and second.status_code == status, second.text
    if status == 202:
        assert second.json()["id"] == first.json()["id"]
    else:
        assert second.json()["type"].endswith("idempotency-key-reused")


def test_state_is_the_service_users_only(service, made):
    assert service.client.post("/v1/text", files=uploads(made, {"file": ["pdf"]})).status_code == 200
    loose = []
    for base, dirs, files in os.walk(service.state):
        for name in dirs + files:
            path = os.path.join(base, name)
            if name != "serve.log" and stat.S_IMODE(os.lstat(path).st_mode) & 0o077:
                loose.append(path)
    assert stat.S_IMODE(os.stat(service.state).st_mode) == 0o700 and loose == []


def ghostscripts(state):
    """The Ghostscript processes working on files of this service's state."""
    found = []
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            argv = open(f"/proc/{pid}/cmdline", "rb").read().split(b"\0")
        except OSError:
            continue
        if argv and os.path.basename(argv[0]) in (b"gs", b"ghostscript") and str(state).encode() in b" ".join(argv):
            found.append(pid)
    return found


def test_no_more_jobs_run_than_workers_and_late_work_stops(tmp_path):
    gate = tmp_path / "gate"
    gate.mkdir()
    s = Service(tmp_path / "s", "--workers", "1", "--call-timeout", "1", "--test-gate-dir", str(gate))
    later = {"prefer": "respond-async"}

    def workers():
        r = s.client.get("/ready")
        return (r.json().get("details") or json.loads(r.json()["detail"]))["workers"]
    try:
        # Work that stops when told: its worker is free again after the time-out.
        stopped = s.client.post("/v1/test/gate", data={"stubborn": "false"}, headers=later).json()["id"]
        assert finished(s.client, stopped)["error"]["type"].endswith("timeout")
        assert finished(s.client, stopped)["status"] == "failed"
        # Work that cannot be stopped keeps its worker: the next job waits.
        stuck = s.client.post("/v1/test/gate", data={"stubborn": "true"}, headers=later).json()["id"]
        assert finished(s.client, stuck)["error"]["type"].endswith("timeout")
        waiting = s.client.post("/v1/test/gate", data={"stubborn": "no"}, headers=later).json()["id"]
        assert workers() == 0 and s.client.get(f"/v1/jobs/{waiting}").json()["status"] == "queued"
        (gate / "open").touch()
        assert finished(s.client, waiting)["status"] == "done" and workers() == 1
        assert finished(s.client, stuck)["status"] == "failed"
        # PostScript that never ends: Ghostscript is stopped at the time-out.
        looped = s.client.post("/v1/convert", files=[("file", ("loop.ps", b"%!PS\n{} loop\n"))])
        assert looped.status_code == 504, looped.text
        for _ in range(100):
            if not ghostscripts(s.state):
                break
            time.sleep(0.1)
        assert ghostscripts(s.state) == []
    finally:
        s.stop()
