"""DBEngine's write methods: argument rules, what reaches the store, and the messages."""

import collections
from collections.abc import Sequence

import pytest

import quorvane

CRASHED = "Background write worker has crashed!"
MAX_RECORD_BYTES = 999_000_000


@pytest.fixture
def db(db_path):
    engine = quorvane.DBEngine(db_path)
    yield engine
    try:
        engine.close_engine()
    except RuntimeError:
        pass


class NamedId(str):
    pass


class Payload(dict):
    pass


Record = collections.namedtuple("Record", "id payload")


def test_writes_reach_the_store(db_path, read_documents):
    db = quorvane.DBEngine(db_path)
    assert db.insert("a", {"v": 1}) is None
    assert db.insert(NamedId("b"), Payload(v=2)) is None
    assert db.upsert("a", {"v": 3}) is None
    assert db.upsert("c", {"v": 4}) is None
    assert db.delete("b") is None
    assert db.delete("never stored") is None
    assert db.insert(id="", payload={}) is None
    assert db.insert("nul\x00id", {"\u00e9": "\x00"}) is None
    assert db.insert_many([("m1", {"v": 5}), Record("m2", {"v": 6})]) is None
    assert db.insert_many(records=(("k", {"v": 1}), ("k", {"v": 2}))) is None
    assert db.insert_many_json([("j1", "[1]"), ("j2", '{"b":1, "a":2}')]) is None
    assert db.insert_many([]) is None
    assert db.insert_many_json(()) is None
    db.close_engine()
    del db
    assert read_documents() == {
        "a": b'{"v":3}',
        "c": b'{"v":4}',
        "": b"{}",
        "nul\x00id": '{"\u00e9":"\\u0000"}'.encode(),
        "m1": b'{"v":5}',
        "m2": b'{"v":6}',
        "k": b'{"v":2}',
        "j1": b"[1]",
        "j2": b'{"b":1, "a":2}',
    }


def test_insert_json_stores_the_text_byte_for_byte(db_path, read_documents):
    texts = ['{"b":1, "a":2}', "[1,2]", "42", '"x"', "null", ' {"n" : 1e400 }\n',
             '{"a":1,"a":2}', '{"big":123456789012345678901234567890}', '"\\ud800"',
             '{"\u00e9":"\U0001f600"}', "[" * 200 + "]" * 200]
    db = quorvane.DBEngine(db_path)
    for i, text in enumerate(texts):
        db.insert_json(str(i), text)
    with pytest.raises(RuntimeError) as info:
        db.insert_json("u1", "")
    assert str(info.value) == "Validation error at u1.EOF while parsing a value at line 1 column 0"
    with pytest.raises(RuntimeError) as info:
        db.insert_json("u2", "{'a':1}")
    assert str(info.value) == "Validation error at u2.key must be a string at line 1 column 2"
    db.close_engine()
    del db
    assert read_documents() == {str(i): text.encode() for i, text in enumerate(texts)}


ARGUMENT_ERRORS = [
    ("insert", (5, {}), TypeError, "'int' object is not an instance of 'str'", "id"),
    ("insert", (None, {}), TypeError, "'None' is not an instance of 'str'", "id"),
    ("insert", (5, [1]), TypeError, "'int' object is not an instance of 'str'", "id"),
    ("insert", ("u1", [1, 2]), TypeError, "'list' object is not an instance of 'dict'", "payload"),
    ("upsert", ("u1", None), TypeError, "'None' is not an instance of 'dict'", "payload"),
    ("delete", (b"x",), TypeError, "'bytes' object is not an instance of 'str'", "id"),
    ("insert_json", ("u1", {}), TypeError, "'dict' object is not an instance of 'str'",
     "json_payload"),
    ("insert", ("\ud800", {}), UnicodeEncodeError, "surrogates not allowed", "id"),
    ("insert_many", ("ab",), TypeError, "Can't extract `str` to `Vec`", "records"),
    ("insert_many", ((x for x in []),), TypeError,
     "'generator' object is not an instance of 'Sequence'", "records"),
    ("insert_many_json", ({("a", "{}")},), TypeError, "'set' object is not an instance of 'Sequence'",
     "records"),
    ("insert_many", ({"a": {}},), TypeError, "'dict' object is not an instance of 'Sequence'",
     "records"),
    ("insert_many", ([("ok", {}), ["a", {}]],), TypeError,
     "'list' object is not an instance of 'tuple'", "records"),
    ("insert_many", (range(2),), TypeError, "'int' object is not an instance of 'tuple'",
     "records"),
    ("insert_many", ([("a", {}, 1)],), ValueError,
     "expected tuple of length 2, but got tuple of length 3", "records"),
    ("insert_many", ([("ok", {}), ("a", "x")],), TypeError,
     "'str' object is not an instance of 'dict'", "records"),
    ("insert_many", ([(1, {})],), TypeError, "'int' object is not an instance of 'str'", "records"),
    ("insert_many_json", ([("a", {})],), TypeError, "'dict' object is not an instance of 'str'",
     "records"),
    ("insert_many_json", ("ab",), TypeError, "Can't extract `str` to `Vec`", "records"),
    ("insert_many_json", ([("a", "\udc00")],), UnicodeEncodeError, "surrogates not allowed",
     "records"),
]


@pytest.mark.parametrize("method,args,error,text,parameter", ARGUMENT_ERRORS)
def test_argument_errors_name_their_parameter(db_path, read_documents, expected_notes, method,
                                              args, error, text, parameter):
    db = quorvane.DBEngine(db_path)
    with pytest.raises(error) as info:
        getattr(db, method)(*args)
    assert text in str(info.value)
    if error is not UnicodeEncodeError:
        assert str(info.value) == text
    assert getattr(info.value, "__notes__", []) == expected_notes(parameter)
    # Arguments are converted first, so the same error comes after close_engine as well.
    db.close_engine()
    with pytest.raises(error):
        getattr(db, method)(*args)
    del db
    assert read_documents() == {}


@pytest.mark.parametrize("call,fragment", [
    (lambda db: db.insert("a"), "DBEngine.insert() missing 1 required positional argument: "
                                "'payload'"),
    (lambda db: db.delete("a", "b"), "takes 1 positional argument but 2 were given"),
    (lambda db: db.upsert("a", {}, id="b"), "got multiple values for argument 'id'"),
    (lambda db: db.insert_many(rows=[]), "got an unexpected keyword argument 'rows'"),
])
def test_arguments_are_matched_to_parameters(db, call, fragment):
    with pytest.raises(TypeError) as info:
        call(db)
    assert fragment in str(info.value)


class Rows(Sequence):
    """A sequence whose len() fails: the length is only a hint, so the rows still go in."""

    def __init__(self, rows, iteration_error=None):
        self.rows = rows
        self.iteration_error = iteration_error

    def __len__(self):
        raise OverflowError("no length")

    def __getitem__(self, index):
        return self.rows[index]

    def __iter__(self):
        if self.iteration_error:
            raise self.iteration_error
        return iter(self.rows)


def test_records_are_iterated_and_iteration_errors_pass_through(db_path, read_documents,
                                                                expected_notes):
    db = quorvane.DBEngine(db_path)
    db.insert_many(Rows([("r", {"v": 1})]))
    db.insert_many_json(Rows([("s", "{}")]))
    with pytest.raises(LookupError) as info:
        db.insert_many(Rows([("t", {})], iteration_error=LookupError("stop")))
    assert getattr(info.value, "__notes__", []) == expected_notes("records")
    db.close_engine()
    del db
    assert read_documents() == {"r": b'{"v":1}', "s": b"{}"}


def test_bulk_inserts_keep_the_records_before_a_refused_one(db_path, read_documents):
    db = quorvane.DBEngine(db_path)
    with pytest.raises(RuntimeError) as info:
        db.insert_many([("a", {"x": 1}), ("b", {"y": b"z"}), ("c", {})])
    assert str(info.value) == ("Failed to serialize dict for b."
                               "invalid type: byte array, expected any valid JSON value")
    with pytest.raises(RuntimeError) as info:
        db.insert_many_json([("a2", "{}"), ("b2", "{"), ("c2", "{}")])
    assert str(info.value) == ("Invalid json in payload for id b2."
                               "EOF while parsing an object at line 1 column 1")
    with pytest.raises(RuntimeError) as info:
        db.upsert("u", {"n": 2**64})
    assert str(info.value) == "Error converting dict to Rust bytes for u.JSON number out of range"
    db.close_engine()
    del db
    assert read_documents() == {"a": b'{"x":1}', "a2": b"{}"}


@pytest.mark.parametrize("call", [
    lambda db: db.insert("a", {}),
    lambda db: db.upsert("a", {}),
    lambda db: db.delete("a"),
    lambda db: db.insert_json("a", "{}"),
    # Tested before anything is validated or encoded.
    lambda db: db.insert("a", {"b": b"x"}),
    lambda db: db.insert_json("a", ""),
    lambda db: db.insert_many([]),
    lambda db: db.insert_many([("a", {"b": b"x"})]),
    lambda db: db.insert_many_json([]),
])
def test_writes_after_close_engine_are_refused(db, call):
    db.close_engine()
    with pytest.raises(RuntimeError) as info:
        call(db)
    assert str(info.value) == CRASHED


def test_a_document_too_large_for_one_record_is_refused_at_the_call(db_path, read_documents):
    # The id "k" and this text (0 and blanks: one allocation) take one byte more than a record
    # holds.
    text = "0".ljust(MAX_RECORD_BYTES)
    expected = ("Document too large to store for k: the id and the document take "
                f"{MAX_RECORD_BYTES + 1} bytes, the store holds at most {MAX_RECORD_BYTES} "
                "bytes in one record")
    db = quorvane.DBEngine(db_path)
    with pytest.raises(RuntimeError) as info:
        db.insert_json("k", text)
    assert str(info.value) == expected
    with pytest.raises(RuntimeError) as info:
        db.insert_many_json([("before", "{}"), ("k", text), ("after", "{}")])
    assert str(info.value) == expected
    del text
    db.close_engine()
    del db
    assert read_documents() == {"before": b"{}"}
