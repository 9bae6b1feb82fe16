"""The engines that run jobs: embedded (threads in this process) or the farm
(Celery workers on any host)."""

from .base import Engine
from .embedded import Embedded
from .farm import Gateway

__all__ = ["Engine", "Embedded", "Gateway"]
