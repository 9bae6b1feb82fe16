"""`pressmark serve [settings]` and `pressmark worker --broker URL [settings]`."""

import logging
import sys

from . import settings as settings_mod


def main(argv):
    if not argv or argv[0] not in ("serve", "worker"):
        print("usage: pressmark serve|worker [--help]", file=sys.stderr)
        return 2
    command, rest = argv[0], argv[1:]
    settings = settings_mod.parse(rest)
    logging.basicConfig(level=getattr(logging, settings.log_level.upper(), logging.INFO),
                        format="%(asctime)s %(levelname)s %(name)s: %(message)s")
    if command == "worker":
        if not settings.broker:
            print("pressmark worker: --broker redis://HOST:6379/0 is required", file=sys.stderr)
            return 2
        from . import farm
        return farm.run_worker(settings)
    settings_mod.check_bind(settings)
    import uvicorn
    from .app import create_app
    app = create_app(settings)
    uvicorn.run(app, host=settings.host, port=settings.port, log_level=settings.log_level,
                access_log=False, server_header=False, log_config=None)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
