"""Hostile arguments for every public method of both classes: lone surrogates, huge ints,
values that contain themselves, 10^6-deep nesting, a 200 MB string, mappings and sequences
whose protocol methods raise, __index__ that raises, NUL bytes in paths. Each call gets its
error, and the store is left as it was: nothing of a refused call is queued."""

import collections.abc
import os
import sys

import pytest

import quorvane
from conftest import CLASSES, SERVER

SURROGATE = "\ud800"
HUGE = 2**200
NESTING = "recursion limit exceeded: more than 127 nested levels"
SURROGATE_TEXT = ("'utf-8' codec can't encode character '\\ud800' in position 0: "
                  "surrogates not allowed")
STORED = {"x": {"k": 1}}


class KeysRefused(collections.abc.Mapping):
    def __getitem__(self, key):
        return 1

    def __len__(self):
        return 1

    def __iter__(self):
        return iter(["a"])

    def keys(self):
        raise LookupError("keys() refused")


class StrRefused(Exception):
    def __str__(self):
        raise ValueError("no text")


class KeysRefusedBadly(KeysRefused):
    def keys(self):
        raise StrRefused()


class KeysRefusedDict(dict):
    def keys(self):
        raise LookupError("keys() refused")


class LenRefused(collections.abc.Sequence):
    def __getitem__(self, index):
        raise IndexError(index)

    def __len__(self):
        raise LookupError("len() refused")


class IterRefused(LenRefused):
    def __iter__(self):
        raise LookupError("iter() refused")


class IndexRefused:
    def __index__(self):
        raise ZeroDivisionError("__index__ refused")


class KeysInterrupted(KeysRefused):
    """keys() raises what it was given, as when a signal handler raises while it runs."""

    def __init__(self, make_raised):
        self.make_raised = make_raised

    def keys(self):
        raise self.make_raised()


class ClassInterrupted:
    """Its __class__ raises what it was given: the conversion's isinstance tests meet that."""

    def __init__(self, make_raised):
        self.make_raised = make_raised

    @property
    def __class__(self):
        raise self.make_raised()


def self_dict():
    d = {}
    d["self"] = d
    return d


def self_list():
    items = []
    items.append(items)
    return items


_deep = []


def deep_list():
    """A list nested 10^6 levels deep, built without recursion, once."""
    if not _deep:
        value = []
        for _ in range(10**6):
            value = [value]
        _deep.append(value)
    return _deep[0]


def big_text():
    return "x" * (200 * 1024 * 1024)


def type_check(name, expected):
    return f"'{name}' object is not an instance of '{expected}'"


# (case, value or a function making it, exception type, message).
STR_VALUES = [
    ("surrogate", SURROGATE, UnicodeEncodeError, SURROGATE_TEXT),
    ("huge int", HUGE, TypeError, type_check("int", "str")),
    ("self dict", self_dict, TypeError, type_check("dict", "str")),
    ("deep list", deep_list, TypeError, type_check("list", "str")),
    ("mapping", KeysRefused, TypeError, type_check("KeysRefused", "str")),
    ("__index__", IndexRefused, TypeError, type_check("IndexRefused", "str")),
]

# Dicts (and what they hold) that do not convert, with the conversion's text.
PAYLOADS = [
    ("self dict", self_dict, NESTING),
    ("self list", lambda: {"a": self_list()}, NESTING),
    ("deep list", lambda: {"a": deep_list()}, NESTING),
    ("2**64", {"n": 2**64}, "JSON number out of range"),
    ("-2**63-1", {"n": -2**63 - 1}, "JSON number out of range"),
    ("huge int", {"n": HUGE}, "OverflowError: int too big to convert"),
    ("huge int key", {HUGE: 1}, "unexpected type: " + type_check("int", "str")),
    ("surrogate key", {SURROGATE: 1}, "UnicodeEncodeError: " + SURROGATE_TEXT),
    ("surrogate value", {"s": [SURROGATE]}, "UnicodeEncodeError: " + SURROGATE_TEXT),
    ("mapping keys", lambda: {"m": KeysRefused()}, "LookupError: keys() refused"),
    ("dict keys", lambda: KeysRefusedDict(a=1), "LookupError: keys() refused"),
    ("exception text", lambda: {"m": KeysRefusedBadly()},
     "StrRefused: <exception str() failed>"),
    ("sequence len", lambda: {"q": LenRefused()}, "LookupError: len() refused"),
    ("__index__", lambda: {"i": IndexRefused()}, "unsupported type IndexRefused"),
]

NOT_DICTS = [
    ("huge int", HUGE, "int"),
    ("surrogate", SURROGATE, "str"),
    ("self list", self_list, "list"),
    ("mapping", KeysRefused, "KeysRefused"),
]

# Sequence arguments (`records`, `ids`) that are refused as a whole.
SEQUENCES = [
    ("str", "ab", TypeError, "Can't extract `str` to `Vec`"),
    ("huge int", HUGE, TypeError, type_check("int", "Sequence")),
    ("self dict", self_dict, TypeError, type_check("dict", "Sequence")),
    ("iteration", IterRefused, LookupError, "iter() refused"),
]

COUNTS = [
    ("2**64", 2**64, OverflowError, "int too big to convert"),
    ("huge int", HUGE, OverflowError, "int too big to convert"),
    ("-1", -1, OverflowError, "can't convert negative int to unsigned"),
    ("__index__", IndexRefused, ZeroDivisionError, "__index__ refused"),
    ("str", "3", TypeError, "'str' object cannot be interpreted as an integer"),
    ("float", 1.5, TypeError, "'float' object cannot be interpreted as an integer"),
    ("self dict", self_dict, TypeError, "'dict' object cannot be interpreted as an integer"),
]

def make(value):
    return value() if callable(value) else value


def filter_args(class_name, key, value):
    return (key, value) + ((None, None) if class_name == SERVER else ())


def str_slots(class_name):
    """(method, parameter, arguments with the hostile value as `v`) for every str parameter."""
    slots = [
        ("insert", "id", lambda v: (v, {})),
        ("upsert", "id", lambda v: (v, {})),
        ("delete", "id", lambda v: (v,)),
        ("insert_json", "id", lambda v: (v, "{}")),
        ("insert_json", "json_payload", lambda v: ("x", v)),
        ("get", "id", lambda v: (v,)),
        ("scan_prefix", "prefix", lambda v: (v,)),
        ("filter_by_metadata", "index_key", lambda v: filter_args(class_name, v, "1")),
        ("filter_by_metadata", "index_value", lambda v: filter_args(class_name, "k", v)),
    ]
    if class_name == SERVER:
        slots.append(("trigger_backup", "target_path", lambda v: (v,)))
    return slots


def cases():
    """(class, method, a function making the arguments, exception type, message, parameter
    named by the note or None), one per hostile argument."""
    table = []

    def add(class_name, method, case, args, error, message, parameter):
        table.append(pytest.param(class_name, method, args, error, message, parameter,
                                  id=f"{class_name}.{method}-{parameter or 'value'}-{case}"))

    for cls in CLASSES:
        server = cls == SERVER
        for method, parameter, place in str_slots(cls):
            for case, value, error, message in STR_VALUES:
                add(cls, method, case, lambda place=place, value=value: place(make(value)),
                    error, message, parameter)
        for method in ("insert", "upsert"):
            for case, value, text in PAYLOADS:
                add(cls, method, case, lambda value=value: ("x", make(value)), RuntimeError,
                    f"Error converting dict to Rust bytes for x.{text}", None)
            for case, value, name in NOT_DICTS:
                add(cls, method, case, lambda value=value: ("x", make(value)), TypeError,
                    type_check(name, "dict"), "payload")
        if not server:
            for case, value, text in PAYLOADS:
                add(cls, "insert_many", case, lambda value=value: ([("x", make(value))],),
                    RuntimeError, f"Failed to serialize dict for x.{text}", None)
        for method, second in (("insert_many", {}), ("insert_many_json", "{}")):
            kind = "dict" if method == "insert_many" else "str"
            for case, value, error, message in SEQUENCES + [
                    ("self list", self_list, TypeError, type_check("list", "tuple")),
                    ("deep list", deep_list, TypeError, type_check("list", "tuple")),
                    ("three items", [("x", second, 1)], ValueError,
                     "expected tuple of length 2, but got tuple of length 3"),
                    ("surrogate id", [(SURROGATE, second)], UnicodeEncodeError, SURROGATE_TEXT),
                    ("huge int id", [(HUGE, second)], TypeError, type_check("int", "str")),
                    ("huge int item", [("ok", second), ("x", HUGE)], TypeError,
                     type_check("int", kind)),
                    # A mapping with __getitem__ passes the sequence check and is iterated.
                    ("mapping", KeysRefused, TypeError, type_check("str", "tuple")),
                    ("mapping item", lambda: [("x", KeysRefused())], TypeError,
                     type_check("KeysRefused", kind))]:
                add(cls, method, case, lambda value=value: (make(value),), error, message,
                    "records")
        add(cls, "insert_many_json", "surrogate text", lambda: ([("x", SURROGATE)],),
            UnicodeEncodeError, SURROGATE_TEXT, "records")
        for case, value, error, message in SEQUENCES + [
                ("self list", self_list, TypeError, type_check("list", "str")),
                ("surrogate", [SURROGATE], UnicodeEncodeError, SURROGATE_TEXT),
                ("huge int item", ["x", HUGE], TypeError, type_check("int", "str"))]:
            add(cls, "get_many", case, lambda value=value: (make(value),), error, message, "ids")
        add(cls, "insert_json", "unclosed deep", lambda: ("x", "[" * 10**6), RuntimeError,
            "Validation error at x.EOF while parsing a list at line 1 column 1000000", None)
        add(cls, "insert_json", "200 MB", lambda: ("x", big_text()), RuntimeError,
            "Validation error at x.expected value at line 1 column 1", None)
        if not server:
            add(cls, "insert_many_json", "unclosed deep", lambda: ([("x", "[" * 10**6)],),
                RuntimeError, "Invalid json in payload for id x.EOF while parsing a list at "
                "line 1 column 1000000", None)
        add(cls, "close_engine", "argument", lambda: (HUGE,), TypeError,
            f"{cls}.close_engine() takes no arguments (1 given)", None)
    for parameter, position in (("limit", 2), ("offset", 3)):
        for case, value, error, message in COUNTS:
            add(SERVER, "filter_by_metadata", case,
                lambda value=value, position=position: tuple(
                    make(value) if n == position else a
                    for n, a in enumerate(("k", "1", None, None))),
                error, message, parameter)
    return table


@pytest.fixture(scope="module", autouse=True)
def release_deep_list():
    yield
    _deep.clear()


@pytest.fixture
def opened(stored_instance):
    """opened(class_name): an instance over a store that holds STORED."""
    return lambda class_name: stored_instance(class_name, {"x": '{"k":1}'}, [("k.1", "x")])


def assert_unchanged(db, class_name, db_path):
    """Once closed, the instance reads the store as it was, and no frame reached the log."""
    db.close_engine()
    assert dict(db.scan_prefix("")) == STORED
    assert db.filter_by_metadata(*filter_args(class_name, "k", "1")) == [("x", {"k": 1})]
    if class_name == SERVER:
        assert os.path.getsize(db_path + ".wal") == 0


@pytest.mark.parametrize("class_name,method,args,error,message,parameter", cases())
def test_a_hostile_argument_gets_its_error_and_queues_nothing(opened, db_path, expected_notes,
                                                              class_name, method, args, error,
                                                              message, parameter):
    db = opened(class_name)
    arguments = args()
    with pytest.raises(error) as info:
        getattr(db, method)(*arguments)
    del arguments
    assert str(info.value) == message
    assert getattr(info.value, "__notes__", []) == expected_notes(parameter)
    assert_unchanged(db, class_name, db_path)


def interrupted_writes():
    """(class, method, a function making the arguments from a payload) for every write that
    converts a dict."""
    table = []
    for cls in CLASSES:
        for method in ("insert", "upsert"):
            table.append(pytest.param(cls, method, lambda payload: ("x", payload),
                                      id=f"{cls}.{method}"))
        table.append(pytest.param(cls, "insert_many", lambda payload: ([("x", payload)],),
                                  id=f"{cls}.insert_many"))
    return table


@pytest.mark.parametrize("class_name,method,args", interrupted_writes())
@pytest.mark.parametrize("holder", [KeysInterrupted, ClassInterrupted])
@pytest.mark.parametrize("make_raised", [KeyboardInterrupt, lambda: SystemExit(3)],
                         ids=["KeyboardInterrupt", "SystemExit"])
def test_an_interrupt_while_a_payload_converts_ends_the_call_with_it(
        opened, db_path, class_name, method, args, holder, make_raised):
    # Not a refused record: the exception itself leaves the call, and nothing is queued.
    db = opened(class_name)
    arguments = args({"m": holder(make_raised)})
    with pytest.raises(BaseException) as info:
        getattr(db, method)(*arguments)
    del arguments
    assert type(info.value) is type(make_raised())
    assert getattr(info.value, "__notes__", []) == []
    assert_unchanged(db, class_name, db_path)


@pytest.mark.parametrize("case,value,text", PAYLOADS, ids=[p[0] for p in PAYLOADS])
def test_the_server_hands_back_a_record_that_does_not_convert(opened, db_path, case, value,
                                                               text):
    db = opened(SERVER)
    payload = make(value)
    refused = db.insert_many([("x", payload)])
    assert refused == [("x", payload, f"Python dict parsing error {text}")]
    assert refused[0][1] is payload
    del refused, payload
    assert db.insert_many_json([("x", "[" * 10**6)]) == [
        ("x", "[" * 10**6,
         "Invalid JSON structure EOF while parsing a list at line 1 column 1000000")]
    assert_unchanged(db, SERVER, db_path)


@pytest.mark.parametrize("case,kwargs,error,message,parameter", [
    (case, {slot: value}, error, message, slot)
    for slot in ("path", "backup_time", "backup_dir")
    for case, value, error, message in STR_VALUES
] + [
    ("huge int", {"enable_logging": HUGE}, TypeError, type_check("int", "PyBool"),
     "enable_logging"),
    ("__index__", {"enable_logging": IndexRefused}, TypeError,
     type_check("IndexRefused", "PyBool"), "enable_logging"),
    ("NUL byte", {"path": "\x00x"}, RuntimeError, "file name contained an unexpected NUL byte",
     None),
])
def test_constructor_arguments(tmp_path, expected_notes, case, kwargs, error, message, parameter):
    classes = [quorvane.DBEngine, quorvane.DBEngineWebServer] if "path" in kwargs else [
        quorvane.DBEngineWebServer]
    for cls in classes:
        arguments = {"path": str(tmp_path / "store.db")}
        if "backup_time" in kwargs or "backup_dir" in kwargs:
            arguments.update(backup_time="09:00", backup_dir=str(tmp_path))
        arguments.update({k: make(v) for k, v in kwargs.items()})
        if case == "NUL byte":  # after a path that names a file in the test's directory
            arguments["path"] = str(tmp_path / "store.db") + kwargs["path"]
        if cls is quorvane.DBEngine:
            arguments = {"path": arguments["path"]}
        with pytest.raises(error) as info:
            cls(**arguments)
        del arguments
        assert str(info.value) == message
        assert getattr(info.value, "__notes__", []) == expected_notes(parameter)
        assert os.listdir(tmp_path) == []


def test_a_path_with_a_nul_byte_opens_no_other_file(db_path, tmp_path, output):
    db = quorvane.DBEngineWebServer(db_path)
    db.insert("a", {"n": 1})
    db.close_engine()
    del db
    with open(db_path, "rb") as f:
        before = f.read()
    for cls in (quorvane.DBEngine, quorvane.DBEngineWebServer):
        with pytest.raises(RuntimeError, match="^file name contained an unexpected NUL byte$"):
            cls(db_path + "\x00.other")
    with open(db_path, "rb") as f:
        assert f.read() == before
    # A backup whose target names db_path before the NUL byte must not be written into it.
    other = quorvane.DBEngineWebServer(str(tmp_path / "other.db"))
    other.insert("b", {"n": 2})
    other.trigger_backup(db_path + "\x00.backup")
    other.close_engine()
    output.wait_for(
        "Failed to create backup database: file name contained an unexpected NUL byte\n",
        stream="err")
    engine = quorvane.DBEngine(db_path)
    assert dict(engine.scan_prefix("")) == {"a": {"n": 1}}
    engine.close_engine()


def test_hostile_values_that_are_accepted(db_path, class_name):
    db = getattr(quorvane, class_name)(db_path)
    server = class_name == SERVER

    class LyingLength(list):
        def __len__(self):
            return sys.maxsize

    # A dict that its own conversion empties, ids behind a length that lies, and a JSON text
    # nested 10^6 levels deep, which no read can decode.
    victim = {"a" * 20 + "1": 1}

    class Emptying(collections.abc.Sequence):
        def __len__(self):
            victim.clear()
            return 0

        def __getitem__(self, index):
            raise IndexError(index)

    victim["a" * 20 + "0"] = Emptying()
    db.insert("victim", victim)
    db.insert_json("deep", "[" * 10**6 + "]" * 10**6)
    db.insert("limits", {"n": 2**64 - 1, "m": -2**63})
    db.close_engine()
    assert db.get_many(LyingLength(["victim", "limits"])) == [
        ("victim", {"a" * 20 + "0": [], "a" * 20 + "1": 1}),
        ("limits", {"n": 2**64 - 1, "m": -2**63})]
    deep_error = (r"^Json parsing error DepthLimitExceeded at character 1024 \('\['\)$"
                  if server else
                  r"^Json parsing error recursion limit exceeded at line 1 column 128$")
    with pytest.raises(RuntimeError, match=deep_error):
        db.get("deep")
    with pytest.raises(RuntimeError, match="^Json Parse Error "):
        db.scan_prefix("de")
    if server:
        assert db.filter_by_metadata("n", str(2**64 - 1), 2**64 - 1, 2**64 - 1) == []
        assert db.filter_by_metadata("n", str(2**64 - 1), 2**64 - 1, 0) == [
            ("limits", {"n": 2**64 - 1, "m": -2**63})]
