"""Python idioms on the component's objects, on top of the automation calls.

- ``with obj:`` closes a document (CloseDoc, or Close without arguments) at
  the end of the block;
- an object with Count and Item (a Collection) has ``len()``, iteration and
  ``[i]`` (0-based, negative from the end) / ``[key]``;
- ``DispatchWithEvents(progid, handler_class)`` as pywin32 has it.
"""

import inspect as _inspect

from ._pressmark import Dispatch, Object, WithEvents
from ._types import AutomationError

# The Basic error a collection raises for a position or key it does not hold.
_INVALID_CALL = 5


def _names(obj):
    return {n.lower(): n for n in dir(obj)}


def _member(obj, *candidates):
    names = _names(obj)
    for c in candidates:
        if c.lower() in names:
            return names[c.lower()]
    return None


def _enter(self):
    return self


def _exit(self, exc_type, exc, tb):
    name = _member(self, "CloseDoc", "Close")
    if name is not None:
        method = getattr(self, name)
        try:
            required = [p for p in _inspect.signature(method).parameters.values() if p.default is p.empty]
        except (TypeError, ValueError):
            required = []
        # A Close that needs arguments (whether to save) is the caller's to make.
        if callable(method) and not required:
            method()
    return False


def _is_collection(obj):
    names = _names(obj)
    return "count" in names and "item" in names


def _len(self):
    if not _is_collection(self):
        raise TypeError(f"{self!r} has no len(): it has no Count and Item")
    return int(self.Count)


def _getitem(self, index):
    if not _is_collection(self):
        raise TypeError(f"{self!r} is not subscriptable: it has no Count and Item")
    if isinstance(index, bool) or not isinstance(index, (int, str)):
        raise TypeError("a collection is indexed by an int position or a str key")
    if isinstance(index, int):
        n = int(self.Count)
        i = index + n if index < 0 else index
        if not 0 <= i < n:
            raise IndexError(f"collection index {index} out of range (Count {n})")
        return self.Item(i + 1)
    try:
        return self.Item(index)
    except AutomationError as e:
        if e.number == _INVALID_CALL:
            raise KeyError(index) from e
        raise


def _iter(self):
    if not _is_collection(self):
        raise TypeError(f"{self!r} is not iterable: it has no Count and Item")
    return (self.Item(i + 1) for i in range(int(self.Count)))


Object.__enter__ = _enter
Object.__exit__ = _exit
Object.__len__ = _len
Object.__getitem__ = _getitem
Object.__iter__ = _iter
# An object is true even when it is an empty collection, as before len().
Object.__bool__ = lambda self: True


class _EventsObject:
    """The object DispatchWithEvents returns: the handler's methods and
    attributes first, then the component object's members."""

    def __getattr__(self, name):
        if name.startswith("__"):
            raise AttributeError(name)
        return getattr(object.__getattribute__(self, "_oleobj_"), name)

    def __setattr__(self, name, value):
        try:
            object.__getattribute__(self, name)
            mine = True
        except AttributeError:
            mine = name.startswith("_")
        if not mine:
            try:
                setattr(self._oleobj_, name, value)
                return
            except AttributeError:
                pass  # not the object's member (error 438): the handler's own attribute, as in pywin32
        object.__setattr__(self, name, value)

    def __dir__(self):
        return sorted(set(dir(self._oleobj_)) | set(object.__dir__(self)))

    def __repr__(self):
        return f"<DispatchWithEvents {self._oleobj_!r}>"

    def close(self):
        """Disconnects the handler (events stop)."""
        self._connection_.close()


class _HandlerView:
    """What the connection sees of a DispatchWithEvents object: the handler's
    own methods only, so looking for an event method never calls into the
    object that raises the event."""

    __slots__ = ("_target",)

    def __init__(self, target):
        self._target = target

    def __getattr__(self, name):
        return object.__getattribute__(self._target, name)

    def __dir__(self):
        return object.__dir__(self._target)


def DispatchWithEvents(progid, user_event_class):
    """Creates the object (a ProgID, a class id or an existing object) and
    connects a new instance of user_event_class to its events, as pywin32's
    win32com.client.DispatchWithEvents does.

    The result answers the object's members and the handler's own methods and
    attributes; its On<Event> methods are called with the event's arguments.
    user_event_class.__init__ is called without arguments besides self.
    """
    obj = progid if isinstance(progid, Object) else Dispatch(progid)
    cls = type("COMEventClass", (_EventsObject, user_event_class), {})
    instance = cls.__new__(cls)
    object.__setattr__(instance, "_oleobj_", obj)
    init = getattr(user_event_class, "__init__", None)
    if init is not None and init is not object.__init__:
        init(instance)
    object.__setattr__(instance, "_connection_", WithEvents(obj, _HandlerView(instance)))
    return instance
