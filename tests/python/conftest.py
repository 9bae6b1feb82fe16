# The pytest suite of the Python module. CTest runs it with PYTHONPATH at the
# build tree's package and PRESSMARK_CLI at the pressmark command; run by
# hand, it finds both in ./build.
import os
import pathlib
import subprocess
import sys
import tempfile

import pytest

ROOT = pathlib.Path(os.environ.get("PRESSMARK_SOURCE_DIR", pathlib.Path(__file__).resolve().parents[2]))
if "PYTHONPATH" not in os.environ:
    sys.path.insert(0, str(ROOT / "build" / "python"))

# In the sanitizer build the sanitizer runtime is preloaded into this
# interpreter; the programs the servers start (Ghostscript, the office) are
# not built with it and must not inherit it.
os.environ.pop("LD_PRELOAD", None)

# A private registry with the keys an installer writes, before the first
# CreatePDF reads them.
_registry = tempfile.TemporaryDirectory(prefix="pressmark-pytest-")
os.environ["PRESSMARK_REGISTRY"] = _registry.name
subprocess.run([os.environ.get("PRESSMARK_CLI", str(ROOT / "build" / "pressmark")), "register"], check=True,
               stdout=subprocess.DEVNULL)


def require_or_skip(available, why):
    """A test that needs a program or service the machine may lack: skipped
    on a developer's machine, failed where CI=true, so CI cannot pass it
    silently."""
    if available:
        return
    if os.environ.get("CI") == "true":
        pytest.fail("needed under CI=true: " + why)
    pytest.skip(why)


def write_ps(path, *pages):
    """A PostScript file with one line of Helvetica text per page."""
    pathlib.Path(path).write_text("%!PS\n/Helvetica findfont 24 scalefont setfont\n"
                                  + "".join(f"72 700 moveto ({text}) show showpage\n" for text in pages))
    return str(path)


@pytest.fixture
def pdf(tmp_path):
    import pressmark
    (tmp_path / "work").mkdir()
    obj = pressmark.CreatePDF()
    obj.TempFilePath = str(tmp_path / "work")
    return obj


@pytest.fixture(scope="session")
def two_pages(tmp_path_factory):
    """A two-page PDF made once by the Distiller from PostScript."""
    import pressmark
    d = tmp_path_factory.mktemp("made")
    ps = write_ps(d / "two.ps", "Chapter One", "Chapter Two")
    pressmark.CreatePDF().CreatePDFfromPS(str(d / "two.pdf"), ps)
    return str(d / "two.pdf")
