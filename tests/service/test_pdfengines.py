# The PDF engine routes and fields, read back with pdfinfo, pdftotext, qpdf
# and pdfdetach; PDF/A results with the service's own preflight.
import io
import json
import subprocess
import zipfile

import pikepdf
import pytest

from conftest import pdf_pages, pdf_text, read_back
from pressmark.service.operations import pdfa
from pressmark.service.operations.pdfengine import intervals, page_ranges
from pressmark.service.problems import BadRequest


def send(made, keys, field="files"):
    """The documents by key; a key "field:key" sends its document as that form field."""
    return [(k.partition(":")[0] if ":" in k else field, (made[k.rpartition(":")[2]].name,
                                                          made[k.rpartition(":")[2]].read_bytes())) for k in keys]


def info(data, tmp_path, *extra):
    return read_back(data, tmp_path, "pdfinfo", *extra, check=False)


def zipped(r):
    with zipfile.ZipFile(io.BytesIO(r.content)) as z:
        return {n: z.read(n) for n in z.namelist()}


def preflight(data, tmp_path, part):
    (tmp_path / "a.pdf").write_bytes(data)
    return pdfa.preflight(str(tmp_path / "a.pdf"), part)


@pytest.fixture(scope="module")
def docs(made, tmp_path_factory):
    """The shared documents, and one whose second page stands at 180 degrees."""
    path = tmp_path_factory.mktemp("rotated") / "rotated.pdf"
    with pikepdf.open(made["pdf"]) as pdf:
        pdf.pages[1].Rotate = 180
        pdf.save(path)
    return {**made, "rotated": path}


TWO = "Chapter One Chapter Two"
ROUTES = [
    ("split", ["pdf"], {"splitMode": "intervals", "splitSpan": "1"},
     lambda r, t: sorted(zipped(r)) == ["two_1.pdf", "two_2.pdf"]),
    ("split", ["pdf"], {"splitMode": "pages", "splitSpan": "2-", "splitUnify": "true"},
     lambda r, t: pdf_text(r.content, t).strip() == "Chapter Two"),
    ("rotate", ["rotated"], {"rotateAngle": "-90", "rotatePages": "2"},
     lambda r, t: [ln.split()[-1] for ln in info(r.content, t, "-f", "1", "-l", "2").splitlines()
                   if " rot:" in ln] == ["0", "90"]),  # page 2 stood at 180
    ("flatten", ["form"], {},
     lambda r, t: json.loads(read_back(r.content, t, "qpdf", "--json", "--json-key=acroform"))["acroform"]["fields"]
     == [] and "No syntax or stream encoding errors" in read_back(r.content, t, "qpdf", "--check")),
    ("metadata/write", ["pdf"], {"metadata": json.dumps({
        "Title": "Quarterly", "Author": "Ann", "Keywords": ["a", "b"], "Creator": "Clerk",
        "CreationDate": "2006-09-18T16:27:50-04:00", "ModDate": "2007-01-02T03:04:05Z"})},
     lambda r, t: all(s in info(r.content, t, "-isodates") for s in (
         "Quarterly", "Ann", "a, b", "Clerk", "2006-09-18T16:27:50-04", "2007-01-02T03:04:05Z"))),
    ("encrypt", ["pdf"], {"userPassword": "open", "ownerPassword": "owner", "permissions": '{"print": false}'},
     lambda r, t: "Incorrect password" in subprocess.run(["pdfinfo", "-"], input=r.content,
                                                         capture_output=True).stderr.decode()
     and "Encrypted:       yes (print:no copy:yes change:yes addNotes:yes algorithm:AES-256)"
     in info(r.content, t, "-upw", "open")),
    ("embed", ["form"], {"ownerPassword": "owner"},
     lambda r, t: read_back(r.content, t, "pdfdetach", "-list").splitlines()[1:] == ["1: dot.png"]
     and "Form:            AcroForm" in info(r.content, t) and "print:yes" in info(r.content, t)),
    ("watermark", ["pdf"], {"watermarkSource": "text", "watermarkExpression": "DRAFT COPY", "watermarkPages": "2",
                            "watermarkOptions": '{"points": 30, "color": "#808080"}'},
     lambda r, t: pdf_text(r.content, t).count("DRAFT COPY") == 1),
    ("stamp", ["pdf", "marked"], {"stampSource": "pdf", "stampExpression": "marked.pdf"},
     lambda r, t: pdf_text(r.content, t).count("Chapter One") == 2),
    ("stamp", ["pdf", "png"], {"stampSource": "image", "stampExpression": "dot.png", "stampPages": "1"},
     lambda r, t: [ln.split()[:2] for ln in read_back(r.content, t, "pdfimages", "-list").splitlines()[2:]]
     == [["1", "0"]]),
    ("convert", ["pdf"], {"pdfa": "PDF/A-1b"},
     lambda r, t: preflight(r.content, t, 1) == [] and " ".join(pdf_text(r.content, t).split()) == TWO),
    ("merge", ["pdf", "form"], {"pdfa": "PDF/A-3b", "splitMode": "intervals", "splitSpan": "3"},
     lambda r, t: [preflight(p, t, 3) for p in zipped(r).values()] == [[], []]),
    ("metadata/read", ["pdf", "marked"], {},
     lambda r, t: sorted(r.json()) == ["marked.pdf", "two.pdf"] and r.json()["two.pdf"]["PageCount"] == 2),
    ("bookmarks/read", ["marked"], {},
     lambda r, t: r.json() == {"marked.pdf": [{"title": "Chapter Two", "page": 2, "children": []}]}),
    ("bookmarks/write", ["pdf"], {"bookmarks": json.dumps([{"title": "Start", "page": 1, "children": [
        {"title": "Later", "page": 2}]}])},
     lambda r, t: [(o["title"], [k["title"] for k in o["kids"]]) for o in json.loads(read_back(
         r.content, t, "qpdf", "--json", "--json-key=outlines"))["outlines"]] == [("Start", ["Later"])]),
    ("/forms/libreoffice/convert", ["rtf"], {"pdfa": "PDF/A-1b"},  # the office's own PDF/A, checked alike
     lambda r, t: preflight(r.content, t, 1) == [] and "LibreOffice" in info(r.content, t)),
    ("/forms/libreoffice/convert", ["rtf", "embeds:png"], {"pdfa": "PDF/A-3b", "metadata": '{"Title": "Letter"}'},
     lambda r, t: preflight(r.content, t, 3) == [] and "Letter" in info(r.content, t)
     and read_back(r.content, t, "pdfdetach", "-list").splitlines()[1:] == ["1: dot.png"]),
    ("convert", ["pdf"], {"pdfua": "true"}, None),
    ("split", ["pdf"], {"splitMode": "pages", "splitSpan": "3"}, None),
    ("encrypt", ["pdf"], {"userPassword": "x", "pdfa": "PDF/A-2b"}, None),
    ("metadata/write", ["pdf"], {"metadata": '{"Trapped": "True"}'}, None),
    ("watermark", ["pdf"], {"watermarkSource": "text", "watermarkExpression": "X",
                            "watermarkOptions": '{"points": "x"}'}, None),
]


@pytest.mark.parametrize("route,keys,fields,check", ROUTES)
def test_pdfengines_routes(service, docs, tmp_path, route, keys, fields, check):
    files = send(docs, keys) + (send(docs, ["png"], "embeds") if route == "embed" else [])
    r = service.client.post(route if route.startswith("/") else "/forms/pdfengines/" + route, files=files,
                            data=fields)
    if check is None:
        assert r.status_code == 400, r.text
        assert any(name in r.json()["detail"] for name in fields), r.json()
        return
    assert r.status_code == 200, r.text
    assert check(r, tmp_path)


def test_native_pdfa_and_split(service, made, tmp_path):
    r = service.client.post("/v1/pdfa", files=send(made, ["pdf"], "file"), data={"pdfa": "PDF/A-2b"})
    assert r.status_code == 200, r.text
    assert preflight(r.content, tmp_path, 2) == []
    r = service.client.post("/v1/split", files=send(made, ["pdf"], "file"),
                            data={"splitMode": "pages", "splitSpan": "1,2"})
    assert [pdf_pages(p, tmp_path) for p in zipped(r).values()] == [1, 1]


def test_pdfa_that_fails_its_preflight_is_a_problem(service, made):
    """Ghostscript keeps an embedded file, which PDF/A-1 does not allow: the answer says so, and gives no file."""
    r = service.client.post("/forms/pdfengines/embed", files=send(made, ["pdf"]) + send(made, ["png"], "embeds"))
    r = service.client.post("/forms/pdfengines/convert", files=[("files", ("with.pdf", r.content))],
                            data={"pdfa": "PDF/A-1b"})
    assert r.status_code == 422, r.text
    assert r.json()["type"].endswith("pdfa-preflight-failed") and "embedded files" in r.json()["detail"]


def test_unreadable_pdf_is_no_blank_pdfa(service):
    r = service.client.post("/forms/pdfengines/convert", files=[("files", ("bad.pdf", b"%PDF-1.4\ngarbage\n"))],
                            data={"pdfa": "PDF/A-2b"})
    assert r.status_code == 422 and r.json()["type"].endswith("pdfa-failed"), r.text


def test_preflight_refuses_a_plain_pdf_labelled_pdfa(made, tmp_path):
    """A PDF given PDF/A identification by hand, without what PDF/A needs."""
    with pikepdf.open(made["pdf"]) as pdf:
        with pdf.open_metadata(set_pikepdf_as_editor=False) as meta:
            meta["pdfaid:part"] = "2"
            meta["pdfaid:conformance"] = "B"
        pdf.attachments["notes.txt"] = pikepdf.AttachedFileSpec(pdf, b"not a PDF " * 1000)
        pdf.save(tmp_path / "labelled.pdf")
    faults = pdfa.preflight(str(tmp_path / "labelled.pdf"), 2)
    assert [f.split(" ")[0] for f in faults] == ["it", "it", "font(s)"], faults
    assert "output intent" in faults[0] and "embedded files" in faults[1] and "Helvetica" in faults[2]


@pytest.mark.parametrize("text,pages,expected", [
    ("", 4, [(1, 4)]), ("2", 4, [(2, 2)]), ("1-2, 4", 4, [(1, 2), (4, 4)]), ("3-", 4, [(3, 4)]),
    ("-2", 4, [(1, 2)]), ("5", 4, None), ("2-1", 4, None), ("a-b", 4, None), ("1-," * 9 + "2", 4, None)])
def test_page_ranges(text, pages, expected):
    if expected is None:
        with pytest.raises(BadRequest):
            page_ranges(text, pages)
    else:
        assert page_ranges(text, pages) == expected


@pytest.mark.parametrize("span,pages,expected", [
    (2, 5, [(1, 2), (3, 4), (5, 5)]), (3, 3, [(1, 3)]), (4, 2, [(1, 2)])])
def test_intervals(span, pages, expected):
    assert intervals(span, pages) == expected
