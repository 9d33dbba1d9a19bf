"""DBEngine's own write behaviour: the JSON text stored as given, records behind a failing
length, bulk inserts that stop at a refused record, and the messages. What both classes do
alike is in test_writes.py."""

from collections.abc import Sequence

import pytest

import quorvane
from conftest import MAX_RECORD_BYTES, TOO_LARGE


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


def test_a_document_too_large_for_one_record_is_refused_at_the_call(db_path, read_documents):
    # The id "k" and this text (0 and blanks: one allocation) take one byte more than a record
    # holds.
    text = "0".ljust(MAX_RECORD_BYTES)
    db = quorvane.DBEngine(db_path)
    with pytest.raises(RuntimeError) as info:
        db.insert_json("k", text)
    assert str(info.value) == TOO_LARGE
    with pytest.raises(RuntimeError) as info:
        db.insert_many_json([("before", "{}"), ("k", text), ("after", "{}")])
    assert str(info.value) == TOO_LARGE
    del text
    db.close_engine()
    del db
    assert read_documents() == {"before": b"{}"}
