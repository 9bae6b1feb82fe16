"""A DevTools protocol client over the pipe a browser started with
--remote-debugging-pipe reads and writes: commands go in on its fd 3, replies
and events come out on its fd 4, each message JSON ended by a NUL byte. No
port is opened, so no other user of the machine can reach the browser.

One reader thread per browser hands each reply to the call waiting for it and
each event to the listener of the session it names (events of the browser
itself have no session)."""

from __future__ import annotations

import json
import os
import threading
from typing import Any, Callable, Dict, Optional

Event = Callable[[str, Dict[str, Any]], None]


class Gone(Exception):
    """The browser's pipe closed: the browser ended (or was ended)."""


class CommandFailed(Exception):
    """The browser answered a command with an error."""


class _Waiter:
    def __init__(self) -> None:
        self.done = threading.Event()
        self.reply: Dict[str, Any] = {}


class Connection:
    """Commands to a browser and its sessions over the pipe's two ends (this process's own)."""

    def __init__(self, to_browser: int, from_browser: int) -> None:
        self._out = to_browser
        self._in = from_browser
        self._lock = threading.Lock()
        self._next = 0
        self._waiting: Dict[int, _Waiter] = {}
        self._listeners: Dict[str, Event] = {}
        self.closed = threading.Event()
        self._reader = threading.Thread(target=self._read, name="devtools-read", daemon=True)
        self._reader.start()

    def listen(self, session: str, listener: Optional[Event]) -> None:
        """Events of a session ("" for the browser's own) go to `listener`; None stops them."""
        with self._lock:
            if listener is None:
                self._listeners.pop(session, None)
            else:
                self._listeners[session] = listener

    def call(self, method: str, params: Optional[Dict[str, Any]] = None, session: str = "",
             timeout: float = 30.0) -> Dict[str, Any]:
        """The result of one command; CommandFailed when the browser refuses it, Gone when it has ended,
        TimeoutError when it does not answer in time."""
        waiter = _Waiter()
        with self._lock:
            if self.closed.is_set():
                raise Gone("the browser has ended")
            self._next += 1
            number = self._next
            self._waiting[number] = waiter
        message: Dict[str, Any] = {"id": number, "method": method, "params": params or {}}
        if session:
            message["sessionId"] = session
        try:
            self._send(json.dumps(message).encode() + b"\0")
            if not waiter.done.wait(timeout):
                raise TimeoutError(f"the browser did not answer {method} within {timeout:.0f} s")
        finally:
            with self._lock:
                self._waiting.pop(number, None)
        if "error" in waiter.reply:
            raise CommandFailed(f"{method}: {waiter.reply['error'].get('message', waiter.reply['error'])}")
        if "closed" in waiter.reply:
            raise Gone("the browser has ended")
        result = waiter.reply.get("result", {})
        return result if isinstance(result, dict) else {}

    def send(self, method: str, params: Optional[Dict[str, Any]] = None, session: str = "") -> None:
        """A command whose answer nobody waits for (answers to paused requests, from the reader's listeners)."""
        with self._lock:
            if self.closed.is_set():
                return
            self._next += 1
            number = self._next
        message: Dict[str, Any] = {"id": number, "method": method, "params": params or {}}
        if session:
            message["sessionId"] = session
        try:
            self._send(json.dumps(message).encode() + b"\0")
        except Gone:
            pass

    def _send(self, data: bytes) -> None:
        with self._lock:
            if self._out < 0:
                raise Gone("the browser has ended")
            try:
                view = memoryview(data)
                while view:
                    n = os.write(self._out, view)
                    view = view[n:]
            except OSError as e:
                raise Gone(f"the browser has ended ({e})") from e

    def _read(self) -> None:
        pending = bytearray()
        try:
            while True:
                try:
                    chunk = os.read(self._in, 1 << 20)
                except OSError:
                    break
                if not chunk:
                    break
                pending += chunk
                while True:
                    end = pending.find(b"\0")
                    if end < 0:
                        break
                    raw = bytes(pending[:end])
                    del pending[:end + 1]
                    self._dispatch(raw)
        finally:
            self._close()

    def _dispatch(self, raw: bytes) -> None:
        try:
            message = json.loads(raw)
        except ValueError:
            return
        if not isinstance(message, dict):
            return
        if "id" in message:
            with self._lock:
                waiter = self._waiting.get(message["id"])
            if waiter is not None:
                waiter.reply = message
                waiter.done.set()
            return
        with self._lock:
            listener = self._listeners.get(str(message.get("sessionId", "")))
        if listener is not None:
            try:
                listener(str(message.get("method", "")), message.get("params") or {})
            except Exception:  # a listener's fault must not stop the reader
                pass

    def _close(self) -> None:
        with self._lock:
            self.closed.set()
            waiting = list(self._waiting.values())
            listeners = list(self._listeners.values())
        for w in waiting:
            w.reply = {"closed": True}
            w.done.set()
        for listener in listeners:
            try:
                listener("", {})   # the browser has ended: whoever waits on events stops waiting
            except Exception:
                pass
        try:
            os.close(self._in)
        except OSError:
            pass

    def close(self) -> None:
        """Closes this end of the commands' pipe (the browser, if still running, reads its end)."""
        with self._lock:
            self.closed.set()
            if self._out >= 0:
                os.close(self._out)
                self._out = -1
