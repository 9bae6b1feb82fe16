# OCR on scans the tests make: known text rendered by Ghostscript at 200 dpi,
# made searchable through the command and the module, read back with
# pdftotext, pdfinfo, pdfimages and pdftoppm.
import os
import re
import shutil
import subprocess

import pytest

import conftest
import pressmark

PAGES = [("Quarterly invoice number seven", "Payment received with thanks"),
         ("Second page about harbour cranes", "Delivery scheduled for Monday"),
         ("Third page lists yellow bicycles", "Signed by the warehouse manager")]
# A full page: orientation is told from many lines, not from two.
PAGES.append(tuple(line for _ in range(5) for page in PAGES for line in page))
ERR_COMPONENT = 0x80004100 - (1 << 32)
CLI = os.environ.get("PRESSMARK_CLI", str(conftest.ROOT / "build" / "pressmark"))


@pytest.fixture(scope="session")
def scans(tmp_path_factory):
    """The pages as 200 dpi grey PNGs, and the same scan as an image-only PDF
    and a multi-page TIFF; a page with real text; junk; a damaged PDF."""
    conftest.require_or_skip(shutil.which("ocrmypdf") and shutil.which("gs"), "ocrmypdf and Ghostscript")
    from PIL import Image
    import img2pdf
    d = tmp_path_factory.mktemp("scans")
    ps = "%!PS\n<< /PageSize [612 792] >> setpagedevice /Helvetica findfont 20 scalefont setfont\n" + "".join(
        "".join(f"72 {700 - 22 * i} moveto ({line}) show\n" for i, line in enumerate(page)) + "showpage\n"
        for page in PAGES)
    (d / "pages.ps").write_text(ps)
    gs = ["gs", "-q", "-dSAFER", "-dBATCH", "-dNOPAUSE"]
    subprocess.run(gs + ["-sDEVICE=pnggray", "-r200", "-o", str(d / "page-%d.png"), str(d / "pages.ps")], check=True)
    subprocess.run(gs + ["-sDEVICE=pdfwrite", "-o", str(d / "text.pdf"), str(d / "pages.ps")], check=True)
    s = {"png": [d / f"page-{i}.png" for i in (1, 2, 3, 4)], "text": d / "text.pdf", "dir": d}
    (d / "scan.pdf").write_bytes(img2pdf.convert([str(p) for p in s["png"][:3]]))
    frames = [Image.open(p) for p in s["png"]]
    frames[0].save(d / "scan.tif", save_all=True, append_images=frames[1:3], dpi=(200, 200), compression="tiff_lzw")
    frames[3].rotate(90, expand=True).save(d / "turned.png", dpi=(200, 200))
    (d / "junk.png").write_bytes(b"\x89PNG but not really an image")
    (d / "damaged.pdf").write_bytes((d / "scan.pdf").read_bytes()[:400])
    s.update(pdf=d / "scan.pdf", tif=d / "scan.tif", turned=d / "turned.png", junk=d / "junk.png",
             damaged=d / "damaged.pdf")
    return s


def assert_searchable(out, pages, pngs, tmp_path):
    info = subprocess.run(["pdfinfo", str(out)], capture_output=True, text=True, check=True).stdout
    assert re.search(rf"^Pages:\s+{len(pages)}$", info, re.M), info
    text = subprocess.run(["pdftotext", str(out), "-"], capture_output=True, text=True, check=True).stdout
    missing = [w for lines in pages for line in lines for w in line.split() if w not in text.split()]
    assert not missing, text
    # Each page renders as the scan it was made from.
    from PIL import Image, ImageChops, ImageStat
    subprocess.run(["pdftoppm", "-gray", "-r", "200", str(out), str(tmp_path / "r")], check=True)
    rendered = sorted(tmp_path.glob("r-*.pgm"))
    assert len(rendered) == len(pngs)
    for r, p in zip(rendered, pngs):
        assert ImageStat.Stat(ImageChops.difference(Image.open(r), Image.open(p).convert("L"))).mean[0] < 8


def by_command(src, out, *options):
    r = subprocess.run([CLI, "ocr", str(src), str(out), *options], capture_output=True, text=True, timeout=600)
    assert r.returncode == 0, r.stdout + r.stderr
    assert r.stdout.splitlines()[-2:] == ["event OnPercentDone 100", str(int(r.stdout.split()[-1]))]
    return int(r.stdout.split()[-1])


# (input, how it is called, pages of PAGES it holds, the scans it must look like)
SEARCHABLE = [
    ("pdf", lambda src, out: by_command(src, out, "--lang", "eng+deu"), [0, 1, 2], [0, 1, 2]),
    ("tif", lambda src, out: pressmark.ocr(src, out), [0, 1, 2], [0, 1, 2]),
    # Turned a quarter, recognised upright: it renders as the page scanned straight.
    ("turned", lambda src, out: pressmark.ocr(src, out, rotate=True), [3], [3]),
]


@pytest.mark.parametrize("kind,call,pages,looks", SEARCHABLE, ids=[r[0] for r in SEARCHABLE])
def test_scans_become_searchable(scans, tmp_path, kind, call, pages, looks):
    out = tmp_path / "out.pdf"
    assert call(scans[kind], out) == len(pages)
    assert_searchable(out, [PAGES[i] for i in pages], [scans["png"][i] for i in looks], tmp_path)
    assert [p.name for p in tmp_path.iterdir() if p.name.endswith(".part")] == []


def test_pdfa_output_with_page_progress(scans, tmp_path):
    import pikepdf
    seen = []
    assert pressmark.ocr(scans["png"][1], tmp_path / "a.pdf", pdfa=True, progress=lambda d, t: seen.append((d, t))) == 1
    assert seen[0] == (0, 1) and seen[-1] == (1, 1)
    with pikepdf.open(tmp_path / "a.pdf") as pdf:
        meta = pdf.open_metadata()
        assert (meta.get("pdfaid:part"), meta.get("pdfaid:conformance")) == ("2", "B")
    assert_searchable(tmp_path / "a.pdf", [PAGES[1]], [scans["png"][1]], tmp_path)


@pytest.mark.parametrize("force,images", [(False, 0), (True, 4)])
def test_pages_with_text_are_kept_unless_forced(scans, tmp_path, force, images):
    out = tmp_path / "out.pdf"
    assert pressmark.ocr(scans["text"], out, force=force) == 4
    listed = subprocess.run(["pdfimages", "-list", str(out)], capture_output=True, text=True, check=True).stdout
    assert len(listed.splitlines()) - 2 == images
    text = subprocess.run(["pdftotext", str(out), "-"], capture_output=True, text=True, check=True).stdout
    assert text.count("Quarterly invoice") == 6


# (input, options, error number, what the description says)
REFUSED = [
    ("junk", {}, ERR_COMPONENT, "is not a PDF or a PNG, JPEG or TIFF image"),
    ("damaged", {}, ERR_COMPONENT, "is damaged and cannot be read"),
    ("pdf", {"languages": "eng+xyz"}, 5, r"xyz is not installed \(install tesseract-ocr-xyz\); the installed "
                                         r"languages are: .*eng \(tesseract-ocr-eng\)"),
    ("pdf", {"languages": "eng;rm -rf"}, 5, "is not an OCR language name"),
    ("tif", {"max_pixels": 1000}, ERR_COMPONENT, "has 1700 x 2200 pixels, more than the limit of 1000"),
    ("pdf", {"max_pixels": 1000}, ERR_COMPONENT, "Page 1 of scan.pdf has an image of 1700 x 2200 pixels"),
    # The child's interpreter alone takes longer to start than this.
    ("pdf", {"job_timeout": 0.01}, ERR_COMPONENT, "did not finish within 0.01 s, the time limit of the job"),
]


@pytest.mark.parametrize("kind,options,number,says", REFUSED, ids=[f"{r[0]}-{i}" for i, r in enumerate(REFUSED)])
def test_bad_input_is_a_clear_error_and_nothing_is_written(scans, tmp_path, kind, options, number, says):
    with pytest.raises(pressmark.AutomationError) as e:
        pressmark.ocr(scans[kind], tmp_path / "out.pdf", **options)
    assert (e.value.number, e.value.source) == (number, "Pressmark")
    assert re.search(says, e.value.description), e.value.description
    assert sorted(p.name for p in tmp_path.iterdir()) == []


def test_command_prints_errors_in_its_fixed_form(scans, tmp_path):
    r = subprocess.run([CLI, "ocr", str(scans["junk"]), str(tmp_path / "out.pdf")], capture_output=True, text=True,
                       timeout=120)
    assert r.returncode == 1
    assert r.stdout.startswith(f"error {ERR_COMPONENT} (Pressmark): The file junk.png is not a PDF"), r.stdout
