"""A worker step that asks the broker for the next message as soon as the
last one is acknowledged.

With one message in hand per slot (prefetch 1, acknowledged late) the Redis
transport stops asking for messages while every slot is busy, and asks again
from a callback that runs at the start of each turn of the worker's event
loop. The acknowledgement itself runs later in the turn, just before the loop
sleeps until its next timer or event: up to two seconds during which a
waiting job sits in Redis while the worker idles. The callbacks run again
once the turn's work is done, so the request goes out before the loop sleeps.
"""

from __future__ import annotations

from typing import Any

from celery import bootsteps


class PromptPickup(bootsteps.StartStopStep):  # type: ignore[misc]
    requires = {"celery.worker.components:Hub"}

    def create(self, worker: Any) -> None:
        hub: Any = getattr(worker, "hub", None)
        if hub is None:
            return  # a pool without an event loop asks for messages itself
        fire_timers = hub.fire_timers

        def fire_timers_then_poll(*args: Any, **kwargs: Any) -> Any:
            delay = fire_timers(*args, **kwargs)
            for tick in list(hub.on_tick):
                tick()
            return delay

        hub.fire_timers = fire_timers_then_poll
