"""`pressmark serve [settings]` and `pressmark worker --broker URL [settings]`."""

from __future__ import annotations

import logging
import math
import os
import sys
from typing import List

from fastapi import FastAPI

from . import config, server
from .app import create_app
from .engines import farm


def private_and_bounded(settings: config.Settings) -> None:
    """What the process writes is its user's only, whatever umask it was started with; and the engines stop
    their work (Ghostscript, the office) at the job time-out unless told another time."""
    os.umask(0o077)
    seconds = str(max(1, math.ceil(settings.call_timeout)))
    for name in ("PRESSMARK_DISTILLER_TIMEOUT", "PRESSMARK_OFFICE_TIMEOUT"):
        os.environ.setdefault(name, seconds)


def main(argv: List[str]) -> int:
    if not argv or argv[0] not in ("serve", "worker"):
        print("usage: pressmark serve|worker [--help]", file=sys.stderr)
        return 2
    command, rest = argv[0], argv[1:]
    settings = config.parse(rest, f"pressmark {command}")
    logging.basicConfig(level=getattr(logging, settings.log_level.upper(), logging.INFO),
                        format="%(asctime)s %(levelname)s %(name)s: %(message)s")
    # The multipart parser some libraries use logs every byte it skips at debug level.
    logging.getLogger("multipart").setLevel(logging.WARNING)
    private_and_bounded(settings)
    if command == "worker":
        if not settings.broker:
            print("pressmark worker: --broker redis://HOST:6379/0 is required", file=sys.stderr)
            return 2
        return farm.run_worker(settings)
    config.check_bind(settings)
    app = create_app(settings)
    inner = app.app
    assert isinstance(inner, FastAPI)
    server.run(app, settings, inner.state.svc.lifecycle, app.reload_keys)
    # A job still running after the drain stays in the store and runs again
    # at the next start; the interpreter's own finalisation would tear the
    # component down under that job's thread (and abort), so the process
    # ends here, its logs written.
    logging.shutdown()
    sys.stdout.flush()
    sys.stderr.flush()
    os._exit(0)


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
