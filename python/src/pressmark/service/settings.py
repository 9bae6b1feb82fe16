"""The service's settings: one table, each read from the command line, then
from the environment (PRESSMARK_<NAME in capitals>), then its default."""

import argparse
import dataclasses
import ipaddress
import os
import pathlib

PROJECT_SOURCE = "https://github.com/pressmark/pressmark"


def _state_home():
    base = os.environ.get("XDG_STATE_HOME") or os.path.join(os.path.expanduser("~"), ".local", "state")
    return os.path.join(base, "pressmark", "service")


@dataclasses.dataclass
class Setting:
    name: str
    kind: type
    default: object
    help: str


SETTINGS = [
    Setting("host", str, "127.0.0.1", "address to listen on; anything but loopback needs API keys"),
    Setting("port", int, 8000, "port to listen on"),
    Setting("state_dir", str, None, "jobs, their documents and the job store (default ~/.local/state/pressmark/service)"),
    Setting("api_keys_file", str, "", "file of API keys, one a line; callers send Authorization: Bearer KEY"),
    Setting("workers", int, 0, "jobs run at once (default: the office pool size)"),
    Setting("queue_size", int, 64, "jobs waiting at most; more are answered 429 with Retry-After"),
    Setting("max_body", int, 100 * 1024 * 1024, "largest request body in bytes"),
    Setting("wait_budget", float, 30.0, "seconds a call waits for its job before answering 202"),
    Setting("call_timeout", float, 300.0, "seconds a job may run before it fails as timed out"),
    Setting("result_ttl", float, 3600.0, "seconds a finished job and its result are kept"),
    Setting("webhook_secret", str, "", "key of the HMAC-SHA256 signature of webhook calls"),
    Setting("webhook_retries", int, 5, "webhook attempts before giving up (backoff doubles from 1 s)"),
    Setting("fetch_allow", str, "", "comma-separated host names inputs and webhooks may be fetched from or sent to"),
    Setting("allow_private", bool, False, "let fetches and webhooks reach private and loopback addresses"),
    Setting("source_url", str, PROJECT_SOURCE, "where the source of this service can be had (shown by /version)"),
    Setting("docs_dir", str, "", "folder of the swagger-ui-dist assets /docs serves"),
    Setting("broker", str, "", "Redis address of the farm (redis://HOST:6379/0); empty runs jobs in-process"),
    Setting("store_dir", str, "", "folder every farm node mounts; documents travel through it"),
    Setting("queues", str, "office,postscript,fast", "the farm queues a worker takes jobs from"),
    Setting("log_level", str, "info", "log level (debug, info, warning)"),
]


@dataclasses.dataclass
class Settings:
    host: str = "127.0.0.1"
    port: int = 8000
    state_dir: str = ""
    api_keys_file: str = ""
    workers: int = 0
    queue_size: int = 64
    max_body: int = 100 * 1024 * 1024
    wait_budget: float = 30.0
    call_timeout: float = 300.0
    result_ttl: float = 3600.0
    webhook_secret: str = ""
    webhook_retries: int = 5
    fetch_allow: str = ""
    allow_private: bool = False
    source_url: str = PROJECT_SOURCE
    docs_dir: str = ""
    broker: str = ""
    store_dir: str = ""
    queues: str = "office,postscript,fast"
    log_level: str = "info"

    def api_keys(self):
        if not self.api_keys_file:
            return set()
        lines = pathlib.Path(self.api_keys_file).read_text().splitlines()
        return {k.strip() for k in lines if k.strip() and not k.startswith("#")}

    def jobs_dir(self):
        return os.path.join(self.store_dir or self.state_dir, "jobs")


def _bool(text):
    return str(text).strip().lower() in ("1", "true", "yes", "on")


def parse(argv):
    """Settings from the command line and the environment."""
    ap = argparse.ArgumentParser(prog="pressmark serve")
    for s in SETTINGS:
        flag = "--" + s.name.replace("_", "-")
        if s.kind is bool:
            ap.add_argument(flag, action="store_true", default=None, help=s.help)
        else:
            ap.add_argument(flag, type=s.kind, default=None, help=s.help)
    args = ap.parse_args(argv)
    values = {}
    for s in SETTINGS:
        v = getattr(args, s.name)
        if v is None:
            env = os.environ.get("PRESSMARK_" + s.name.upper())
            if env is not None:
                v = _bool(env) if s.kind is bool else s.kind(env)
        if v is None:
            v = s.default
        values[s.name] = v
    settings = Settings(**values)
    if not settings.state_dir:
        settings.state_dir = _state_home()
    return settings


def is_loopback(host):
    if host == "localhost":
        return True
    try:
        return ipaddress.ip_address(host).is_loopback
    except ValueError:
        return False


def check_bind(settings):
    """Without API keys the service answers anyone who reaches it: loopback only."""
    if not is_loopback(settings.host) and not settings.api_keys():
        raise SystemExit(f"pressmark serve: refusing to listen on {settings.host} without API keys "
                         "(set --api-keys-file, or listen on 127.0.0.1)")
