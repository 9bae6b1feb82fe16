"""The service's settings: one typed class. Each setting is read from the
command line, then from the environment (PRESSMARK_<NAME in capitals>), then
its default; the command-line flags and the settings table of
docs/operations.md are made from the same class, so the three cannot
disagree."""

from __future__ import annotations

import argparse
import base64
import binascii
import ipaddress
import os
import pathlib
from typing import List, Optional, Sequence

import pydantic
from pydantic import Field

PROJECT_SOURCE = "https://github.com/pressmark/pressmark"
ENV_PREFIX = "PRESSMARK_"


def state_home() -> str:
    base = os.environ.get("XDG_STATE_HOME") or os.path.join(os.path.expanduser("~"), ".local", "state")
    return os.path.join(base, "pressmark", "service")


class Settings(pydantic.BaseSettings):
    """Each field is a setting: its description is the help of its flag and its row in the operations guide."""

    host: str = Field("127.0.0.1", description="address to listen on; anything but loopback needs API keys")
    port: int = Field(8000, description="port to listen on")
    state_dir: str = Field("", description="jobs, their documents and the job store",
                           shown="~/.local/state/pressmark/service")
    api_keys_file: str = Field("", description="file of API keys, one a line; callers send Authorization: Bearer KEY")
    workers: int = Field(0, description="jobs run at once (default: the office pool size)")
    queue_size: int = Field(64, description="jobs waiting at most; more are answered 429 with Retry-After")
    max_body: int = Field(100 * 1024 * 1024, description="largest request body in bytes", shown="104857600 (100 MB)")
    wait_budget: float = Field(30.0, description="seconds a call waits for its job before answering 202")
    call_timeout: float = Field(300.0, description="seconds a job may run before it fails as timed out")
    result_ttl: float = Field(3600.0, description="seconds a finished job and its result are kept")
    results_disk_cap: int = Field(10 << 30, description="bytes the kept jobs' folders may take; past it the oldest "
                                  "finished jobs go first", shown="10737418240 (10 GiB)")
    header_timeout: float = Field(10.0, description="seconds a client has to send a request's headers")
    body_timeout: float = Field(30.0, description="seconds a client may pause while sending a request body")
    client_connections: int = Field(32, description="connections one client address may hold open at once")
    max_connections: int = Field(1000, description="connections and requests in progress at once; more are "
                                 "answered 503")
    drain_grace: float = Field(30.0, description="seconds callers waiting on their jobs get to finish when the "
                               "service stops")
    webhook_secret: str = Field("", description="key of the webhook signatures (Standard Webhooks): whsec_ and its "
                                "bytes in base64")
    webhook_retries: int = Field(5, description="webhook attempts before giving up (the waits double from 1 s, "
                                 "with jitter)")
    fetch_allow: str = Field("", description="comma-separated host names inputs and webhooks may be fetched from or "
                             "sent to; * for any")
    allow_private: bool = Field(False, description="let fetches and webhooks reach private and loopback addresses")
    source_url: str = Field(PROJECT_SOURCE, description="where the source of this service can be had (shown by "
                            "/version)")
    docs_dir: str = Field("", description="folder of the swagger-ui-dist assets /docs serves")
    broker: str = Field("", description="Redis address of the farm (redis://HOST:6379/0); empty runs jobs "
                        "in-process")
    store_dir: str = Field("", description="folder every farm node mounts; documents travel through it")
    queues: str = Field("office,ocr,postscript,fast,browser", description="the farm queues a worker takes jobs from")
    chromium: str = Field("/usr/bin/chromium", description="the headless Chromium web pages are printed with")
    chromium_pool: int = Field(2, description="warm browsers the service keeps, one page at a time each (a farm "
                               "worker's process, which runs one job at a time, keeps one)")
    chromium_timeout: float = Field(60.0, description="seconds a web page may take to load, wait and print")
    chromium_user: str = Field("nobody", description="the user the browser runs as when the service runs as root")
    chromium_heap_mb: int = Field(512, description="MB of JavaScript heap a page may use (V8's old space)")
    log_level: str = Field("info", description="log level (debug, info, warning)")
    test_gate_dir: str = Field("", description="for tests only: a folder; POST /v1/test/gate then runs a job that "
                               "waits until a file named open appears there")

    class Config:
        env_prefix = ENV_PREFIX
        validate_assignment = True

    @pydantic.validator("webhook_secret")
    def _webhook_secret(cls, value: str) -> str:
        if value.startswith("whsec_"):
            try:
                base64.b64decode(value[len("whsec_"):], validate=True)
            except binascii.Error:
                raise ValueError("a whsec_ secret is whsec_ and base64")
        return value

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
    """The operations guide's table of settings, line by line."""
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


def with_settings_table(text: str) -> Optional[str]:
    """A document's text with its settings table made again from the class (None when it has no table)."""
    lines = text.split("\n")
    try:
        start = lines.index("| Setting | Default | Meaning |")
    except ValueError:
        return None
    end = start
    while end < len(lines) and lines[end].startswith("|"):
        end += 1
    return "\n".join(lines[:start] + settings_table() + lines[end:])
