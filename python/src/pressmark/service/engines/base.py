"""What every engine shares: the way one job's operation runs, and what the
service asks of an engine."""

from __future__ import annotations

import os
from typing import Any, Callable, Dict, Optional, Protocol, Tuple

import pressmark

from ..operations import OPS
from ..operations.base import Ctx, Progress
from ..problems import ProblemFields, problem_of
from ..results import package
from ..store import Inputs, OutputRecord

# Told once per job, from the thread that saw it end.
OnFinish = Callable[[str], None]
Outcome = Tuple[Optional[OutputRecord], Optional[ProblemFields]]


class Engine(Protocol):
    workers: int

    def start(self) -> None: ...

    def stop(self) -> None: ...

    def submit(self, job_id: str, queue: str) -> None: ...

    def readiness(self) -> Tuple[bool, Dict[str, Any]]: ...


def execute(pdf: Any, folder: str, op_name: str, fields: Dict[str, str], inputs: Inputs,
            progress: Progress, timeout: Optional[float] = None) -> Outcome:
    """Runs one job's operation; answers (output, error) as recorded in the store."""
    op = OPS[op_name]
    ctx = Ctx(pdf, folder, {k: [(p, n) for p, n in v] for k, v in inputs.items()}, fields, progress, timeout)
    try:
        out = op.run(ctx)
        return package(ctx.out, out), None
    except Exception as e:  # every failure becomes the job's problem document
        return None, problem_of(e)


def office_pool_size() -> int:
    """The size of this host's office pool (the office service reads the same setting)."""
    try:
        size = int(float(os.environ.get("PRESSMARK_OFFICE_POOL_SIZE", "0")))
    except ValueError:
        size = 0
    return size if size > 0 else max(1, os.cpu_count() or 1)


def office_status() -> str:
    """The shared office service's pool as its status text gives it ("" when none runs yet: offices start
    on the first office document)."""
    try:
        return str(pressmark.Dispatch("Pressmark.OfficeControl").ServiceStatus)
    except Exception as e:
        return f"unknown: {e}"
