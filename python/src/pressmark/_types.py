"""The Python side of the values and errors that cross into the component.

The extension module imports this file when it loads and keeps the classes it
needs to build results, so every class here is created once per interpreter.
"""

import datetime as _dt
import decimal as _decimal
import inspect as _inspect
import typing as _typing

VT_VARIANT = 12


class AutomationError(Exception):
    """An error a member raised: the automation error's number, source and description.

    The message reads like the pressmark shell's error line:
    ``error 53 (Pressmark): File not found``.

    ``args`` is laid out as pywin32's ``com_error``, so handlers written for
    it port unchanged::

        except AutomationError as e:
            hresult, strerror, excepinfo, argerror = e.args
            wcode, source, description, helpfile, helpcontext, scode = excepinfo

    ``hresult`` is DISP_E_EXCEPTION (the member raised an error), ``scode``
    the error as an HRESULT (a Basic error number n reads 0x800A0000 | n).
    """

    def __init__(self, number, source, description):
        number = int(number)
        excepinfo = (0, source, description, None, 0, _scode(number))
        super().__init__(DISP_E_EXCEPTION, "Exception occurred.", excepinfo, None)
        self.number = number
        self.source = source
        self.description = description

    def __str__(self):
        return f"error {self.number} ({self.source}): {self.description}"

    def __reduce__(self):
        return type(self), (self.number, self.source, self.description)


DISP_E_EXCEPTION = -2147352567


def _scode(number):
    """The HRESULT of an error number, signed as pywin32 reports it."""
    if 0 < number <= 0xFFFF:
        number |= 0x800A0000
    number &= 0xFFFFFFFF
    return number - 0x100000000 if number & 0x80000000 else number


class MemberNotFoundError(AutomationError, AttributeError):
    """Error 438: the object has no member of that name.

    Also an AttributeError, so ``hasattr`` and ``getattr(obj, name, default)``
    work as they do on any Python object.
    """


class _Singleton:
    __slots__ = ("_name",)

    def __init__(self, name):
        self._name = name

    def __repr__(self):
        return f"pressmark.{self._name}"

    def __reduce__(self):
        return self._name

    def __copy__(self):
        return self

    def __deepcopy__(self, memo):
        return self


class _NullType(_Singleton):
    __slots__ = ()

    def __bool__(self):
        return False


class _NothingType(_Singleton):
    __slots__ = ()

    def __bool__(self):
        return False


Null = _NullType("Null")
Nothing = _NothingType("Nothing")


class ErrorValue:
    """A Variant of the Error kind (an scode), such as the marker of an omitted argument."""

    __slots__ = ("scode",)

    def __init__(self, scode):
        self.scode = int(scode)

    def __eq__(self, other):
        return isinstance(other, ErrorValue) and other.scode == self.scode

    def __hash__(self):
        return hash(("ErrorValue", self.scode))

    def __repr__(self):
        if self.scode == _PARAM_NOT_FOUND:
            return "pressmark.Missing"
        return f"pressmark.ErrorValue({self.scode:#x})"


_PARAM_NOT_FOUND = -2147352572
Missing = ErrorValue(_PARAM_NOT_FOUND)


class Ref:
    """A variable passed by reference: a member that writes to the parameter
    leaves the new value in ``.value``."""

    __slots__ = ("value",)

    def __init__(self, value: _typing.Any = None) -> None:
        self.value = value

    def __repr__(self):
        return f"pressmark.Ref({self.value!r})"


class Array(list):
    """An array with its lower bounds, as members return them.

    The items are nested lists, the first index outermost: ``a[i][j]`` is the
    element (i + lbounds[0], j + lbounds[1]). ``shape`` holds the count of each
    dimension (needed when one of them is empty) and ``vartype`` the element
    type (12 = Variant). Passing an Array back gives the member the same
    bounds and element type; a plain list has lower bounds 0.
    """

    def __init__(self, items=(), lbounds=None, vartype=VT_VARIANT, shape=None):
        super().__init__(items)
        if lbounds is None:
            lbounds = (0,) * (len(shape) if shape is not None else 1)
        self.lbounds = tuple(int(x) for x in lbounds)
        if shape is None:
            shape, level = [], [self]
            for depth in range(len(self.lbounds)):
                shape.append(len(level[0]) if level else 0)
                if depth + 1 < len(self.lbounds):
                    level = [x for node in level for x in node]
        self.shape = tuple(int(x) for x in shape)
        if len(self.lbounds) != len(self.shape):
            raise ValueError("lbounds and shape differ in the number of dimensions")
        self.vartype = int(vartype)

    @property
    def ubounds(self):
        return tuple(lo + n - 1 for lo, n in zip(self.lbounds, self.shape))

    def __repr__(self):
        return f"pressmark.Array({list.__repr__(self)}, lbounds={self.lbounds})"


# ---- Conversions the extension calls for the kinds Python computes best ----

_EPOCH = _dt.datetime(1899, 12, 30)
_CURRENCY_SCALE = _decimal.Decimal(10000)
_CURRENCY_CONTEXT = _decimal.Context(prec=40, rounding=_decimal.ROUND_HALF_EVEN)


def _currency_scaled(d):
    # Currency keeps four decimal places; further digits round to even.
    return int(_CURRENCY_CONTEXT.multiply(d, _CURRENCY_SCALE).to_integral_value(rounding=_decimal.ROUND_HALF_EVEN))


def _currency(scaled):
    return _decimal.Decimal(scaled).scaleb(-4)


def _date_serial(value):
    if isinstance(value, _dt.datetime):
        if value.tzinfo is not None:
            value = value.astimezone().replace(tzinfo=None)
    else:
        value = _dt.datetime(value.year, value.month, value.day)
    delta = value - _EPOCH
    ms = round(delta.seconds * 1000 + delta.microseconds / 1000)
    if delta.days < 0:
        # Before the epoch the day counts down while the time of day still
        # counts up: -1.25 is 29 December 1899, 06:00.
        return delta.days - ms / 86400000.0
    return delta.days + ms / 86400000.0


def _date(serial):
    day = int(serial)  # toward zero, as the day part of a date serial reads
    ms = round(abs(serial - day) * 86400000.0)
    return _EPOCH + _dt.timedelta(days=day, milliseconds=ms)


# ---- Member functions with the member table's signature and help ----

class ServerPath(str):
    """The annotation of a parameter that names something on the machine the
    member runs on (a file, folder, printer, address or data source), as the
    member table marks it: a caller from elsewhere must never choose it."""


def path_parameters(function: _typing.Any) -> _typing.FrozenSet[str]:
    """The names of a member function's parameters the member table marks as server paths."""
    try:
        params = _inspect.signature(function).parameters.values()
    except (TypeError, ValueError):
        return frozenset()
    return frozenset(p.name for p in params if p.annotation is ServerPath)


def _member_function(name, kind, params, help_text, call):
    """A function for one member of a member table; bound to an object it
    shows the parameters, defaults and help text in ``help()``."""

    def member(self, *args, **kwargs):
        return call(self, name, kind, args, kwargs)

    member.__name__ = member.__qualname__ = name
    sig_params = [_inspect.Parameter("self", _inspect.Parameter.POSITIONAL_OR_KEYWORD)]
    lines = []
    for pname, type_name, byref, optional, has_default, default, path in params:
        note = [type_name, "by reference" if byref else "by value"]
        if optional:
            note.append(f"optional, default {default!r}" if has_default else "optional")
        if path:
            note.append("a path on the server")
        lines.append(f"    {pname}: {', '.join(note)}")
        ann = ServerPath if path else _inspect.Parameter.empty
        if optional:
            dflt = default if has_default else Missing
            sig_params.append(_inspect.Parameter(pname, _inspect.Parameter.POSITIONAL_OR_KEYWORD, default=dflt,
                                                 annotation=ann))
        else:
            sig_params.append(_inspect.Parameter(pname, _inspect.Parameter.POSITIONAL_OR_KEYWORD, annotation=ann))
    try:
        member.__signature__ = _inspect.Signature(sig_params)
    except ValueError:
        pass  # a required parameter after an optional one has no Python signature
    doc = help_text or ""
    if lines:
        doc = (doc + "\n\n" if doc else "") + "Parameters:\n" + "\n".join(lines)
    member.__doc__ = doc
    return member


def _late_function(name, call):
    """A method of an object that has no member table: called by name."""

    def member(self, *args, **kwargs):
        return call(self, name, 1, args, kwargs)

    member.__name__ = member.__qualname__ = name
    member.__doc__ = f"{name}: a member called by name (the object has no member table)."
    return member
