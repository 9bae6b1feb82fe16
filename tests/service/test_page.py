# The page at / in headless Chromium, as a person uses it: choose a file and
# an operation, start, wait for the pages and the link, download the result.
import json
import os

import pytest

from conftest import SCANNED, Service, pdf_text


def page(browser, service):
    from selenium.webdriver.support.ui import WebDriverWait
    browser.get(f"http://127.0.0.1:{service.port}/")
    wait = WebDriverWait(browser, 60)
    wait.until(lambda b: b.execute_script("return !document.getElementById('operation').disabled"))
    return wait


DROP = """const files = new DataTransfer();
files.items.add(new File([arguments[1]], arguments[0]));
document.getElementById("drop").dispatchEvent(new DragEvent("drop", {dataTransfer: files, bubbles: true}));"""


def start(browser, operation, path, drop=False):
    from selenium.webdriver.common.by import By
    from selenium.webdriver.support.ui import Select
    Select(browser.find_element(By.ID, "operation")).select_by_value(operation)
    if drop:
        browser.execute_script(DROP, path.name, path.read_text())
    else:
        browser.find_element(By.ID, "files").send_keys(str(path))
    browser.find_element(By.CSS_SELECTOR, "button[type=submit]").click()


def shoot(browser, name):
    """Screenshots for the README, when PRESSMARK_PAGE_SHOTS names a folder."""
    folder = os.environ.get("PRESSMARK_PAGE_SHOTS")
    if folder:
        for width, height, kind in ((1280, 1100, "desktop"), (390, 1200, "phone")):
            browser.set_window_size(width, height)
            browser.execute_script("window.scrollTo(0, 0)")
            browser.save_screenshot(os.path.join(folder, f"{name}-{kind}.png"))


@pytest.mark.parametrize("operation,upload,text", [("/v1/convert", "rtf", "Dear reader"), ("/v1/ocr", "scan", SCANNED)],
                         ids=["word", "ocr"])
def test_a_person_converts_and_downloads(service, made, browser, tmp_path, operation, upload, text):
    if operation not in service.client.get("/openapi.json").json()["paths"]:
        pytest.skip(f"this service offers no {operation}")
    from selenium.webdriver.common.by import By
    wait = page(browser, service)
    start(browser, operation, made[upload])
    link = wait.until(lambda b: b.find_element(By.ID, "download").is_displayed() and b.find_element(By.ID, "download")
                      or b.find_element(By.ID, "problem").is_displayed() and b.find_element(By.ID, "problem").text)
    assert not isinstance(link, str), link
    wait.until(lambda b: b.execute_script("return [...document.querySelectorAll('#thumbs img')]"
                                          ".some(i => i.complete && i.naturalWidth > 0)"))
    if operation == "/v1/convert":
        shoot(browser, "page")
    link.click()
    downloads = tmp_path / "downloads"
    wait.until(lambda _: [f for f in downloads.glob("*.pdf")] if downloads.exists() else [])
    data = next(downloads.glob("*.pdf")).read_bytes()
    assert text in " ".join(pdf_text(data, tmp_path).split())


REFUSED = [
    # (file name, size, dropped?, words of the problem shown): the service's answer
    # to a dropped file, and the page's own refusal of a chosen file over the
    # service's limit before any upload
    ("notes.xyz", 10, True, 'cannot convert a ".xyz" file to PDF'),
    ("huge.pdf", 5 << 20, False, "takes at most 4194304 bytes"),
]


@pytest.mark.parametrize("name,size,drop,detail", REFUSED, ids=["service", "too-large"])
def test_a_refused_file_shows_the_problem(service, browser, tmp_path, name, size, drop, detail):
    from selenium.webdriver.common.by import By
    (tmp_path / name).write_bytes(b"x" * size)
    wait = page(browser, service)
    start(browser, "/v1/convert", tmp_path / name, drop)
    shown = wait.until(lambda b: b.find_element(By.ID, "problem").is_displayed() and b.find_element(By.ID, "problem"))
    assert detail in shown.text and "\n" in shown.text, shown.text  # title, then detail
    log = [json.loads(e["message"])["message"] for e in browser.get_log("performance")]
    sent = [m["params"]["request"] for m in log
            if m["method"] == "Network.requestWillBeSent" and m["params"]["request"]["method"] == "POST"]
    assert len(sent) == (0 if size > 1 << 20 else 1), sent


def test_the_page_asks_for_a_key_once_and_keeps_it_in_the_tab(browser, tmp_path):
    from selenium.webdriver.common.by import By
    from selenium.webdriver.common.keys import Keys
    from selenium.webdriver.support.ui import WebDriverWait
    (tmp_path / "keys").write_text("page-key-1\n")
    s = Service(tmp_path / "keyed", "--api-keys-file", str(tmp_path / "keys"))
    try:
        wait = WebDriverWait(browser, 60)
        browser.get(f"http://127.0.0.1:{s.port}/")
        wait.until(lambda b: b.find_element(By.ID, "key-box").is_displayed())
        browser.find_element(By.ID, "key").send_keys("page-key-1", Keys.ENTER)
        wait.until(lambda b: b.find_elements(By.CSS_SELECTOR, "#operation option[value='/v1/convert']"))
        browser.refresh()  # typed once: the tab still has it
        wait.until(lambda b: b.find_elements(By.CSS_SELECTOR, "#operation option[value='/v1/convert']"))
        assert browser.execute_script("return [sessionStorage.getItem('pressmark-api-key'), localStorage.length]") \
            == ["page-key-1", 0]
    finally:
        s.stop()
