"""DBEngine's own read behaviour: the metadata filter and the GIL. What both classes do alike
is in test_reads.py."""
import sys
import threading
import time


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
