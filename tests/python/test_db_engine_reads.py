"""DBEngine's read methods: arguments, orders, prefixes, the metadata filter, and the GIL."""
import sys
import threading
import time

import pytest

IDS = ["a", "a:1", "a:10", "a:2", "ab", "A", "B:1"]


@pytest.mark.parametrize(
    "call, error, message, note",
    [
        (lambda db: db.get(), TypeError, "missing 1 required positional argument: 'id'", None),
        (lambda db: db.get("a", "b"), TypeError, "takes 1 positional argument", None),
        (lambda db: db.get(ident="a"), TypeError, "unexpected keyword argument 'ident'", None),
        (lambda db: db.get(1), TypeError, "'int' object is not an instance of 'str'", "id"),
        (lambda db: db.get(None), TypeError, "'None' is not an instance of 'str'", "id"),
        (lambda db: db.get("\ud800"), UnicodeEncodeError, "surrogates not allowed", "id"),
        (lambda db: db.get_many("ab"), TypeError, "^Can't extract `str` to `Vec`$", "ids"),
        (lambda db: db.get_many({"a": 1}), TypeError,
         "'dict' object is not an instance of 'Sequence'", "ids"),
        (lambda db: db.get_many({"a"}), TypeError, "not an instance of 'Sequence'", "ids"),
        (lambda db: db.get_many(i for i in "a"), TypeError, "not an instance of 'Sequence'",
         "ids"),
        (lambda db: db.get_many(["a", 1]), TypeError, "'int' object is not an instance", "ids"),
        (lambda db: db.scan_prefix(b"a"), TypeError, "'bytes' object is not an instance", "prefix"),
        (lambda db: db.filter_by_metadata(1, 2), TypeError, "'int'", "index_key"),
        (lambda db: db.filter_by_metadata("k", 2), TypeError, "'int'", "index_value"),
        (lambda db: db.filter_by_metadata("k"), TypeError, "missing 1 required positional", None),
    ],
)
def test_argument_errors_name_the_parameter(stored_engine, expected_notes, call, error, message,
                                             note):
    db = stored_engine({"a": "{}"})
    with pytest.raises(error, match=message) as caught:
        call(db)
    assert getattr(caught.value, "__notes__", []) == expected_notes(note)


def test_arguments_by_keyword_and_any_sequence_of_str(stored_engine):
    db = stored_engine({"a": '{"n":1}', "b": '{"n":2}'})
    assert db.get(id="a") == {"n": 1}
    assert db.get_many(ids=("b", "a")) == [("b", {"n": 2}), ("a", {"n": 1})]
    assert db.get_many(range(0)) == []
    assert db.scan_prefix(prefix="b") == [("b", {"n": 2})]
    assert db.filter_by_metadata(index_value="1", index_key="n") == []


def test_get_and_get_many_of_missing_and_repeated_ids(stored_engine):
    db = stored_engine({"a": '{"n":1}', "": '{"empty":true}', "a\x00b": '{"nul":1}'})
    assert db.get("nope") is None
    assert db.get("") == {"empty": True}
    assert db.get("a\x00b") == {"nul": 1}
    assert db.get_many([]) == []
    assert db.get_many(["a", "b", "a"]) == [("a", {"n": 1}), ("b", None), ("a", {"n": 1})]


@pytest.mark.parametrize(
    "prefix, expected",
    [
        ("a:", ["a:1", "a:10", "a:2"]),
        ("a", ["a", "a:1", "a:10", "a:2", "ab"]),
        ("", ["A", "B:1", "a", "a:1", "a:10", "a:2", "ab"]),
        ("A", ["A"]),
        ("a:10", ["a:10"]),
        ("zz", []),
        ("a:3", []),
    ],
)
def test_scan_prefix_in_ascending_byte_order(stored_engine, prefix, expected):
    db = stored_engine({i: f'{{"id":"{i}"}}' for i in IDS})
    assert db.scan_prefix(prefix) == [(i, {"id": i}) for i in expected]


def test_filter_by_metadata_joins_key_and_value_and_skips_stale_entries(stored_engine):
    db = stored_engine(
        {"d1": '{"a":{"b":"c"}}', "d2": '{"a":"b.c"}', "d3": '{"k":"y"}', "e": '{"v":1}'},
        index=[
            ("a.b.c", "d2"), ("a.b.c", "d1"),
            ("k.x", "d3"),      # left by an earlier version of d3
            ("k.x", "gone"),    # its document was deleted
            (".v", "e"),
        ],
    )
    expected = [("d1", {"a": {"b": "c"}}), ("d2", {"a": "b.c"})]
    assert db.filter_by_metadata("a.b", "c") == expected
    assert db.filter_by_metadata("a", "b.c") == expected
    assert db.filter_by_metadata("k", "x") == [("d3", {"k": "y"})]
    assert db.filter_by_metadata("", "v") == [("e", {"v": 1})]
    assert db.filter_by_metadata("k", "z") == []


def test_reads_keep_working_after_close_engine(stored_engine):
    db = stored_engine({"a": '{"n":1}'}, index=[("n.1", "a")])
    db.close_engine()
    assert db.get("a") == {"n": 1}
    assert db.get_many(["a"]) == [("a", {"n": 1})]
    assert db.scan_prefix("") == [("a", {"n": 1})]
    assert db.filter_by_metadata("n", "1") == [("a", {"n": 1})]


def test_the_storage_step_releases_the_gil_and_keeps_the_borrow(stored_engine):
    count = 30000
    payload = '{"pad":"' + "x" * 900 + '"}'
    db = stored_engine({f"doc{i:05d}": payload for i in range(count)})

    # With a huge switch interval the other thread can only run while the main thread has
    # released the GIL: inside the read's storage step.
    go = threading.Event()
    stop = threading.Event()
    seen = {"count": 0}

    def other():
        go.wait()
        try:
            db.close_engine()
            seen["close"] = "closed"
        except RuntimeError as e:
            seen["close"] = str(e)
        while not stop.is_set():
            seen["count"] += 1
            time.sleep(0)  # hands the GIL back at once

    old_interval = sys.getswitchinterval()
    sys.setswitchinterval(100)
    thread = threading.Thread(target=other)
    try:
        thread.start()
        go.set()
        before = seen["count"]
        result = db.scan_prefix("doc")
        during = seen["count"] - before
    finally:
        stop.set()
        sys.setswitchinterval(old_interval)
        thread.join(timeout=30)
    assert not thread.is_alive()
    assert len(result) == count
    assert seen["close"] == "Already borrowed"
    assert during > 0
