"""DBEngineWebServer's own write behaviour: the best-effort bulk inserts and what of them
reaches the store and the activity log, the messages, and the bulk send without the GIL. What
both classes do alike is in test_writes.py."""

import os
import subprocess
import sys
import threading
import time

import pytest

import quorvane
from conftest import MAX_RECORD_BYTES, TOO_LARGE
from quorvane import DBEngineWebServer


def test_a_single_record_that_cannot_be_prepared_raises(db_path, read_documents, read_log):
    db = DBEngineWebServer(db_path, enable_logging=True)
    with pytest.raises(RuntimeError) as info:
        db.insert("u", {"b": b"x"})
    assert str(info.value) == ("Error converting dict to Rust bytes for u."
                               "invalid type: byte array, expected any valid JSON value")
    with pytest.raises(RuntimeError) as info:
        db.upsert("u", {"n": 2**64})
    assert str(info.value) == "Error converting dict to Rust bytes for u.JSON number out of range"
    with pytest.raises(RuntimeError) as info:
        db.insert_json("u1", "")
    assert str(info.value) == "Validation error at u1.EOF while parsing a value at line 1 column 0"
    db.close_engine()
    assert read_log() == []
    del db
    assert read_documents() == {}


def test_bulk_inserts_return_the_refused_records_and_queue_the_rest(db_path, read_documents,
                                                                     read_log):
    db = DBEngineWebServer(db_path, enable_logging=True)
    bad_bytes, bad_number, good = {"b": b"x"}, {"n": 2**64}, {"v": 2}
    refused = db.insert_many([
        ("a", {"v": 1}), ("x", bad_bytes), ("a", good), ("y", bad_number), ("c", {}),
    ])
    assert refused == [
        ("x", bad_bytes,
         "Python dict parsing error invalid type: byte array, expected any valid JSON value"),
        ("y", bad_number, "Python dict parsing error JSON number out of range"),
    ]
    assert refused[0][1] is bad_bytes and refused[1][1] is bad_number
    refused = db.insert_many_json([("j1", "[1]"), ("j2", "{"), ("j3", "{}"), ("j4", "")])
    assert refused == [
        ("j2", "{", "Invalid JSON structure EOF while parsing an object at line 1 column 1"),
        ("j4", "", "Invalid JSON structure EOF while parsing a value at line 1 column 0"),
    ]
    db.close_engine()
    # One batch entry per call, listing the accepted ids in their order.
    assert read_log() == [("INSERT", i) for i in ("a", "a", "c", "j1", "j3")]
    del db
    assert read_documents() == {"a": b'{"v":2}', "c": b"{}", "j1": b"[1]", "j3": b"{}"}


def test_bulk_inserts_that_refuse_every_record_queue_and_log_nothing(db_path, read_documents,
                                                                     read_log):
    db = DBEngineWebServer(db_path, enable_logging=True)
    records = [("a", {"b": b"x"}), ("b", {"c": bytearray(b"y")})]
    refused = db.insert_many(records)
    assert [(i, d) for i, d, _ in refused] == records
    assert all(got is given for (_, got, _), (_, given) in zip(refused, records))
    assert [i for i, _, _ in db.insert_many_json([("c", "x"), ("d", "[")])] == ["c", "d"]
    db.close_engine()
    assert read_log() == []
    del db
    assert read_documents() == {}


def test_a_document_too_large_for_one_record_is_refused(db_path, read_documents):
    # With the id "k" each document takes one byte more than a record holds.
    text = "0".ljust(MAX_RECORD_BYTES)
    db = DBEngineWebServer(db_path)
    refused = db.insert_many_json([("before", "{}"), ("k", text), ("after", "{}")])
    assert len(refused) == 1 and refused[0][0] == "k" and refused[0][2] == TOO_LARGE
    assert refused[0][1] == text
    del refused
    big = {"": "x" * (MAX_RECORD_BYTES - 7)}  # stored as {"":"xx..."}
    assert db.insert_many([("k", big), ("last", {})]) == [("k", big, TOO_LARGE)]
    del text, big
    db.close_engine()
    del db
    assert read_documents() == {"before": b"{}", "after": b"{}", "last": b"{}"}


# The write-ahead log may not grow past 1 MiB, so the WAL writer ends partway through the
# call's send and the queue's receiver goes: the send fails, whatever the call refused.
SEND_FAILURE = r"""
import resource, signal, sys
import quorvane

signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
resource.setrlimit(resource.RLIMIT_FSIZE, (1 << 20, resource.RLIM_INFINITY))
db = quorvane.DBEngineWebServer(sys.argv[1], enable_logging=True)
pad = "x" * 200
if sys.argv[2] == "insert_many":
    records = [(f"r{i}", {"pad": pad}) for i in range(50000)] + [("bad", {"b": b"x"})]
else:
    records = [(f"r{i}", '{"pad":"%s"}' % pad) for i in range(50000)] + [("bad", "{")]
try:
    print("returned", getattr(db, sys.argv[2])(records))
except RuntimeError as e:
    print("raised", e)
db.close_engine()
"""


@pytest.mark.parametrize("method,message", [
    ("insert_many", "Write queue is full or closed. sending on a disconnected channel"),
    ("insert_many_json", "Write queue is full or closed sending on a disconnected channel"),
])
def test_a_bulk_insert_whose_queue_goes_away_raises_its_own_text(db_path, method, message):
    env = dict(os.environ, PYTHONPATH=os.path.dirname(quorvane.__file__))
    done = subprocess.run([sys.executable, "-c", SEND_FAILURE, db_path, method], env=env,
                          capture_output=True, text=True, timeout=120)
    assert done.stdout == f"raised {message}\n"
    assert "write-ahead log I/O error" in done.stderr
    assert os.path.getsize(db_path + ".jsonl") == 0  # the refusals and the batch: not logged


def test_a_bulk_insert_sends_without_the_gil(server):
    # With a huge switch interval the other thread can only run while the main thread has
    # released the GIL. Nothing in insert_many releases it but the send, and the send of
    # these records into a queue already filled by a burst of single inserts lasts far longer
    # than the other thread takes to wake up.
    records = [(f"m{i:06d}", {"i": i, "pad": "x" * 100}) for i in range(50000)]
    samples = []
    stop = threading.Event()

    def other():
        while not stop.is_set():
            samples.append(server.queue_size)
            time.sleep(0)  # hands the GIL back at once

    old_interval = sys.getswitchinterval()
    thread = threading.Thread(target=other)
    thread.start()
    sys.setswitchinterval(100)
    try:
        for i in range(20000):
            server.insert(f"s{i:06d}", {"i": i})
        before = len(samples)
        assert server.insert_many(records) is None
        during = len(samples) - before
    finally:
        stop.set()
        sys.setswitchinterval(old_interval)
        thread.join(timeout=60)
    assert not thread.is_alive()
    assert during > 0
    server.close_engine()
    assert len(server.scan_prefix("m")) == len(records)
