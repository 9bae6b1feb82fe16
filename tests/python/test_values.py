# Every value kind through a Variant and back, and the typed conversions.
import datetime
import decimal

import pytest

import pressmark

VT_INTEGER, VT_LONG, VT_SINGLE, VT_DOUBLE, VT_CURRENCY, VT_DATE, VT_STRING, VT_BOOL, VT_BYTE = 2, 3, 4, 5, 6, 7, 8, 11, 17

ROUND_TRIPS = [
    ("empty", None), ("null", pressmark.Null), ("true", True), ("false", False), ("long", -123456),
    ("long max", 2**31 - 1), ("double", 2.5), ("text", "Grüße, 世界"), ("empty text", ""),
    ("currency", decimal.Decimal("-12345.6789")), ("date", datetime.datetime(2024, 2, 29, 13, 45, 7, 250000)),
    ("date before 1900", datetime.datetime(1899, 12, 29, 6, 0)), ("error value", pressmark.ErrorValue(-2147352571)),
    ("missing", pressmark.Missing), ("bytes", b"\x00\x01\xfe\xff"), ("list", [1, "two", None, 4.5, True]),
    ("two dimensions", [[1, 2, 3], [4, 5, 6]]), ("three dimensions", [[[1, 2], [3, 4]], [[5, 6], [7, 8]]]),
    ("nested arrays", [[1], [2, 3]]), ("empty list", []),
]


@pytest.mark.parametrize("value", [v for _, v in ROUND_TRIPS], ids=[n for n, _ in ROUND_TRIPS])
def test_round_trip(value):
    back = pressmark._pressmark._convert(value)
    assert back == value
    assert type(back) is type(value) or isinstance(value, list) and isinstance(back, list)


def test_arrays_keep_their_bounds_and_element_type():
    a = pressmark.Array([["a", "b"], ["c", "d"]], lbounds=(1, 1), vartype=VT_STRING)
    back = pressmark._pressmark._convert(a)
    assert (back, back.lbounds, back.ubounds, back.vartype) == ([["a", "b"], ["c", "d"]], (1, 1), (2, 2), VT_STRING)
    assert pressmark._pressmark._convert(back).lbounds == (1, 1)
    # An empty dimension keeps its partner's count.
    empty = pressmark.Array([], lbounds=(0, 0), shape=(0, 3))
    assert pressmark._pressmark._convert(empty).shape == (0, 3)
    # Typed arrays convert what is stored in them.
    longs = pressmark._pressmark._convert(pressmark.Array(["7", 8.6], vartype=VT_LONG))
    assert longs == [7, 9] and longs.vartype == VT_LONG


def test_objects_come_back_as_the_same_object():
    pdf = pressmark.CreatePDF()
    assert pressmark._pressmark._convert([pdf])[0] == pdf
    assert pressmark._pressmark._convert(pressmark.Nothing) is None


CONVERSIONS = [
    (5, VT_INTEGER, 5), ("12", VT_LONG, 12), (2.5, VT_INTEGER, 2),  # Basic rounds half to even
    (0.1, VT_SINGLE, pytest.approx(0.1, rel=1e-7)), (1.23456, VT_CURRENCY, decimal.Decimal("1.2346")),
    (True, VT_STRING, "True"), (200, VT_BYTE, 200), (45351.5, VT_DATE, datetime.datetime(2024, 2, 29, 12, 0)),
    (-1, VT_BOOL, True), (2**31, VT_DOUBLE, float(2**31)),
]


@pytest.mark.parametrize("value,vartype,expected", CONVERSIONS)
def test_basic_conversions(value, vartype, expected):
    assert pressmark._pressmark._convert(value, vartype) == expected


# Integer overflow, no exact automation number, no automation value at all,
# text that is no number.
@pytest.mark.parametrize("value,number", [(70000, 6), (2**60, 6), (object(), 13), ("x", 13)])
def test_values_refused_with_the_automation_error(value, number):
    with pytest.raises(pressmark.AutomationError) as e:
        pressmark._pressmark._convert(value, VT_INTEGER)
    assert e.value.number == number


def test_lists_that_contain_themselves_or_nest_too_deep_raise():
    itself, alone, deep, ragged = [1], [], [], 1
    itself.append(itself)
    alone.append(alone)
    for _ in range(70000):
        deep, ragged = [deep], [ragged, [1, 2, 3]]
    for value, words in [(itself, "contains itself"), (alone, "contains itself"), ([[alone]], "contains itself"),
                         (deep, "more than 60 dimensions"), (ragged, "more than 256 levels deep")]:
        with pytest.raises(pressmark.AutomationError, match=words) as e:
            pressmark._pressmark._convert(value)
        assert e.value.number == 5
    shared = [1, 2]
    assert pressmark._pressmark._convert([shared, shared]) == [[1, 2], [1, 2]]


def test_big_integers_become_doubles_as_basic_literals_do_and_null_is_not_none():
    big = pressmark._pressmark._convert(3_000_000_000)
    assert big == 3e9 and isinstance(big, float)
    assert pressmark.Null is not None and not pressmark.Null
