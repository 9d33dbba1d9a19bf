"""DBEngine's life: the file lock, close_engine, release without close_engine, and the index
upkeep of the background write worker as readers see it. What both classes do alike is in
test_core.py."""

import gc
import os
import time

import pytest

import quorvane

from conftest import ALREADY_OPEN


def reopen_when_released(path, deadline=20.0):
    """Opens `path` once the store of an earlier instance has been released by its worker."""
    end = time.monotonic() + deadline
    while True:
        try:
            return quorvane.DBEngine(path)
        except RuntimeError as e:
            if str(e) != ALREADY_OPEN or time.monotonic() > end:
                raise
            time.sleep(0.01)


def test_close_engine_twice_and_reads_after_it(db_path):
    db = quorvane.DBEngine(db_path)
    db.insert("a", {"n": 1})
    assert db.close_engine() is None
    assert db.get("a") == {"n": 1}
    with pytest.raises(RuntimeError) as info:
        db.close_engine()
    assert str(info.value) == "Failed to send shutdown signal sending on a disconnected channel"
    with pytest.raises(RuntimeError, match="^Background write worker has crashed!$"):
        db.insert("b", {})


def test_the_file_stays_locked_until_the_instance_is_freed(db_path):
    first = quorvane.DBEngine(db_path)
    for other in (quorvane.DBEngine, quorvane.DBEngineWebServer):
        with pytest.raises(RuntimeError) as info:
            other(db_path)
        assert str(info.value) == ALREADY_OPEN
    # The failed opens left the first instance's locks alone: it still writes and reads.
    first.insert("a", {"n": 1})
    first.close_engine()
    assert first.get("a") == {"n": 1}
    with pytest.raises(RuntimeError, match=ALREADY_OPEN):
        quorvane.DBEngine(db_path)
    del first
    gc.collect()
    again = quorvane.DBEngine(db_path)
    assert again.get("a") == {"n": 1}
    again.close_engine()


def test_an_instance_released_without_close_engine_still_applies_its_queue(db_path):
    db = quorvane.DBEngine(db_path)
    db.insert_many([(f"k{i:05d}", {"i": i}) for i in range(25000)])
    del db
    gc.collect()
    again = reopen_when_released(db_path)
    found = again.scan_prefix("k")
    assert len(found) == 25000
    assert found[-1] == ("k24999", {"i": 24999})
    again.close_engine()


def ids_under(db, key, value):
    return [i for i, _ in db.filter_by_metadata(key, value)]


def test_index_upkeep_follows_every_version(db_path):
    db = quorvane.DBEngine(db_path)
    db.insert("u1", {"n": 1})
    db.insert("u1", {"n": 2})
    db.close_engine()
    # An insert over a stored id removes the replaced version's entries.
    assert ids_under(db, "n", "1") == []
    assert db.filter_by_metadata("n", "2") == [("u1", {"n": 2})]
    del db
    gc.collect()

    db = quorvane.DBEngine(db_path)
    db.upsert("u1", {"n": 3, "tags": ["x"]})
    db.insert("u2", {"n": 3})
    db.close_engine()
    assert ids_under(db, "n", "2") == []
    assert ids_under(db, "n", "3") == ["u1", "u2"]
    assert ids_under(db, "tags.0", "x") == ["u1"]
    del db
    gc.collect()

    db = quorvane.DBEngine(db_path)
    db.delete("u1")
    db.delete("never-stored")
    db.close_engine()
    assert ids_under(db, "n", "3") == ["u2"]
    assert ids_under(db, "tags.0", "x") == []
    assert db.get("u1") is None
    assert db.get_many(["u1", "u2"]) == [("u1", None), ("u2", {"n": 3})]


def test_a_document_that_does_not_parse_for_the_index_is_stored_without_entries(db_path):
    db = quorvane.DBEngine(db_path)
    db.insert("big", {"a": 1})
    # The index parser takes integers up to 64 bits only: this document is stored, its old
    # version's entries are removed, and it files nothing.
    db.insert_json("big", '{"a": 2, "n": 123456789012345678901234567890}')
    db.close_engine()
    assert ids_under(db, "a", "1") == []
    assert ids_under(db, "a", "2") == []
    assert db.get("big") == {"a": 2, "n": 1.2345678901234568e29}


@pytest.mark.parametrize("name", [":memory:", "file:a.db", "file:a.db?mode=memory"])
def test_names_are_plain_file_names(tmp_path, monkeypatch, name):
    monkeypatch.chdir(tmp_path)
    db = quorvane.DBEngine(name)
    db.insert("k", {"n": 1})
    db.close_engine()
    assert db.get("k") == {"n": 1}
    assert os.path.exists(tmp_path / name)
    # That file is the one locked and written: its absolute name is refused, "a.db" is another.
    with pytest.raises(RuntimeError, match=ALREADY_OPEN):
        quorvane.DBEngine(str(tmp_path / name))
    other = quorvane.DBEngine("a.db")
    assert other.get("k") is None
    other.close_engine()
