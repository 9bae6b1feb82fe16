# The habits of the common conversion-service convention on the /forms
# routes: trace, download name, webhooks, downloadFrom, health, metrics and
# Basic credentials, and the office route's own fields read back with pdfinfo.
import base64
import functools
import io
import http.server
import json
import re
import time

import pressmark
import pytest

from conftest import Service, pdf_pages, read_back
from test_service import qdf, serving, uploads

MERGE = "/forms/pdfengines/merge"


def disposition_name(r):
    return re.search(r"filename\*?=(?:utf-8'')?\"?([^\";]*)", r.headers["content-disposition"]).group(1)


NOWHERE = "http://elsewhere.invalid/"
HEADERS = [
    # (request headers, form fields, status, check of the answer)
    ({"Gotenberg-Trace": "trace-of-mine"}, {}, 200, lambda r: r.headers["gotenberg-trace"] == "trace-of-mine"),
    ({}, {}, 200, lambda r: re.fullmatch(r"[0-9a-f]{32}", r.headers["gotenberg-trace"])),
    ({"Gotenberg-Output-Filename": "quarterly"}, {}, 200, lambda r: disposition_name(r) == "quarterly.pdf"),
    ({"Gotenberg-Output-Filename": "..\\../etc/pass\"wd"}, {}, 200, lambda r: disposition_name(r) == "passwd.pdf"),
    ({"Gotenberg-Webhook-Url": NOWHERE, "Gotenberg-Webhook-Error-Url": NOWHERE}, {}, 403, None),
    ({"Gotenberg-Webhook-Url": "http://127.0.0.1:9/"}, {}, 400, None),
    ({}, {"downloadFrom": f'[{{"url": "{NOWHERE}a.pdf"}}]'}, 403, None),
]


@pytest.mark.parametrize("headers,fields,status,check", HEADERS)
def test_headers_and_refused_addresses(service, made, headers, fields, status, check):
    r = service.client.post(MERGE, files=uploads(made, {"files": ["pdf", "form"]}), data=fields, headers=headers)
    assert r.status_code == status and r.headers["gotenberg-trace"], r.text
    assert check is None or check(r), r.headers


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
    (["txt"], "PATCH", "/failed", lambda h, b: json.loads(b)["status"] == 400),
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


def test_download_from_an_allowed_address(service, made, tmp_path):
    with serving(functools.partial(http.server.SimpleHTTPRequestHandler, directory=str(made["pdf"].parent))) as port:
        listed = [{"url": f"http://127.0.0.1:{port}/{n}.pdf", "extraHttpHeaders": {"X": "1"}} for n in ("two", "form")]
        r = service.client.post(MERGE, data={"downloadFrom": json.dumps(listed)})
    assert r.status_code == 200 and pdf_pages(r.content, tmp_path) == 4, r.text


def test_health_metrics_and_basic_credentials(tmp_path, made):
    keys = tmp_path / "keys"
    keys.write_text("secret-key-1\n")
    s = Service(tmp_path / "keyed", "--api-keys-file", str(keys), "--fetch-allow", "127.0.0.1")
    try:
        health = s.client.get("/health").json()
        assert health["status"] == health["details"]["libreoffice"]["status"] == health["details"]["engine"]["status"]
        assert s.client.head("/health").status_code == 200
        ok, bad = ({"authorization": "Basic " + base64.b64encode(b"u:" + k).decode()} for k in (b"secret-key-1", b"-"))
        refused = s.client.get("/prometheus/metrics", headers=bad)
        assert refused.status_code == 401 and "Basic" in ",".join(refused.headers.get_list("www-authenticate"))
        metrics = s.client.get("/prometheus/metrics", headers=ok)
        assert metrics.status_code == 200 and "pressmark_requests_total" in metrics.text
        # The URL policy refuses loopback unless the service allows it.
        with serving(http.server.SimpleHTTPRequestHandler) as port:
            r = s.client.post(MERGE, headers=ok, data={"downloadFrom": f'[{{"url": "http://127.0.0.1:{port}/x.pdf"}}]'})
        assert r.status_code == 403, r.text
    finally:
        s.stop()


@pytest.fixture(scope="module")
def office_docs(tmp_path_factory):
    """Five pages, a page with a 300 ppi picture, and the five pages in a file the office locked with a
    password, made here (the last by the office)."""
    from PIL import Image
    d = tmp_path_factory.mktemp("office")
    five = r"{\rtf1\ansi{\fonttbl{\f0 Helvetica;}}\f0\fs24 " + r"\page ".join(f"Sheet {i}" for i in range(1, 6)) + "}"
    (d / "five.rtf").write_text(five)
    png = io.BytesIO()
    Image.effect_noise((600, 600), 80).convert("RGB").save(png, "PNG")
    (d / "picture.rtf").write_text(r"{\rtf1\ansi Picture page\par{\pict\pngblip\picw600\pich600\picwgoal2880"
                                   r"\pichgoal2880 " + png.getvalue().hex() + "}}")
    word = pressmark.Dispatch("Word.Application")
    doc = word.Documents.Open(str(d / "five.rtf"))
    doc.SaveAs(FileName=str(d / "locked.odt"), Password="open-sesame")
    doc.Close(False)
    word.Quit()
    return d


def images(t, d):
    """pdfimages -list's rows: (encoding, x-ppi)."""
    return [(r.split()[8], int(r.split()[12])) for r in read_back(d, t, "pdfimages", "-list").splitlines()[2:]]


OFFICE = [
    # (document, fields, status, check of (tmp_path, body))
    ("five.rtf", {"nativePageRanges": "1-2,4"}, 200,
     lambda t, d: read_back(d, t, "pdftotext").split() == ["Sheet", "1", "Sheet", "2", "Sheet", "4"]),
    ("five.rtf", {"nativePageRanges": "4-"}, 200, lambda t, d: "Pages:           2" in read_back(d, t, "pdfinfo")),
    ("five.rtf", {"nativePageRanges": "1-x"}, 400, None),
    ("five.rtf", {"nativePageRanges": "1-" + "9" * 5000}, 400, None),
    ("five.rtf", {"landscape": "true"}, 200,
     lambda t, d: float(re.search(r"size: +([\d.]+)", read_back(d, t, "pdfinfo")).group(1)) > 700),
    ("locked.odt", {"password": "open-sesame"}, 200, lambda t, d: "Sheet 5" in read_back(d, t, "pdftotext")),
    ("locked.odt", {"password": "wrong"}, 422, None),
    ("picture.rtf", {"losslessImageCompression": "true"}, 200, lambda t, d: images(t, d)[0][0] == "image"),
    ("picture.rtf", {"quality": "30", "reduceImageResolution": "true", "maxImageResolution": "75"}, 200,
     lambda t, d: images(t, d)[0][0] == "jpeg" and images(t, d)[0][1] <= 80),
    ("five.rtf", {"nativeWatermarkText": "CONFIDENTIAL", "nativeWatermarkFontHeight": "48"}, 200,
     lambda t, d: read_back(d, t, "pdftotext").count("CONFIDENTIAL") == 5),
    ("five.rtf", {"initialView": "1", "exportFormFields": "false", "pageLayout": "2", "magnification": "2"}, 200,
     lambda t, d: all(k in qdf(d, t) for k in ("/PageMode /UseOutlines", "/PageLayout /OneColumn", "/FitH"))),
    ("five.rtf", {"singlePageSheets": "false", "displayPDFDocumentTitle": "true"}, 200, None),
    ("five.rtf", {"singlePageSheets": "true"}, 400, None),
]


@pytest.mark.parametrize("name,fields,status,check", OFFICE)
def test_office_fields(service, office_docs, tmp_path, name, fields, status, check):
    r = service.client.post("/forms/libreoffice/convert", files=[("files", (name, (office_docs / name).read_bytes()))],
                            data=fields)
    assert r.status_code == status, r.text
    if status == 400:
        assert next(iter(fields)) in r.json()["detail"]
    if check:
        assert check(tmp_path, r.content)
