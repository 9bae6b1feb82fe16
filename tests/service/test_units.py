# The service's pieces without a service or an engine: the Content-Type
# scanner, the URL check and its pinned connection, settings, form values,
# webhook signatures, the path marks, and the farm's pick-up step.
import base64
import hashlib
import hmac
import http.server
import inspect
import socket
import threading

import pytest
from celery.worker import loops
from kombu.asynchronous import Hub

import pressmark
from pressmark.service import config, fetch, webhooks
from pressmark.service.engines import base, pickup
from pressmark.service.formdata import MultipartParser
from pressmark.service.guard import content_type_ok, printable
from pressmark.service.operations import OPS, Op, Output
from pressmark.service.operations.base import convert_value, member_args
from pressmark.service.problems import BadRequest

from conftest import ROOT

CONTENT_TYPES = [
    ("multipart/form-data; boundary=abc", True),
    ('multipart/form-data; boundary="a b"; charset=utf-8', True),
    ("application/x-www-form-urlencoded", True),
    ("multipart/form-data", False),                      # no boundary
    ("multipart/form-data; boundary=a; boundary=b", False),
    ("text", False),
    ("a/b; x", False),
    ('a/b; x="unterminated', False),
    ("a/b; x=" + "\\" * 5000, False),
    ("a/b; x=\x01", False),
    ("a/b; " + "x=1; " * 300, False),                     # longer than any real header
]


@pytest.mark.parametrize("value,ok", CONTENT_TYPES, ids=range(len(CONTENT_TYPES)))
def test_content_type_scanner(value, ok):
    assert content_type_ok(value) is ok


def settings(**kw):
    return config.Settings(state_dir="/nonexistent", **kw)


REFUSED = [  # (url, fetch_allow)
    ("ftp://example.com/x", "*"),
    ("http://example.com/x", "other.example"),
    ("http://:80/x", "*"),
    ("http://198.51.100.7/x", "*"),                       # documentation range
    ("http://169.254.169.254/latest", "*"),
    ("http://10.1.2.3/", "*"),
    ("http://[fe80::1]/", "*"),
    ("http://224.0.0.1/", "*"),
    ("http://0.0.0.0/", "*"),
    ("http://[::]/", "*"),
    ("http://[2002:7f00:1::]/", "*"),                     # 6to4 around 127.0.0.1
    ("http://100.64.0.1/", "*"),
    *[(f"http://{host}:8080/x", "*") for host in
      ["127.0.0.1", "2130706433", "0x7f.1", "127.1", "0177.0.0.1", "localhost", "localhost.", "[::1]",
       "[::ffff:127.0.0.1]", "[::ffff:7f00:1]", "[64:ff9b::7f00:1]", "[::127.0.0.1]"]],
]


@pytest.mark.parametrize("url,allow", REFUSED)
def test_url_check_refuses(url, allow):
    with pytest.raises(BadRequest) as e:
        fetch.check_url(url, settings(fetch_allow=allow))
    assert e.value.type == "url-not-allowed"


@pytest.mark.parametrize("url,address", [("http://8.8.8.8/a?b=1", "8.8.8.8"),
                                         ("https://[2001:4860:4860::8888]:8443/", "2001:4860:4860::8888")])
def test_url_check_allows_public_addresses(url, address):
    t = fetch.check_url(url, settings(fetch_allow="*"))
    assert t.address == address and t.path in ("/a?b=1", "/")


class Echo(http.server.BaseHTTPRequestHandler):
    def do_GET(self):
        target = self.headers["x-redirect"] if self.path == "/jump" else None
        self.send_response(302 if target else 200)
        if target:
            self.send_header("Location", target)
        self.send_header("Content-Length", str(len(self.headers["host"])))
        self.end_headers()
        self.wfile.write(self.headers["host"].encode())

    def log_message(self, *args):
        pass


@pytest.fixture
def echo(monkeypatch):
    """A loopback server, and a resolver that answers pinned.example with it
    once and with another address after that, as a rebinding name would."""
    server = http.server.HTTPServer(("127.0.0.1", 0), Echo)
    threading.Thread(target=server.serve_forever, args=(0.01,), daemon=True).start()
    real = socket.getaddrinfo
    answers = []

    def resolve(host, port, *args, **kwargs):
        if host != "pinned.example":
            return real(host, port, *args, **kwargs)
        answers.append(host)
        ip = "127.0.0.1" if len(answers) == 1 else "192.0.2.1"
        return [(socket.AF_INET, socket.SOCK_STREAM, socket.IPPROTO_TCP, "", (ip, port))]
    monkeypatch.setattr(socket, "getaddrinfo", resolve)
    yield server.server_port, answers
    server.shutdown()


def test_connection_goes_to_the_checked_address_with_the_name_kept(echo):
    port, answers = echo
    s = settings(fetch_allow="pinned.example", allow_private=True)
    with fetch.request("GET", f"http://pinned.example:{port}/x", s, timeout=5) as r:
        assert r.status == 200 and r.read(100) == f"pinned.example:{port}".encode()
    assert answers == ["pinned.example"], "resolved once"


def test_each_redirect_is_checked(echo):
    port, _ = echo
    s = settings(fetch_allow="pinned.example", allow_private=True)
    with pytest.raises(BadRequest):
        fetch.request("GET", f"http://pinned.example:{port}/jump", s, headers={"x-redirect": "http://127.0.0.1/"},
                      follow=True)


def test_settings_come_from_flags_then_environment_then_defaults(monkeypatch):
    monkeypatch.setenv("PRESSMARK_PORT", "9100")
    monkeypatch.setenv("PRESSMARK_QUEUE_SIZE", "3")
    monkeypatch.setenv("PRESSMARK_ALLOW_PRIVATE", "yes")
    s = config.parse(["--port", "9200", "--wait-budget", "2.5"])
    assert (s.port, s.queue_size, s.allow_private, s.wait_budget, s.workers) == (9200, 3, True, 2.5, 0)
    assert s.state_dir.endswith("pressmark/service")
    monkeypatch.setenv("PRESSMARK_WORKERS", "many")
    with pytest.raises(SystemExit, match="PRESSMARK_WORKERS"):
        config.parse([])
    with pytest.raises(SystemExit):
        config.parse(["--webhook-secret", "whsec_not base64!"])


def test_every_setting_has_a_flag_and_the_operations_guide_its_row():
    flags = {a.dest for a in config.parser()._actions} - {"help"}
    assert flags == set(config.Settings.__fields__)
    guide = (ROOT / "docs" / "operations.md").read_text()
    assert config.with_settings_table(guide) == guide, "run scripts/readme-settings.py"


VALUES = [("blnLandscape", "true", True), ("blnLandscape", "OFF", False), ("blnX", "", False), ("lngPage", "12", 12),
          ("intZoom", "-3", -3), ("sngScale", "1.5", 1.5), ("varTitles", '["a", 2]', ["a", 2]),
          ("strText", "as is ", "as is ")]


@pytest.mark.parametrize("name,text,value", VALUES)
def test_form_values_convert_by_prefix(name, text, value):
    assert convert_value(name, text) == value


@pytest.mark.parametrize("name,text", [("blnLandscape", "maybe"), ("lngPage", "1.5"), ("sngScale", "x"),
                                       ("varTitles", "[unclosed"), ("varTitles", "[" * 100000)])
def test_form_values_of_the_wrong_type_are_refused(name, text):
    with pytest.raises(BadRequest) as e:
        convert_value(name, text)
    assert e.value.type == "invalid-argument"


class Marked:
    """An object whose member the table describes as a real one would be."""
    Convert = pressmark._types._member_function(
        "Convert", 1, [("strTarget", "String", True, False, False, None, True),
                       ("blnFast", "Boolean", False, True, True, False, False)], "", lambda *a: None)


def test_marked_parameters_are_refused_from_forms():
    assert member_args(Marked(), "Convert", {"blnfast": "1"}) == {"blnFast": True}
    with pytest.raises(BadRequest) as e:
        member_args(Marked(), "Convert", {"STRTARGET": "/etc/passwd"})
    assert e.value.type == "path-not-allowed"


def test_members_the_routes_call_mark_their_file_parameters():
    tables = {cls: {m[0]: m[2] for m in members} for cls, members, _ in pressmark._pressmark._tables()}
    marked = {(cls, m, p[0]) for cls, ms in tables.items() for m, ps in ms.items() for p in ps if p[6]}
    for member, param in [("CreatePDFfromWord", "strPDFFile"), ("CreatePDFfromExcel", "strExcelWorkbook"),
                          ("CreateThumbnailImages", "strDir"), ("BookmarksToArray", "strPDFFile"),
                          ("CreateTextfileFromPDF", "strTextFile"), ("CreatePDFfromMultiPDF", "varPDFFiles"),
                          ("CopyFile", "strTarget")]:
        assert ("CreatePDF", member, param) in marked, (member, param)


def test_webhook_signature_is_the_standard_one():
    key = b"0123456789abcdef"
    secret = "whsec_" + base64.b64encode(key).decode()
    assert webhooks.signing_key(secret) == key
    signed = webhooks.signature(key, "msg_1", 1700000000, b'{"a":1}')
    mac = hmac.new(key, b'msg_1.1700000000.{"a":1}', hashlib.sha256).digest()
    assert signed == "v1," + base64.b64encode(mac).decode()
    h = webhooks.headers(settings(webhook_secret=secret), "msg_1", b"{}", "req")
    assert h["webhook-id"] == "msg_1" and h["webhook-timestamp"].isdigit() and h["webhook-signature"].startswith("v1,")


@pytest.mark.parametrize("attempts,low,high", [(1, 0.5, 1), (2, 1, 2), (4, 4, 8), (30, 150, 300)])
def test_webhook_backoff_doubles_with_jitter(attempts, low, high):
    delays = {webhooks.backoff(attempts) for _ in range(50)}
    assert all(low <= d <= high for d in delays) and len(delays) > 1


def test_pickup_step_still_fits_celery():
    """The farm's pick-up step wraps the hub's timer call so the transport's
    per-turn callbacks run again before the loop sleeps. It relies on the
    worker's loop being the hub's, which runs the on_tick callbacks at the
    start of a turn and calls hub.fire_timers (as found when the loop is
    made) when timers are due: this fails when Celery or kombu change that."""
    assert "hub.create_loop()" in inspect.getsource(loops.asynloop)
    hub = Hub()
    ticks = []
    hub.on_tick.add(lambda: ticks.append(1))

    class Worker:
        pass
    worker = Worker()
    worker.hub = hub
    pickup.PromptPickup(worker).create(worker)
    hub.call_later(0, lambda: None)
    next(hub.create_loop())
    assert ticks == [1, 1], "once at the start of the turn and once after the timers"
    hub.close()


class Parts:
    def __init__(self):
        self.got = []

    def begin(self, name, filename):
        self.got.append([name, filename, b""])

    def data(self, chunk):
        self.got[-1][2] += chunk

    def end(self):
        self.got[-1].append("end")


def part(name, data, filename=None, extra=""):
    disposition = f'form-data; name="{name}"' + (f'; filename="{filename}"' if filename is not None else "")
    return f"--b\r\nContent-Disposition: {disposition}\r\n{extra}\r\n".encode() + data + b"\r\n"


GOOD = part("to", b"pdf") + part("file", b"%PDF-\r\n--bx--", "a;b.pdf", "Content-Type: application/pdf\r\n") + b"--b--"
PARTS = [["to", None, b"pdf", "end"], ["file", "a;b.pdf", b"%PDF-\r\n--bx--", "end"]]
MULTIPART = [  # (body, piece size, the parts or the refusal's words)
    (GOOD, 1 << 20, PARTS),
    (GOOD, 1, PARTS),
    (b"preamble\r\n" + GOOD + b"\r\n" + b"\xff" * (1 << 20), 4096, PARTS),
    (part("to", b"pdf"), 7, "before its closing boundary"),
    (b"--b\r\nX-Other: 1\r\n\r\nx\r\n--b--", 64, "no Content-Disposition"),
    (b"--b\r\nContent-Disposition: attachment\r\n\r\nx\r\n--b--", 64, "form-data with a name"),
    (b"--b\r\nContent-Disposition: form-data; name=x\r\nX: " + b"y" * 20000 + b"\r\n\r\n", 999, "headers are longer"),
    (part("x", b"1") * 1001 + b"--b--", 65536, "more than 1000 parts"),
    (b"x" * 100000, 1000, "no multipart boundary"),
    (b"--b \r\n" + part("x", b"1")[5:] + b"--b--", 3, [["x", None, b"1", "end"]]),
]


@pytest.mark.parametrize("body,piece,expected", MULTIPART, ids=range(len(MULTIPART)))
def test_multipart_reader_stops_at_the_closing_boundary(body, piece, expected):
    parts = Parts()
    parser = MultipartParser("b", parts)
    try:
        for at in range(0, len(body), piece):
            parser.feed(body[at:at + piece])
            # Nothing after the closing boundary is kept, nor anything but a delimiter's length of a part.
            assert len(parser._buf) < 20000
        parser.close()
    except BadRequest as e:
        assert isinstance(expected, str) and expected in e.detail and e.type == "malformed-form"
        return
    assert parts.got == expected and parser.done


def test_a_request_cannot_write_a_log_line_of_its_own():
    assert printable("/v1/jobs/x\n2026-01-01 INFO forged\r\\") == "/v1/jobs/x\\n2026-01-01 INFO forged\\r\\\\"


@pytest.mark.parametrize("files,made", [(["missing.pdf"], []), (["empty.pdf"], ["empty.pdf"]), ([], [])])
def test_a_job_without_its_output_fails(tmp_path, monkeypatch, files, made):
    def run(ctx):
        for f in made:
            open(ctx.output(f), "wb").close()
        return Output(files=[ctx.output(f) for f in files])
    monkeypatch.setitem(OPS, "test/nothing", Op("test/nothing", run, (), ()))
    output, error = base.execute(None, str(tmp_path), "test/nothing", {}, {}, lambda p: None)
    assert output is None and error["type"] == "no-output" and error["status"] == 422
