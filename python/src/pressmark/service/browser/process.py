"""One headless Chromium: started with its sandbox on, as an unprivileged
user when the service runs as root, in a private profile folder only that
user can read, in a process group of its own that dies with the service.

The network is fenced twice. Every request a page makes is paused and
answered by the service (see job.py); and should anything slip past that
(a socket the interception does not see), no name resolves and every
connection, loopback ones included, is sent to a proxy where nothing
listens."""

from __future__ import annotations

import ctypes
import json
import os
import pwd
import shutil
import signal
import subprocess
import tempfile
import threading
from typing import TYPE_CHECKING, List, Optional

from .devtools import Connection

if TYPE_CHECKING:
    from .job import Tab

PR_SET_PDEATHSIG = 1
# A port of the loopback where nothing listens (the discard service, never run): the dead proxy.
DEAD_PROXY = "http://127.0.0.1:9"


def flags(profile: str, heap_mb: int) -> List[str]:
    return ["--headless", "--disable-gpu", "--no-first-run", "--no-default-browser-check",
            "--disable-background-networking", "--disable-component-update", "--disable-sync",
            "--disable-default-apps", "--disable-extensions", "--disable-breakpad", "--disable-crash-reporter",
            "--mute-audio",
            "--disable-features=Translate,MediaRouter,OptimizationHints,DialMediaRouteProvider",
            "--host-resolver-rules=MAP * ~NOTFOUND", f"--proxy-server={DEAD_PROXY}",
            # Without this the loopback is reached directly, past the proxy.
            "--proxy-bypass-list=<-loopback>",
            f"--js-flags=--max-old-space-size={heap_mb}", "--renderer-process-limit=2",
            "--remote-debugging-pipe", f"--user-data-dir={profile}", "about:blank"]


class Browser:
    """A running browser and its DevTools connection."""

    def __init__(self, program: str, user: str, heap_mb: int) -> None:
        self.profile = tempfile.mkdtemp(prefix="pressmark-chromium-")
        # WebRTC's UDP (STUN and TURN to an address given as a number) passes neither the proxy nor the resolver's
        # rules: the profile lets it through the proxy only, so it goes nowhere.
        default = os.path.join(self.profile, "Default")
        os.mkdir(default)
        with open(os.path.join(default, "Preferences"), "w") as f:
            json.dump({"webrtc": {"ip_handling_policy": "disable_non_proxied_udp"}}, f)
        uid = gid = -1
        if os.geteuid() == 0 and user:
            entry = pwd.getpwnam(user)
            uid, gid = entry.pw_uid, entry.pw_gid
            if uid == 0:
                raise RuntimeError("the browser does not run as root: name another user (chromium_user)")
            for path in (self.profile, default, os.path.join(default, "Preferences")):
                os.chown(path, uid, gid)
        os.chmod(self.profile, 0o700)
        cmd_r, cmd_w = os.pipe()
        out_r, out_w = os.pipe()

        def child() -> None:
            # In the new process, once it has its user (a change of user clears the signal), before the browser
            # starts: its pipe's ends at fds 3 and 4, and the signal that ends it with the thread that started it.
            a, b = os.dup(cmd_r), os.dup(out_w)
            os.dup2(a, 3, inheritable=True)
            os.dup2(b, 4, inheritable=True)
            ctypes.CDLL(None, use_errno=True).prctl(PR_SET_PDEATHSIG, signal.SIGKILL, 0, 0, 0)

        env = {"HOME": self.profile, "PATH": "/usr/bin:/bin", "LANG": os.environ.get("LANG", "C.UTF-8"),
               "XDG_CONFIG_HOME": os.path.join(self.profile, ".config"),
               "XDG_CACHE_HOME": os.path.join(self.profile, ".cache")}
        try:
            self.proc: Optional[subprocess.Popen[bytes]] = subprocess.Popen(
                [program, *flags(self.profile, heap_mb)], preexec_fn=child, pass_fds=(3, 4),
                user=uid if uid >= 0 else None, group=gid if gid >= 0 else None,
                extra_groups=[] if uid >= 0 else None,
                start_new_session=True, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                stderr=subprocess.DEVNULL, env=env, cwd=self.profile, close_fds=True)
        except BaseException:
            for fd in (cmd_r, cmd_w, out_r, out_w):
                os.close(fd)
            shutil.rmtree(self.profile, ignore_errors=True)
            raise
        os.close(cmd_r)
        os.close(out_w)
        self.pid = self.proc.pid
        self.devtools = Connection(cmd_w, out_r)
        # The tab the next job takes, made ahead; set once it is made (or could not be).
        self.spare: Optional["Tab"] = None
        self.spare_ready = threading.Event()

    @property
    def alive(self) -> bool:
        return self.proc is not None and self.proc.poll() is None and not self.devtools.closed.is_set()

    def kill(self) -> None:
        """The browser's whole process group ends, and its profile goes."""
        if self.proc is not None:
            try:
                os.killpg(self.pid, signal.SIGKILL)
            except (ProcessLookupError, PermissionError):
                pass
            try:
                self.proc.wait(10)
            except subprocess.TimeoutExpired:
                pass
            self.proc = None
        self.devtools.close()
        shutil.rmtree(self.profile, ignore_errors=True)
