# The service as a process: a drain cuts what callers may still wait, SIGHUP
# takes new API keys, SIGTERM answers waiting callers and ends with status 0.
import asyncio
import signal
import threading
import time

from conftest import Service
from test_service import finished
from pressmark.service import lifecycle


def test_a_drain_answers_waiting_callers_by_its_end():
    async def scenario():
        lc = lifecycle.Lifecycle(grace=0)
        assert lc.state == "starting"
        lc.ready()
        never = asyncio.get_running_loop().create_future()
        waiting = asyncio.ensure_future(lifecycle.wait_within(lc, never, 3600))
        await asyncio.sleep(0)
        assert not waiting.done() and lc.budget(3600) == 3600
        lc.drain()
        await asyncio.wait_for(waiting, 60)   # without the drain it would wait an hour
        return lc.state, lc.budget(3600), never.done()
    assert asyncio.run(scenario()) == ("draining", 0, False)


def test_sighup_reads_the_keys_again(tmp_path):
    keys = tmp_path / "keys"
    keys.write_text("old-key\n")
    s = Service(tmp_path / "state", "--api-keys-file", str(keys))
    try:
        def status(key):
            return s.client.get("/v1/jobs/" + "0" * 32, headers={"Authorization": f"Bearer {key}"}).status_code
        assert (status("old-key"), status("new-key")) == (404, 401)
        keys.write_text("new-key\n")
        s.proc.send_signal(signal.SIGHUP)
        # The signal is handled between requests: ask until it has been.
        for _ in range(200):
            if status("new-key") == 404:
                break
            time.sleep(0.05)
        assert (status("old-key"), status("new-key"), s.proc.poll()) == (401, 404, None)
    finally:
        s.stop()


def test_sigterm_answers_the_waiting_caller_and_keeps_its_job(tmp_path):
    """A caller waits on a job the test's gate holds; SIGTERM answers it 202 within the grace period, the
    service exits 0, and the job runs after the restart."""
    gate = tmp_path / "gate"
    gate.mkdir()
    s = Service(tmp_path / "state", "--workers", "1", "--drain-grace", "1", "--wait-budget", "600",
                "--test-gate-dir", str(gate))
    try:
        assert s.client.get("/ready").json()["details"]["state"] == "ready"
        form = {"content-type": "application/x-www-form-urlencoded", "idempotency-key": "held"}
        answer = {}
        waiting = threading.Thread(target=lambda: answer.update(
            sync=s.client.post("/v1/test/gate", content=b"", headers=form)))
        waiting.start()
        # The same key answers the same job; asked to poll, it shows the job once it runs.
        for _ in range(600):
            job = s.client.post("/v1/test/gate", content=b"", headers={**form, "prefer": "respond-async"}).json()
            if job["status"] == "running":
                break
            time.sleep(0.05)
        assert job["status"] == "running"
        s.proc.send_signal(signal.SIGTERM)
        waiting.join(120)
        assert (answer["sync"].status_code, answer["sync"].json()["id"]) == (202, job["id"])
        assert s.proc.wait(60) == 0
        s.start()
        (gate / "open").touch()
        assert finished(s.client, job["id"])["status"] == "done"
    finally:
        s.stop()
