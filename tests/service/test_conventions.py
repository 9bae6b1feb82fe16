# The habits of the common conversion-service convention on the /forms
# routes: trace, download name, webhooks, downloadFrom, health, metrics and
# Basic credentials, and the office route's own fields read back with pdfinfo.
import base64
import functools
import http.server
import json
import re
import time

import pytest

from conftest import Service
from test_service import serving, uploads

MERGE = "/forms/pdfengines/merge"


def disposition_name(r):
    return re.search(r"filename\*?=(?:utf-8'')?\"?([^\";]*)", r.headers["content-disposition"]).group(1)


HEADERS = [
    # (request headers, check of the answer)
    ({"Gotenberg-Trace": "trace-of-mine"}, lambda r: r.headers["gotenberg-trace"] == "trace-of-mine"),
    ({}, lambda r: re.fullmatch(r"[0-9a-f]{32}", r.headers["gotenberg-trace"])),
    ({"Gotenberg-Output-Filename": "quarterly"}, lambda r: disposition_name(r) == "quarterly.pdf"),
    ({"Gotenberg-Output-Filename": "..\\../etc/pass\"wd"}, lambda r: disposition_name(r) == "passwd.pdf"),
]


@pytest.mark.parametrize("headers,check", HEADERS)
def test_trace_and_download_name(service, made, headers, check):
    r = service.client.post(MERGE, files=uploads(made, {"files": ["pdf", "form"]}), headers=headers)
    assert r.status_code == 200 and r.content.startswith(b"%PDF-"), r.text
    assert check(r), r.headers


class Sink(http.server.BaseHTTPRequestHandler):
    """A webhook receiver: keeps each call's method, path, headers and body."""
    got = []

    def keep(self):
        Sink.got.append((self.command, self.path, dict(self.headers),
                         self.rfile.read(int(self.headers.get("content-length", 0)))))
        self.send_response(200)
        self.end_headers()

    do_POST = do_PUT = do_PATCH = keep

    def log_message(self, *args):
        pass


HOOKS = [
    # (uploaded documents, expected call: method, path, check of (headers, body))
    (["pdf", "form"], "PUT", "/done",
     lambda h, b: b.startswith(b"%PDF-") and "hooked.pdf" in h["Content-Disposition"]),
    (["txt"], "PATCH", "/failed", lambda h, b: json.loads(b)["status"] == 400 and json.loads(b)["message"]),
]


@pytest.mark.parametrize("files,method,path,check", HOOKS)
def test_webhook_gets_the_result_or_the_failure(service, made, files, method, path, check):
    Sink.got = []
    with serving(Sink) as port:
        r = service.client.post(MERGE, files=uploads(made, {"files": files}), headers={
            "Gotenberg-Webhook-Url": f"http://127.0.0.1:{port}/done", "Gotenberg-Webhook-Method": "PUT",
            "Gotenberg-Webhook-Error-Url": f"http://127.0.0.1:{port}/failed", "Gotenberg-Webhook-Error-Method": "PATCH",
            "Gotenberg-Webhook-Extra-Http-Headers": '{"X-Sink-Token": "t-1"}', "Gotenberg-Trace": "hook-trace",
            "Gotenberg-Output-Filename": "hooked"})
        assert r.status_code == 204, r.text
        for _ in range(600):
            if Sink.got:
                break
            time.sleep(0.05)
    (got_method, got_path, headers, body), = Sink.got
    assert (got_method, got_path) == (method, path)
    assert headers["Gotenberg-Trace"] == "hook-trace" and headers["X-Sink-Token"] == "t-1"
    assert check(headers, body), (headers, body[:200])


REFUSED = [
    ({"Gotenberg-Webhook-Url": "http://elsewhere.invalid/", "Gotenberg-Webhook-Error-Url": "http://elsewhere.invalid/"},
     {}, 403),
    ({"Gotenberg-Webhook-Url": "http://127.0.0.1:9/"}, {}, 400),
    ({}, {"downloadFrom": '[{"url": "http://elsewhere.invalid/a.pdf"}]'}, 403),
    ({}, {"downloadFrom": '{"url": 1}'}, 400),
]


@pytest.mark.parametrize("headers,fields,status", REFUSED)
def test_refused_addresses_and_malformed_headers(service, made, headers, fields, status):
    r = service.client.post(MERGE, files=uploads(made, {"files": ["pdf"]}), data=fields, headers=headers)
    assert r.status_code == status, r.text


def test_download_from_an_allowed_address(service, made):
    files = functools.partial(http.server.SimpleHTTPRequestHandler, directory=str(made["pdf"].parent))
    with serving(files) as port:
        listed = [{"url": f"http://127.0.0.1:{port}/{n}", "extraHttpHeaders": {"X-Any": "1"}}
                  for n in ("two.pdf", "form.pdf")]
        r = service.client.post(MERGE, data={"downloadFrom": json.dumps(listed)})
    assert r.status_code == 200 and r.content.startswith(b"%PDF-"), r.text


def test_health_metrics_and_basic_credentials(tmp_path, made):
    keys = tmp_path / "keys"
    keys.write_text("secret-key-1\n")
    s = Service(tmp_path / "keyed", "--api-keys-file", str(keys), "--fetch-allow", "127.0.0.1")
    try:
        health = s.client.get("/health").json()
        assert health["status"] == "up" and health["details"]["libreoffice"]["status"] == "up"
        assert health["details"]["libreoffice"]["timestamp"] and "engine" in health["details"]
        assert s.client.head("/health").status_code == 200

        def basic(password):
            return {"authorization": "Basic " + base64.b64encode(b"any-user:" + password).decode()}
        wrong = s.client.get("/prometheus/metrics", headers=basic(b"wrong"))
        assert wrong.status_code == 401 and "Basic" in ",".join(wrong.headers.get_list("www-authenticate"))
        metrics = s.client.get("/prometheus/metrics", headers=basic(b"secret-key-1"))
        assert metrics.status_code == 200 and "pressmark_requests_total" in metrics.text
        # The URL policy refuses loopback unless the service allows it.
        with serving(http.server.SimpleHTTPRequestHandler) as port:
            r = s.client.post(MERGE, headers=basic(b"secret-key-1"),
                              data={"downloadFrom": json.dumps([{"url": f"http://127.0.0.1:{port}/x.pdf"}])})
        assert r.status_code == 403, r.text
    finally:
        s.stop()
