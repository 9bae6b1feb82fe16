# The package as users get it: the type stubs made from the member tables
# check a script with mypy, and a wheel installs into a plain virtual
# environment that then converts a file.
import os
import pathlib
import shutil
import subprocess
import sys

import pytest

import conftest
import pressmark

pytestmark = pytest.mark.skipif(os.environ.get("PRESSMARK_SANITIZE") == "1",
                                reason="a sanitizer build's extension loads only into a preloaded interpreter")

SCRIPT = '''
import pathlib
import pressmark
from pressmark.classes import Document

pdf = pressmark.CreatePDF()
pdf.TempFilePath = "/tmp"
folder: str = pdf.TempFilePath
pdf.CreatePDFfromWord("out.pdf", pathlib.Path("in.rtf"), blnLandscape=True)
doc: Document = pdf.OpenDocument("out.pdf")
with doc:
    print(doc.NumPages)
try:
    pdf.CopyFile("a", "b")
except pressmark.AutomationError as e:
    hr, msg, exc, arg = e.args
    print(hr + 1, msg.upper(), exc[1].upper(), e.number + 1)
print(pressmark.__version__.upper(), pressmark.Missing.scode, pressmark.Ref([]).value)
pages: int = pressmark.ocr("scan.pdf", pathlib.Path("out.pdf"), "eng+deu", pdfa=True, progress=lambda d, t: None)
'''

# Each line added to the script is an error mypy must find in it.
MISTAKES = [
    ('pdf.CreatePDFfromWord("out.pdf", "in.rtf", blnNoSuchOption=True)', 'Unexpected keyword argument "blnNoSuchOption"'),
    ('pdf.CopyFile("a")', 'Missing positional argument "strTarget"'),
    ('pressmark.__version__ + 1', 'Unsupported operand types'),
    ('pressmark.ocr("scan.pdf", "out.pdf", pdfa="yes")', 'Argument "pdfa" to "ocr" has incompatible type'),
]


def mypy(tmp_path, text):
    script = tmp_path / "sample.py"
    script.write_text(text)
    stubs = pathlib.Path(pressmark.__file__).parent.parent
    env = dict(os.environ, MYPYPATH=str(stubs))
    return subprocess.run([sys.executable, "-m", "mypy", "--no-incremental", "--cache-dir", os.devnull,
                           "--strict-optional", str(script)], capture_output=True, text=True, env=env, timeout=300)


def test_stubs_type_check_a_script(tmp_path):
    r = mypy(tmp_path, SCRIPT + "".join(m + "\n" for m, _ in MISTAKES))
    errors = [line for line in r.stdout.splitlines() if ": error:" in line]
    assert len(errors) == len(MISTAKES), r.stdout + r.stderr
    for (_, want), line in zip(MISTAKES, errors):
        assert want in line, r.stdout
    assert mypy(tmp_path, SCRIPT).returncode == 0


def test_wheel_installs_into_a_plain_venv(tmp_path):
    # The wheel is built from a copy of python/: the build leaves its work
    # folders there, not in the checkout.
    source = tmp_path / "python"
    shutil.copytree(conftest.ROOT / "python", source, ignore=shutil.ignore_patterns("__pycache__", "build", "*.egg-info"))
    env = dict(os.environ, PRESSMARK_SOURCE_DIR=str(conftest.ROOT))
    env.setdefault("PRESSMARK_BUILD_DIR", str(conftest.ROOT / "build"))
    env.pop("PYTHONPATH", None)
    subprocess.run([sys.executable, "-m", "build", "--wheel", "--no-isolation", "--outdir", str(tmp_path / "dist"),
                    str(source)], check=True, env=env, stdout=subprocess.DEVNULL, timeout=600)
    wheel, = (tmp_path / "dist").glob("pressmark-*.whl")
    # MuPDF is linked once and its CJK font is the system's: a second copy
    # of either would take the wheel past this.
    assert wheel.stat().st_size < 30 * 1024 * 1024
    venv = tmp_path / "venv"
    subprocess.run([sys.executable, "-m", "venv", str(venv)], check=True, timeout=300)
    subprocess.run([str(venv / "bin/pip"), "install", "-q", "--no-index", "--no-deps", str(wheel)], check=True,
                   env=env, timeout=300)
    ps = conftest.write_ps(tmp_path / "in.ps", "From the wheel")
    code = ("import sys, pressmark; pdf = pressmark.CreatePDF(); "
            "pdf.CreatePDFfromPS(sys.argv[2], sys.argv[1]); print(pressmark.__version__, pressmark.__file__)")
    r = subprocess.run([str(venv / "bin/python"), "-c", code, ps, str(tmp_path / "out.pdf")], cwd=tmp_path,
                       env=env, capture_output=True, text=True, timeout=300)
    assert r.returncode == 0, r.stderr
    version, where = r.stdout.split()
    assert version == pressmark.__version__ and where.startswith(str(venv))
    text = subprocess.run(["pdftotext", str(tmp_path / "out.pdf"), "-"], capture_output=True, text=True, check=True)
    assert "From the wheel" in text.stdout
