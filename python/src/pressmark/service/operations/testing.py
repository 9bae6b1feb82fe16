"""An operation for the service's own tests, there only when the test_gate_dir
setting names a folder: its job holds its worker until the test opens the
gate, so a test that needs a busy worker does not hope for a slow document.
It stops when its job runs out of time, as an engine's work is stopped,
unless the form says stubborn=true: then it goes on like work that cannot be
stopped, holding its worker."""

from __future__ import annotations

import os
import time

from ..problems import BadRequest
from .base import Ctx, Op, Output, check_fields

NAME = "test/gate"
LONGEST = 600.0


def gate(folder: str) -> Op:
    def run(ctx: Ctx) -> Output:
        check_fields(ctx, [], ("stubborn",))
        stubborn = ctx.bool("stubborn")
        opened = os.path.join(folder, "open")
        deadline = time.monotonic() + LONGEST
        while not os.path.exists(opened):
            if time.monotonic() > deadline or (ctx.cancelled.is_set() and not stubborn):
                raise BadRequest("the gate was not opened", "gate-closed")
            time.sleep(0.02)
        return Output(json={"gate": "open"})
    return Op(NAME, run, (), (), "fast", "Tests only: waits until the test opens the gate", hidden=True)
