# What callers see when something under the service is down: a retryable
# problem that says so, and nothing of the refused job left behind.
import json
import subprocess

from conftest import Service, free_port, pdf_text, require_or_skip


def test_broker_down_answers_a_retryable_problem(tmp_path, made):
    store = tmp_path / "store"
    # Nothing listens on the broker's port.
    gateway = Service(tmp_path / "gw", "--broker", f"redis://127.0.0.1:{free_port()}/0", "--store-dir", str(store))
    try:
        r = gateway.client.post("/v1/convert", files={"file": ("two.ps", made["ps"].read_bytes())})
        assert (r.status_code, r.headers["content-type"], r.headers["retry-after"]) == (
            503, "application/problem+json", "5")
        assert (r.json()["type"], r.json()["retryable"]) == ("urn:pressmark:problem:unavailable", True)
        assert list((store / "jobs").iterdir()) == []
        ready = gateway.client.get("/ready")
        assert ready.status_code == 503 and json.loads(ready.json()["detail"])["broker"].startswith("down")
    finally:
        gateway.stop()


def test_full_storage_answers_507_keeps_nothing_and_recovers(tmp_path, made):
    state = tmp_path / "small"
    state.mkdir()
    mounted = subprocess.run(["mount", "-t", "tmpfs", "-o", "size=1m,mode=0700", "tmpfs", str(state)],
                             capture_output=True).returncode == 0
    require_or_skip(mounted, "a small tmpfs cannot be mounted here (needs root)")
    s = None
    try:
        s = Service(state)
        r = s.client.post("/v1/convert", files={"file": ("big.pdf", bytes(2 << 20))})
        assert (r.status_code, r.json()["type"], r.json()["retryable"]) == (
            507, "urn:pressmark:problem:insufficient-storage", True)
        assert list((state / "jobs").iterdir()) == []
        r = s.client.post("/v1/convert", files={"file": ("two.ps", made["ps"].read_bytes())})
        assert r.status_code == 200 and "Chapter Two" in pdf_text(r.content, tmp_path)
    finally:
        if s:
            s.stop()
        subprocess.run(["umount", str(state)])
