import os
import sqlite3
import struct

import pytest

from quorvane import DBEngineWebServer

SUCCESS = "WAL Recover: Successfully written all records to database!"
INCOMPLETE = "WAL Recovery: Found incomplete frame at EOF. Discarding partial write"
MISSING = "WAL Recovery: Missing data for frame, discarding write!"


def frame(op, doc_id, payload=b""):
    doc_id = doc_id.encode() if isinstance(doc_id, str) else doc_id
    return struct.pack("<BII", op, len(doc_id), len(payload)) + doc_id + payload


def insert(doc_id, payload):
    return frame(1, doc_id, payload)


def construct_and_release(db_path, capfd):
    """Constructs an instance (replaying the log), releases it; the lines replay printed."""
    capfd.readouterr()
    db = DBEngineWebServer(db_path)
    printed = capfd.readouterr().out
    db.close_engine()
    del db
    return printed.splitlines()


def replay(db_path, log, capfd):
    with open(db_path + ".wal", "wb") as f:
        f.write(log)
    return construct_and_release(db_path, capfd)


def stored(db_path):
    with sqlite3.connect(db_path) as c:
        docs = dict(c.execute("SELECT id, doc FROM documents"))
        index = set(c.execute("SELECT key, id FROM metadata_index"))
    return docs, index


def test_no_log_prints_nothing(db_path, capfd):
    assert construct_and_release(db_path, capfd) == []
    assert stored(db_path) == ({}, set())


def test_an_empty_log_is_one_empty_commit(db_path, capfd):
    assert replay(db_path, b"", capfd) == [SUCCESS]
    assert os.path.getsize(db_path + ".wal") == 0


A = insert("a", b'{"n": 1}')
B = insert("b", b'{"n": 2}')


@pytest.mark.parametrize(
    "log,lines,docs,index",
    [
        (A + B[:5], [INCOMPLETE], {"a": b'{"n": 1}'}, {("n.1", "a")}),
        (A + B[:-1], [MISSING], {"a": b'{"n": 1}'}, {("n.1", "a")}),
        (A + B[:9], [MISSING], {"a": b'{"n": 1}'}, {("n.1", "a")}),
        (
            A + frame(0, "skip", b"{}") + B,
            ["Op type is different, skipping this operation 0"],
            {"a": b'{"n": 1}', "b": b'{"n": 2}'},
            {("n.1", "a"), ("n.2", "b")},
        ),
        (frame(255, "x", b"{}"), ["Op type is different, skipping this operation 255"], {}, set()),
        (insert("x", b'{"k": "v"}') + frame(2, "x"), [], {}, set()),
        (A + frame(3, "a", b'{"n": 3, "m": true}'), [], {"a": b'{"n": 3, "m": true}'},
         {("n.3", "a"), ("m.true", "a")}),
        (insert("", b""), [], {"": b""}, set()),
        # A damaged header declaring 4 GiB - 1 bytes is a frame cut short.
        (A + struct.pack("<BII", 1, 1, 0xFFFFFFFF) + b"k{}", [MISSING],
         {"a": b'{"n": 1}'}, {("n.1", "a")}),
    ],
    ids=["cut-header", "cut-payload", "cut-after-header", "op-0", "op-255", "insert-delete",
         "upsert", "empty-id-and-payload", "4GiB-payload"],
)
def test_replay(db_path, capfd, log, lines, docs, index):
    assert replay(db_path, log, capfd) == lines + [SUCCESS]
    assert stored(db_path) == (docs, index)
    assert os.path.getsize(db_path + ".wal") == 0


def test_ids_that_are_not_utf8_are_decoded_with_replacements(db_path, capfd):
    raw_ids = [b"\xffid", b"cut\xe2\x82", b"\xed\xa0\x80", b"ok\xc3\xa9"]
    log = b"".join(insert(raw, b'{"v": 1}') for raw in raw_ids)
    assert replay(db_path, log, capfd) == [SUCCESS]
    expected = {raw.decode("utf-8", "replace") for raw in raw_ids}
    docs, index = stored(db_path)
    assert set(docs) == expected
    assert index == {("v.1", i) for i in expected}


def test_replaying_twice_is_replaying_once(db_path, capfd):
    log = A + B + frame(3, "a", b'{"n": 5}') + frame(2, "b") + insert("c", b'{"n": [1, 2]}')
    replay(db_path, log, capfd)
    once = stored(db_path)
    assert replay(db_path, log, capfd) == [SUCCESS]
    assert stored(db_path) == once
    assert once == ({"a": b'{"n": 5}', "c": b'{"n": [1, 2]}'}, {("n.5", "a"), ("n.0.1", "c"),
                                                                 ("n.1.2", "c")})


def test_a_log_that_cannot_be_opened_fails_construction(db_path, capfd):
    os.mkdir(db_path + ".wal")
    with pytest.raises(RuntimeError, match="^Failed to open WAL file Is a directory$"):
        DBEngineWebServer(db_path)
    assert capfd.readouterr().out == ""
    os.rmdir(db_path + ".wal")
    DBEngineWebServer(db_path).close_engine()
