"""`pressmark serve [settings]` and `pressmark worker --broker URL [settings]`."""

from __future__ import annotations

import logging
import os
import sys
from typing import List

import uvicorn
from fastapi import FastAPI

from . import config
from .app import create_app
from .lifecycle import Server
from .engines import farm


def main(argv: List[str]) -> int:
    if not argv or argv[0] not in ("serve", "worker"):
        print("usage: pressmark serve|worker [--help]", file=sys.stderr)
        return 2
    command, rest = argv[0], argv[1:]
    settings = config.parse(rest, f"pressmark {command}")
    logging.basicConfig(level=getattr(logging, settings.log_level.upper(), logging.INFO),
                        format="%(asctime)s %(levelname)s %(name)s: %(message)s")
    if command == "worker":
        if not settings.broker:
            print("pressmark worker: --broker redis://HOST:6379/0 is required", file=sys.stderr)
            return 2
        return farm.run_worker(settings)
    config.check_bind(settings)
    app = create_app(settings)
    server_config = uvicorn.Config(app, host=settings.host, port=settings.port, log_level=settings.log_level,
                                   access_log=False, server_header=False, log_config=None)
    inner = app.app
    assert isinstance(inner, FastAPI)
    Server(server_config, inner.state.svc.lifecycle, app.reload_keys).run()
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
