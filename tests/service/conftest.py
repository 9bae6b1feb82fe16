# The HTTP service's suite: services started with `pressmark serve` on free
# loopback ports, called with a real HTTP client, outputs read back with
# qpdf, pdftotext and pdfsig. CTest runs it with PYTHONPATH at the build
# tree's package and PRESSMARK_CLI at the pressmark command.
import base64
import os
import pathlib
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time

import httpx
import pytest

ROOT = pathlib.Path(os.environ.get("PRESSMARK_SOURCE_DIR", pathlib.Path(__file__).resolve().parents[2]))
CLI = os.environ.get("PRESSMARK_CLI", str(ROOT / "build" / "pressmark"))
if "PYTHONPATH" not in os.environ:
    sys.path.insert(0, str(ROOT / "build" / "python"))
os.environ.pop("LD_PRELOAD", None)

# A private registry, and a private runtime folder so the office service
# these tests lease offices from is their own; it is stopped at the end.
_private = tempfile.TemporaryDirectory(prefix="pressmark-service-test-")
os.environ["PRESSMARK_REGISTRY"] = os.path.join(_private.name, "registry")
os.environ["XDG_RUNTIME_DIR"] = os.path.join(_private.name, "xdg")
os.makedirs(os.environ["XDG_RUNTIME_DIR"], mode=0o700)
subprocess.run([CLI, "register"], check=True, stdout=subprocess.DEVNULL)


def pytest_sessionfinish(session):
    subprocess.run([CLI, "office", "stop"], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)


# A Standard Webhooks secret: whsec_ and the base64 of the key's bytes.
WEBHOOK_KEY = b"hook-key-of-the-service-tests"
WEBHOOK_SECRET = "whsec_" + base64.b64encode(WEBHOOK_KEY).decode()


def require_or_skip(available, why):
    """Skipped where the machine lacks what a test needs, failed where CI=true."""
    if available:
        return
    if os.environ.get("CI") == "true":
        pytest.fail("needed under CI=true: " + why)
    pytest.skip(why)


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Service:
    """One `pressmark serve` (or worker) process and a client for it."""

    def __init__(self, state, *args, command="serve", wait=True):
        self.state = state
        state.mkdir(parents=True, exist_ok=True)
        self.args = list(args)
        self.command = command
        self.port = free_port()
        self.proc = None
        self.start(wait)

    def start(self, wait=True):
        argv = [CLI, self.command, "--state-dir", str(self.state), *self.args]
        if self.command == "serve":
            argv += ["--port", str(self.port)]
        self.log = open(self.state / f"{self.command}.log", "ab")
        self.proc = subprocess.Popen(argv, stdout=self.log, stderr=subprocess.STDOUT, start_new_session=True)
        self.client = httpx.Client(base_url=f"http://127.0.0.1:{self.port}", timeout=120)
        if wait and self.command == "serve":
            for _ in range(300):
                assert self.proc.poll() is None, (self.state / "serve.log").read_text()
                try:
                    if self.client.get("/health").status_code == 200:
                        return
                except httpx.TransportError:
                    pass
                time.sleep(0.1)
            raise AssertionError("the service did not start")

    def kill(self, sig=signal.SIGKILL, wait=30):
        # The whole process group: the worker's children go with it.
        if self.proc and self.proc.poll() is None:
            os.killpg(self.proc.pid, sig)
        try:
            self.proc.wait(timeout=wait)
        except subprocess.TimeoutExpired:
            self.kill()
        self.client.close()
        self.log.close()

    def stop(self):
        self.kill(signal.SIGTERM, 15)


SCANNED = "Quarterly invoice number seven"


@pytest.fixture(scope="session")
def made(tmp_path_factory):
    """The documents the tests send, made here."""
    import pressmark
    from PIL import Image
    d = tmp_path_factory.mktemp("made")
    docs = {}

    def ps(name, *pages):
        (d / name).write_text("%!PS\n/Helvetica findfont 24 scalefont setfont\n"
                              + "".join(f"72 700 moveto ({t}) show showpage\n" for t in pages))
        return d / name

    docs["ps"] = ps("two.ps", "Chapter One", "Chapter Two")
    docs["five_ps"] = ps("five.ps", *[f"Page {i}" for i in range(1, 6)])
    pdf = pressmark.CreatePDF()
    pdf.TempFilePath = str(d)
    docs["pdf"] = d / "two.pdf"
    pdf.CreatePDFfromPS(str(docs["pdf"]), str(docs["ps"]))
    docs["form"] = d / "form.pdf"
    shutil.copy(docs["pdf"], docs["form"])
    doc = pdf.OpenDocument(str(docs["form"]))
    doc.CreateTextField("name", 1, [72, 600, 272, 580])
    doc.CreateSignatureField("sig", 1, [72, 500, 272, 440])
    doc.Save(1)
    doc.CloseDoc()
    del doc
    docs["marked"] = d / "marked.pdf"
    shutil.copy(docs["pdf"], docs["marked"])
    pdf.CreateBookmarksInPDF(str(docs["marked"]), varBookmarkTitles=["Chapter Two"])
    for key, name, text in [("txt", "note.txt", "Plain text through the office\r\n"),
                            ("csv", "sums.csv", "Fruit,Count\r\nApples,12\r\n"),
                            ("rtf", "letter.rtf", r"{\rtf1\ansi{\fonttbl{\f0 Helvetica;}}\f0\fs24 Dear reader\par}")]:
        docs[key] = d / name
        docs[key].write_text(text)
    docs["png"] = d / "dot.png"
    Image.new("RGB", (8, 8), (255, 0, 0)).save(docs["png"])
    subprocess.run(
        f"cd '{d}' && openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -keyout k.pem "
        "-out c.pem -days 2 -subj '/CN=Pressmark Service Test' && openssl pkcs12 -export -inkey k.pem -in c.pem "
        "-out signer.p12 -passout pass:secret", shell=True, check=True, capture_output=True)
    docs["p12"] = d / "signer.p12"
    # A scanned page: known text rendered at 200 dpi in grey.
    ps("scan.ps", SCANNED)
    docs["scan"] = d / "scan.png"
    subprocess.run(["gs", "-q", "-dSAFER", "-dBATCH", "-dNOPAUSE", "-sDEVICE=pnggray", "-r200", "-o", str(docs["scan"]),
                    str(d / "scan.ps")], check=True)
    return docs


@pytest.fixture
def browser(tmp_path):
    """Headless Chromium with a fresh profile, downloading into tmp_path/downloads,
    where no name but the loopback's resolves."""
    try:
        from selenium import webdriver
        from selenium.webdriver.chrome.service import Service as Driver
    except ImportError:
        webdriver = None
    chromium, driver_path = shutil.which("chromium"), shutil.which("chromedriver")
    require_or_skip(webdriver and chromium and driver_path, "chromium, chromium-driver and python3-selenium")
    options = webdriver.ChromeOptions()
    options.binary_location = chromium
    for arg in ("--headless=new", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage",
                f"--user-data-dir={tmp_path / 'profile'}", "--no-first-run", "--disable-background-networking",
                "--disable-component-update", "--disable-sync", "--disable-default-apps",
                "--host-resolver-rules=MAP * ~NOTFOUND, EXCLUDE 127.0.0.1"):
        options.add_argument(arg)
    options.add_experimental_option("prefs", {"download.default_directory": str(tmp_path / "downloads"),
                                              "download.prompt_for_download": False})
    options.set_capability("goog:loggingPrefs", {"performance": "ALL"})
    driver = webdriver.Chrome(service=Driver(driver_path), options=options)
    try:
        yield driver
    finally:
        driver.quit()


@pytest.fixture(scope="session")
def service(tmp_path_factory):
    s = Service(tmp_path_factory.mktemp("service"), "--max-body", str(4 << 20), "--allow-private",
                "--fetch-allow", "127.0.0.1", "--webhook-secret", WEBHOOK_SECRET, "--wait-budget", "60")
    yield s
    s.stop()


def read_back(data, tmp_path, *argv, check=True):
    """The output of an outside tool (pdftotext, qpdf, pdfsig) run on the bytes written to a file."""
    (tmp_path / "out.pdf").write_bytes(data)
    return subprocess.run([*argv, str(tmp_path / "out.pdf"), *(["-"] if argv[0] == "pdftotext" else [])],
                          capture_output=True, text=True, check=check).stdout


def pdf_text(data, tmp_path):
    return read_back(data, tmp_path, "pdftotext")


def pdf_pages(data, tmp_path):
    return int(read_back(data, tmp_path, "qpdf", "--show-npages"))
