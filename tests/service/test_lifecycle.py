# The service as a process: a drain cuts what callers may still wait, SIGHUP
# takes new API keys, SIGTERM ends it with status 0.
import asyncio
import signal
import time

from conftest import Service
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


def test_sighup_reads_keys_again_and_sigterm_exits_0(tmp_path):
    keys = tmp_path / "keys"
    keys.write_text("old-key\n")
    s = Service(tmp_path / "state", "--api-keys-file", str(keys))
    try:
        def status(key):
            return s.client.get("/v1/jobs/" + "0" * 32, headers={"Authorization": f"Bearer {key}"}).status_code
        assert (status("old-key"), status("new-key")) == (404, 401)
        assert s.client.get("/ready").json()["details"]["state"] == "ready"
        keys.write_text("new-key\n")
        s.proc.send_signal(signal.SIGHUP)
        # The signal is handled between requests: ask until it has been.
        for _ in range(200):
            if status("new-key") == 404:
                break
            time.sleep(0.05)
        assert (status("old-key"), status("new-key"), s.proc.poll()) == (401, 404, None)
        s.proc.send_signal(signal.SIGTERM)
        assert s.proc.wait(60) == 0
    finally:
        s.kill()
