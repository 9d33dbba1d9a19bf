"""How dicts are encoded into stored documents, checked on the bytes in the database file."""

import collections
import dataclasses
import datetime
import decimal
import enum
import gc
import json
import math
import os
import sqlite3
import tempfile
import types
from collections.abc import Mapping, Sequence

import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

import quorvane


class Color(enum.IntEnum):
    RED = 1


class Name(str):
    pass


class Ratio(float):
    pass


class Row(list):
    pass


Point = collections.namedtuple("Point", "x y")


class Pairs(Mapping):
    """A mapping whose keys() repeat a key: the later value replaces the earlier."""

    def __getitem__(self, key):
        raise KeyError(key)

    def __iter__(self):
        return iter(())

    def __len__(self):
        return 0

    def keys(self):
        return ["b", "a", "b"]

    def values(self):
        return [1, 2, 3]


class Countdown(Sequence):
    def __len__(self):
        return 3

    def __getitem__(self, index):
        return 3 - index


@dataclasses.dataclass
class Inner:
    z: float
    y: list


@dataclasses.dataclass
class Outer:
    name: str
    inner: Inner


@dataclasses.dataclass
class DictDataclass(dict):
    a: int = 1


class Holder:
    class Nested:
        pass


class StrFails(Exception):
    def __str__(self):
        raise ValueError("no text")


class Failing(Sequence):
    def __init__(self, error):
        self.error = error

    def __len__(self):
        raise self.error

    def __getitem__(self, index):
        raise IndexError(index)


class FailingKeys(Mapping):
    def __getitem__(self, key):
        raise KeyError(key)

    def __iter__(self):
        return iter(())

    def __len__(self):
        return 0

    def keys(self):
        raise LookupError("no keys")


@dataclasses.dataclass(slots=True)
class Slotted:
    x: int


def nested_lists(levels):
    value = []
    for _ in range(levels - 1):
        value = [value]
    return value


def store_all(db_path, read_documents, payloads):
    """Inserts each payload under its index as id; gives the stored bytes in that order."""
    db = quorvane.DBEngine(db_path)
    for i, payload in enumerate(payloads):
        db.insert(str(i), payload)
    db.close_engine()
    del db
    stored = read_documents()
    return [stored[str(i)] for i in range(len(payloads))]


SORTED_KEYS = [
    ({"b": 1, "a": {"d": 2, "c": 3}}, b'{"a":{"c":3,"d":2},"b":1}'),
    ({"b": 1, "a": [True, None, 2.5, "x"]}, b'{"a":[true,null,2.5,"x"],"b":1}'),
    ({"ab": 1, "b": 3, "a": 2, "": 4}, b'{"":4,"a":2,"ab":1,"b":3}'),
    # Byte order of the UTF-8, not code units: U+FFFF sorts before U+1F600.
    ({"\U0001f600": 3, "\uffff": 4, "\u00e9": 1, "z": 2},
     '{"z":2,"\u00e9":1,"\uffff":4,"\U0001f600":3}'.encode()),
    # Keys sort by their text, not by their escaped form.
    ({"A": 2, "\x01": 1}, b'{"\\u0001":1,"A":2}'),
    ({"x": [{"b": 1, "a": 2}, {}], "e": []}, b'{"e":[],"x":[{"a":2,"b":1},{}]}'),
    ({}, b"{}"),
]


def test_keys_sorted_at_every_level(db_path, read_documents):
    stored = store_all(db_path, read_documents, [payload for payload, _ in SORTED_KEYS])
    assert stored == [expected for _, expected in SORTED_KEYS]


VALUES = [
    ('q"b\\/', rb'"q\"b\\/"'),
    ("\x00\x01\x1f", rb'"\u0000\u0001\u001f"'),
    ("\b\t\n\f\r", rb'"\b\t\n\f\r"'),
    ("\x7f \u00e9 \U0001f600", '"\x7f \u00e9 \U0001f600"'.encode()),
    (True, b"true"),
    (False, b"false"),
    (None, b"null"),
    (1.0, b"1.0"),
    (100.0, b"100.0"),
    (1e15, b"1000000000000000.0"),
    (1e16, b"1e+16"),
    (0.1, b"0.1"),
    (1e-5, b"0.00001"),
    (1.5e-7, b"1.5e-7"),
    (5e-324, b"5e-324"),
    (1.2345678901234568e20, b"1.2345678901234568e+20"),
    (0.0, b"0.0"),
    (-0.0, b"-0.0"),
    (math.nan, b"null"),
    (math.inf, b"null"),
    (-math.inf, b"null"),
    (0, b"0"),
    (-1, b"-1"),
    (2**64 - 1, b"18446744073709551615"),
    (-(2**63), b"-9223372036854775808"),
    ((1, "a"), b'[1,"a"]'),
    (range(3), b"[0,1,2]"),
    ({3}, b"[3]"),
    (frozenset({4}), b"[4]"),
    (collections.deque([1, 2]), b"[1,2]"),
    (Countdown(), b"[3,2,1]"),
    (Row([1]), b"[1]"),
    (Point(1, 2), b"[1,2]"),
    (Color.RED, b"1"),
    (Name("n"), b'"n"'),
    (Ratio(0.5), b"0.5"),
    (collections.OrderedDict(b=1, a=2), b'{"a":2,"b":1}'),
    (types.MappingProxyType({"b": 1, "a": 2}), b'{"a":2,"b":1}'),
    (Pairs(), b'{"a":2,"b":3}'),
    (Outer("o", Inner(0.5, [1])), b'{"inner":{"y":[1],"z":0.5},"name":"o"}'),
    # A dict subclass that is a dataclass is converted by its fields.
    (DictDataclass(a=5), b'{"a":5}'),
    (nested_lists(126), b"[" * 126 + b"]" * 126),
]


def test_values(db_path, read_documents):
    payloads = [{"v": value} for value, _ in VALUES]
    stored = store_all(db_path, read_documents, payloads)
    assert stored == [b'{"v":' + expected + b"}" for _, expected in VALUES]


def test_a_dataclass_dict_ignores_its_items(db_path, read_documents):
    value = DictDataclass(a=7)
    value["other"] = 1
    assert store_all(db_path, read_documents, [value]) == [b'{"a":7}']


def missing_field():
    value = Inner(1.0, [])
    del value.z
    return value


def self_containing():
    value = {"a": 1}
    value["self"] = value
    return value


NESTING = "recursion limit exceeded: more than 127 nested levels"

REFUSED = [
    ({"a": b"x"}, "invalid type: byte array, expected any valid JSON value"),
    ({"a": bytearray(b"x")}, "unexpected type: 'bytearray' object is not an instance of 'bytes'"),
    ({1: "a"}, "unexpected type: 'int' object is not an instance of 'str'"),
    ({"a": {None: 1}}, "unexpected type: 'None' is not an instance of 'str'"),
    ({"a": datetime.datetime(2020, 1, 1)}, "unsupported type datetime"),
    ({"a": Holder.Nested()}, "unsupported type Holder.Nested"),
    ({"a": decimal.Decimal(1)}, "unsupported type Decimal"),
    ({"a": 2**64}, "JSON number out of range"),
    ({"a": 2**127}, "JSON number out of range"),
    ({"a": 2**128 - 1}, "JSON number out of range"),
    ({"a": -(2**63) - 1}, "JSON number out of range"),
    ({"a": -(2**127)}, "JSON number out of range"),
    ({"a": 2**128}, "OverflowError: int too big to convert"),
    ({"a": 2**200}, "OverflowError: int too big to convert"),
    ({"a": -(2**127) - 1}, "OverflowError: int too big to convert"),
    ({"a": "\ud800"}, "UnicodeEncodeError: 'utf-8' codec can't encode character '\\ud800' in "
                      "position 0: surrogates not allowed"),
    ({"ok": 1, "\udc00": 1}, "UnicodeEncodeError: 'utf-8' codec can't encode character "
                             "'\\udc00' in position 0: surrogates not allowed"),
    ({"a": Failing(ValueError("boom"))}, "ValueError: boom"),
    ({"a": Failing(StrFails())}, "StrFails: <exception str() failed>"),
    ({"a": FailingKeys()}, "LookupError: no keys"),
    ({"a": missing_field()}, "KeyError: 'z'"),
    ({"a": Slotted(1)}, "AttributeError: 'Slotted' object has no attribute '__dict__'"),
    # Members are converted in the dict's own order: "b" is refused before "a" is looked at.
    ({"b": b"x", "a": object()}, "invalid type: byte array, expected any valid JSON value"),
    ({"a": nested_lists(127)}, NESTING),
    (self_containing(), NESTING),
]


def test_refusals(db_path, read_documents):
    db = quorvane.DBEngine(db_path)
    for payload, text in REFUSED:
        with pytest.raises(RuntimeError) as info:
            db.insert("k", payload)
        assert str(info.value) == "Error converting dict to Rust bytes for k." + text
    db.close_engine()
    del db
    assert read_documents() == {}


def shortest_digits(value):
    """The shortest digit string of a float (from repr) and the exponent of its first digit."""
    sign, digits, exponent = decimal.Decimal(repr(value)).normalize().as_tuple()
    return "".join(map(str, digits)), len(digits) - 1 + exponent


def stored_in_a_fresh_store(payloads):
    """store_all in a store of its own, for property tests (which cannot use fixtures)."""
    with tempfile.TemporaryDirectory() as directory:
        path = os.path.join(directory, "p.db")
        db = quorvane.DBEngine(path)
        for i, payload in enumerate(payloads):
            db.insert(str(i), payload)
        db.close_engine()
        del db
        gc.collect()
        connection = sqlite3.connect(path)
        stored = dict(connection.execute("SELECT id, doc FROM documents"))
        connection.close()
    return [stored[str(i)] for i in range(len(payloads))]


# Without floats and lone surrogates, the stored text is what json.dumps writes with sorted
# keys: UTF-8 byte order is code point order.
JSON_VALUES = st.recursive(
    st.none() | st.booleans() | st.integers(-(2**63), 2**64 - 1) | st.text(),
    lambda inner: st.lists(inner) | st.dictionaries(st.text(), inner),
    max_leaves=20)


# Nested dictionaries of lists often overrun hypothesis's size budget while being generated;
# that is no failure of the store.
@settings(max_examples=20, deadline=None, suppress_health_check=[HealthCheck.data_too_large])
@given(st.lists(st.dictionaries(st.text(), JSON_VALUES), min_size=1, max_size=8))
def test_stored_text_is_compact_sorted_json(payloads):
    expected = [json.dumps(p, sort_keys=True, separators=(",", ":"), ensure_ascii=False).encode()
                for p in payloads]
    assert stored_in_a_fresh_store(payloads) == expected


def test_large_and_deep_objects(db_path, read_documents):
    wide = {f"k{i:03d}": i for i in reversed(range(300))}
    nested = {f"o{i}": {f"j{j:02d}": [j, {"b": 1, "a": 2}] for j in reversed(range(40))}
              for i in reversed(range(5))}
    strings = {"s": ["a" * k + c + "b" * m for k in range(18) for m in range(10)
                     for c in ('"', "\\", "\x1f", "\u00e9")]}
    payloads = [wide, nested, strings]
    expected = [json.dumps(p, sort_keys=True, separators=(",", ":"), ensure_ascii=False).encode()
                for p in payloads]
    assert store_all(db_path, read_documents, payloads) == expected


@settings(max_examples=25, deadline=None)
@given(st.lists(st.floats(allow_nan=False, allow_infinity=False), min_size=1, max_size=40))
def test_float_text_round_trips_in_its_notation(values):
    (doc,) = stored_in_a_fresh_store([{"v": values}])
    texts = doc.decode()[len('{"v":['):-len("]}")].split(",")
    assert len(texts) == len(values)
    for value, text in zip(values, texts):
        assert float(text) == value and math.copysign(1, float(text)) == math.copysign(1, value)
        digits, exponent = shortest_digits(value)
        mantissa = text.lstrip("-")
        if -5 <= exponent <= 15:
            assert "e" not in mantissa and "." in mantissa
            if value == int(value):
                assert mantissa.endswith(".0")
        else:
            mantissa, power = mantissa.split("e")
            assert power[0] in "+-" and power[1:] == str(abs(exponent))
            assert mantissa == digits[0] + ("." + digits[1:] if len(digits) > 1 else "")
        assert decimal.Decimal(mantissa).normalize().as_tuple().digits == tuple(map(int, digits))


class Rewriting(Sequence):
    """A one-item sequence whose len() rewrites the dicts that hold it."""

    def __init__(self, *targets):
        self.targets = targets

    def __len__(self):
        for target in self.targets:
            target.clear()
            target.update({f"k{i}": i for i in range(40)})
        return 1

    def __getitem__(self, i):
        if i >= 1:
            raise IndexError(i)
        return "x"


def test_dicts_are_read_as_they_were_when_their_conversion_began(db_path, read_documents):
    # Keys and values are read out once: Python code run during the conversion of a value
    # (here a sequence's len()) cannot change which members are stored, at any level.
    inner = {"a": 1}
    outer = {"first": 0, "inner": inner, "z": 9}
    inner["seq"] = Rewriting(inner, outer)
    inner["tail"] = True
    [stored] = store_all(db_path, read_documents, [outer])
    assert stored == b'{"first":0,"inner":{"a":1,"seq":["x"],"tail":true},"z":9}'
