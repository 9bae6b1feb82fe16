"""The service's settings: one typed class. Each setting is read from the
command line, then from the environment (PRESSMARK_<NAME in capitals>), then
its default; the command-line flags and the README's table are made from the
same class, so the three cannot disagree."""

from __future__ import annotations

import argparse
import ipaddress
import os
import pathlib
from typing import Any, Dict, List, Optional, Sequence

import pydantic

PROJECT_SOURCE = "https://github.com/pressmark/pressmark"
ENV_PREFIX = "PRESSMARK_"


def state_home() -> str:
    base = os.environ.get("XDG_STATE_HOME") or os.path.join(os.path.expanduser("~"), ".local", "state")
    return os.path.join(base, "pressmark", "service")


def _field(default: Any, help_: str, shown: str = "") -> Any:
    extra: Dict[str, Any] = {"shown": shown} if shown else {}
    return pydantic.Field(default, description=help_, **extra)


class Settings(pydantic.BaseSettings):
    host: str = _field("127.0.0.1", "address to listen on; anything but loopback needs API keys")
    port: int = _field(8000, "port to listen on")
    state_dir: str = _field("", "jobs, their documents and the job store", "~/.local/state/pressmark/service")
    api_keys_file: str = _field("", "file of API keys, one a line; callers send Authorization: Bearer KEY")
    workers: int = _field(0, "jobs run at once (default: the office pool size)")
    queue_size: int = _field(64, "jobs waiting at most; more are answered 429 with Retry-After")
    max_body: int = _field(100 * 1024 * 1024, "largest request body in bytes", "104857600 (100 MB)")
    wait_budget: float = _field(30.0, "seconds a call waits for its job before answering 202")
    call_timeout: float = _field(300.0, "seconds a job may run before it fails as timed out")
    result_ttl: float = _field(3600.0, "seconds a finished job and its result are kept")
    webhook_secret: str = _field("", "key of the HMAC-SHA256 signature of webhook calls")
    webhook_retries: int = _field(5, "webhook attempts before giving up (backoff doubles from 1 s)")
    fetch_allow: str = _field("", "comma-separated host names inputs and webhooks may be fetched from or sent to")
    allow_private: bool = _field(False, "let fetches and webhooks reach private and loopback addresses")
    source_url: str = _field(PROJECT_SOURCE, "where the source of this service can be had (shown by /version)")
    docs_dir: str = _field("", "folder of the swagger-ui-dist assets /docs serves")
    broker: str = _field("", "Redis address of the farm (redis://HOST:6379/0); empty runs jobs in-process")
    store_dir: str = _field("", "folder every farm node mounts; documents travel through it")
    queues: str = _field("office,postscript,fast", "the farm queues a worker takes jobs from")
    log_level: str = _field("info", "log level (debug, info, warning)")

    class Config:
        env_prefix = ENV_PREFIX
        validate_assignment = True

    @pydantic.validator("state_dir", always=True)
    def _state_dir(cls, value: str) -> str:
        return value or state_home()

    def api_keys(self) -> set[str]:
        if not self.api_keys_file:
            return set()
        lines = pathlib.Path(self.api_keys_file).read_text().splitlines()
        return {k.strip() for k in lines if k.strip() and not k.startswith("#")}

    def jobs_dir(self) -> str:
        return os.path.join(self.store_dir or self.state_dir, "jobs")


def _kind(name: str) -> type:
    kind = Settings.__fields__[name].outer_type_
    assert isinstance(kind, type)
    return kind


def flag(name: str) -> str:
    return "--" + name.replace("_", "-")


def parser(prog: str = "pressmark serve") -> argparse.ArgumentParser:
    ap = argparse.ArgumentParser(prog=prog)
    for name, field in Settings.__fields__.items():
        text = field.field_info.description or ""
        if _kind(name) is bool:
            ap.add_argument(flag(name), action="store_true", default=None, help=text)
        else:
            ap.add_argument(flag(name), type=_kind(name), default=None, help=text)
    return ap


def parse(argv: Sequence[str], prog: str = "pressmark serve") -> Settings:
    """Settings from the command line and the environment; the command line wins."""
    args = vars(parser(prog).parse_args(list(argv)))
    given = {k: v for k, v in args.items() if v is not None}
    try:
        return Settings(**given)
    except pydantic.ValidationError as e:
        wrong = "; ".join(f"{ENV_PREFIX}{'.'.join(map(str, x['loc'])).upper()}: {x['msg']}" for x in e.errors())
        raise SystemExit(f"{prog}: {wrong}")


def _shown(name: str) -> str:
    field = Settings.__fields__[name]
    shown = field.field_info.extra.get("shown")
    if shown:
        return str(shown)
    value = field.default
    if isinstance(value, bool):
        return "on" if value else "off"
    return "(none)" if value == "" else str(value)


def settings_table() -> List[str]:
    """The README's table of settings, line by line."""
    rows = ["| Setting | Default | Meaning |", "|---|---|---|"]
    for name, field in Settings.__fields__.items():
        rows.append(f"| `{name}` | {_shown(name)} | {field.field_info.description} |")
    return rows


def is_loopback(host: str) -> bool:
    if host == "localhost":
        return True
    try:
        return ipaddress.ip_address(host).is_loopback
    except ValueError:
        return False


def check_bind(settings: Settings) -> None:
    """Without API keys the service answers anyone who reaches it: loopback only."""
    if not is_loopback(settings.host) and not settings.api_keys():
        raise SystemExit(f"pressmark serve: refusing to listen on {settings.host} without API keys "
                         "(set --api-keys-file, or listen on 127.0.0.1)")


def readme_table(readme: str) -> Optional[str]:
    """The README's text with its settings table made again from the class (None when it has no table)."""
    lines = readme.split("\n")
    try:
        start = lines.index("| Setting | Default | Meaning |")
    except ValueError:
        return None
    end = start
    while end < len(lines) and lines[end].startswith("|"):
        end += 1
    return "\n".join(lines[:start] + settings_table() + lines[end:])
