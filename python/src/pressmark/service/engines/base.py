"""What every engine shares: the way one job's operation runs, and what the
service asks of an engine."""

from __future__ import annotations

import os
import shutil
import threading
from typing import Any, Callable, Dict, Optional, Protocol, Sequence, Tuple

import pressmark

from .. import faults
from ..operations import OPS
from ..operations.base import Ctx, Progress
from ..problems import NoOutput, ProblemFields, problem_of
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
            progress: Progress, cancelled: Optional[threading.Event] = None, roots: Sequence[str] = (),
            timeout: Optional[float] = None) -> Outcome:
    """Runs one job's operation; answers (output, error) as recorded in the store. An office lost under the job
    runs it once more from a clean output folder; no problem names a path under the job's folder or `roots`
    (the service's folders), and a failed job keeps no output. A job is done only when the files it names
    exist and are not empty: an engine told to write elsewhere, or that wrote nothing, fails the job."""
    op = OPS[op_name]
    ctx = Ctx(pdf, folder, {k: [(p, n) for p, n in v] for k, v in inputs.items()}, fields, progress, cancelled,
              timeout)

    def clear() -> None:
        shutil.rmtree(ctx.out, ignore_errors=True)
        os.makedirs(ctx.out, exist_ok=True)
    try:
        out = faults.run_twice(lambda: op.run(ctx), clear)
        if out.json is None and out.text is None:
            missing = [f for f in out.files if not os.path.isfile(f) or os.path.getsize(f) == 0]
            if missing or not out.files:
                raise NoOutput(", ".join(os.path.basename(f) for f in missing) or "no file")
        return package(ctx.out, out), None
    except Exception as e:  # every failure becomes the job's problem document
        clear()
        error = faults.office_unavailable() if isinstance(e, faults.OfficeUnavailable) else problem_of(e)
        named = [(p, n) for v in ctx.inputs.values() for p, n in v]
        error["detail"] = faults.scrub(str(error["detail"]), named, (folder, *roots))
        return None, error


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
