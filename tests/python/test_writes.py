"""The write methods both classes share, run once per class: what reaches the store (and a
server's activity log), how argument errors name their parameter and queue nothing, and the
refusal of every write after close_engine."""

import collections

import pytest

import quorvane
from conftest import CRASHED, SERVER


class NamedId(str):
    pass


class Payload(dict):
    pass


Record = collections.namedtuple("Record", "id payload")


def open_logging(class_name, db_path):
    """An instance of class_name; a server logs its writes to the activity log."""
    if class_name == SERVER:
        return quorvane.DBEngineWebServer(db_path, enable_logging=True)
    return quorvane.DBEngine(db_path)


def test_writes_reach_the_store(class_name, db_path, read_documents, read_log):
    db = open_logging(class_name, db_path)
    assert db.insert("a", {"v": 1}) is None
    assert db.insert(NamedId("b"), Payload(v=2)) is None
    assert db.upsert("a", {"v": 3}) is None
    assert db.upsert(id="c", payload={"v": 4}) is None
    assert db.delete("b") is None
    assert db.delete("never stored") is None
    assert db.insert(id="", payload={}) is None
    assert db.insert("nul\x00id", {"\u00e9": "\x00"}) is None
    assert db.insert_json("j", '{"b":1, "a":2}') is None
    assert db.insert_json("arr", "[1,2]") is None
    assert db.insert_many([("m1", {"v": 5}), Record("m2", {"v": 6})]) is None
    assert db.insert_many(records=(("k", {"v": 1}), ("k", {"v": 2}))) is None
    assert db.insert_many_json([("j1", "[1]"), ("j2", '{"b":1, "a":2}')]) is None
    assert db.insert_many_json(records=(("n", "42"), ("o", "{}"))) is None
    assert db.insert_many([]) is None
    assert db.insert_many_json(()) is None
    db.close_engine()
    if class_name == SERVER:
        assert read_log() == [
            ("INSERT", "a"), ("INSERT", "b"), ("UPSERT", "a"), ("UPSERT", "c"), ("DELETE", "b"),
            ("DELETE", "never stored"), ("INSERT", ""), ("INSERT", "nul\x00id"), ("INSERT", "j"),
            ("INSERT", "arr"), ("INSERT", "m1"), ("INSERT", "m2"), ("INSERT", "k"),
            ("INSERT", "k"), ("INSERT", "j1"), ("INSERT", "j2"), ("INSERT", "n"), ("INSERT", "o"),
        ]
    del db
    assert read_documents() == {
        "a": b'{"v":3}',
        "c": b'{"v":4}',
        "": b"{}",
        "nul\x00id": '{"\u00e9":"\\u0000"}'.encode(),
        "j": b'{"b":1, "a":2}',
        "arr": b"[1,2]",
        "m1": b'{"v":5}',
        "m2": b'{"v":6}',
        "k": b'{"v":2}',
        "j1": b"[1]",
        "j2": b'{"b":1, "a":2}',
        "n": b"42",
        "o": b"{}",
    }


# (case, call, exception type, message ({cls}: the class's name), parameter the note names).
ARGUMENT_ERRORS = [
    ("insert-int-id", lambda db: db.insert(5, {}), TypeError,
     "'int' object is not an instance of 'str'", "id"),
    ("insert-None-id", lambda db: db.insert(None, {}), TypeError,
     "'None' is not an instance of 'str'", "id"),
    ("insert-int-id-list-payload", lambda db: db.insert(5, [1]), TypeError,
     "'int' object is not an instance of 'str'", "id"),
    ("insert-list-payload", lambda db: db.insert("u1", [1, 2]), TypeError,
     "'list' object is not an instance of 'dict'", "payload"),
    ("upsert-None-payload", lambda db: db.upsert("u1", None), TypeError,
     "'None' is not an instance of 'dict'", "payload"),
    ("upsert-list-payload", lambda db: db.upsert("u", [1]), TypeError,
     "'list' object is not an instance of 'dict'", "payload"),
    ("delete-bytes-id", lambda db: db.delete(b"x"), TypeError,
     "'bytes' object is not an instance of 'str'", "id"),
    ("delete-None-id", lambda db: db.delete(None), TypeError,
     "'None' is not an instance of 'str'", "id"),
    ("insert_json-dict-payload", lambda db: db.insert_json("u1", {}), TypeError,
     "'dict' object is not an instance of 'str'", "json_payload"),
    ("insert-surrogate-id", lambda db: db.insert("\ud800", {}), UnicodeEncodeError,
     "surrogates not allowed", "id"),
    ("insert_many-str", lambda db: db.insert_many("ab"), TypeError,
     "Can't extract `str` to `Vec`", "records"),
    ("insert_many-generator", lambda db: db.insert_many(x for x in []), TypeError,
     "'generator' object is not an instance of 'Sequence'", "records"),
    ("insert_many_json-set", lambda db: db.insert_many_json({("a", "{}")}), TypeError,
     "'set' object is not an instance of 'Sequence'", "records"),
    ("insert_many-dict", lambda db: db.insert_many({"a": {}}), TypeError,
     "'dict' object is not an instance of 'Sequence'", "records"),
    ("insert_many-list-record", lambda db: db.insert_many([("ok", {}), ["a", {}]]), TypeError,
     "'list' object is not an instance of 'tuple'", "records"),
    ("insert_many-range", lambda db: db.insert_many(range(2)), TypeError,
     "'int' object is not an instance of 'tuple'", "records"),
    ("insert_many-three-items", lambda db: db.insert_many([("a", {}, 1)]), ValueError,
     "expected tuple of length 2, but got tuple of length 3", "records"),
    ("insert_many-str-payload", lambda db: db.insert_many([("ok", {}), ("a", "x")]), TypeError,
     "'str' object is not an instance of 'dict'", "records"),
    ("insert_many-int-id", lambda db: db.insert_many([(1, {})]), TypeError,
     "'int' object is not an instance of 'str'", "records"),
    ("insert_many_json-dict-text", lambda db: db.insert_many_json([("a", {})]), TypeError,
     "'dict' object is not an instance of 'str'", "records"),
    ("insert_many_json-dict-text-after-one",
     lambda db: db.insert_many_json([("ok", "{}"), ("a", {})]), TypeError,
     "'dict' object is not an instance of 'str'", "records"),
    ("insert_many_json-str", lambda db: db.insert_many_json("ab"), TypeError,
     "Can't extract `str` to `Vec`", "records"),
    ("insert_many_json-surrogate-text", lambda db: db.insert_many_json([("a", "\udc00")]),
     UnicodeEncodeError, "surrogates not allowed", "records"),
    # Arguments matched to parameters.
    ("insert-missing-payload", lambda db: db.insert("a"), TypeError,
     "{cls}.insert() missing 1 required positional argument: 'payload'", None),
    ("delete-two-positional", lambda db: db.delete("a", "b"), TypeError,
     "{cls}.delete() takes 1 positional argument but 2 were given", None),
    ("upsert-id-twice", lambda db: db.upsert("a", {}, id="b"), TypeError,
     "{cls}.upsert() got multiple values for argument 'id'", None),
    ("insert_many-unknown-keyword", lambda db: db.insert_many(rows=[]), TypeError,
     "{cls}.insert_many() got an unexpected keyword argument 'rows'", None),
]


@pytest.mark.parametrize("call,error,text,parameter",
                         [pytest.param(*row, id=case) for case, *row in ARGUMENT_ERRORS])
def test_argument_errors_name_their_parameter_and_queue_nothing(
        class_name, db_path, read_documents, read_log, expected_notes, call, error, text,
        parameter):
    text = text.format(cls=class_name)
    db = open_logging(class_name, db_path)
    with pytest.raises(error) as info:
        call(db)
    assert text in str(info.value)
    if error is not UnicodeEncodeError:
        assert str(info.value) == text
    assert getattr(info.value, "__notes__", []) == expected_notes(parameter)
    # Arguments are converted first, so the same error comes after close_engine as well.
    db.close_engine()
    with pytest.raises(error):
        call(db)
    if class_name == SERVER:
        assert read_log() == []
    del db
    assert read_documents() == {}


@pytest.mark.parametrize("call", [
    pytest.param(lambda db: db.insert("a", {}), id="insert"),
    pytest.param(lambda db: db.upsert("a", {}), id="upsert"),
    pytest.param(lambda db: db.delete("a"), id="delete"),
    pytest.param(lambda db: db.insert_json("a", "{}"), id="insert_json"),
    # Tested before anything is validated or encoded.
    pytest.param(lambda db: db.insert("a", {"b": b"x"}), id="insert-unencodable"),
    pytest.param(lambda db: db.upsert("a", {"b": b"x"}), id="upsert-unencodable"),
    pytest.param(lambda db: db.insert_json("a", ""), id="insert_json-invalid"),
    pytest.param(lambda db: db.insert_many([]), id="insert_many-empty"),
    pytest.param(lambda db: db.insert_many([("a", {"b": b"x"})]), id="insert_many-unencodable"),
    pytest.param(lambda db: db.insert_many_json([]), id="insert_many_json-empty"),
])
def test_writes_after_close_engine_are_refused(instance, call):
    instance.close_engine()
    with pytest.raises(RuntimeError) as info:
        call(instance)
    assert str(info.value) == CRASHED
