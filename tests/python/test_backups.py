"""Backups: trigger_backup and the scheduled backup, as their lines and the files they leave."""

import gc
import json
import os
import subprocess

import pytest

import quorvane
from conftest import CRASHED
from quorvane import DBEngineWebServer

STARTING = "Starting logical database backup in background...\n"


def backup_documents(path):
    """{id: document} of a backup, read through DBEngine."""
    gc.collect()
    engine = quorvane.DBEngine(path)
    try:
        return dict(engine.scan_prefix(""))
    finally:
        engine.close_engine()


def sqlite(path, sql):
    done = subprocess.run(["sqlite3", path, sql], capture_output=True, text=True, check=True)
    return done.stdout


def test_a_backup_holds_the_documents_and_the_index(db_path, tmp_path, output):
    target = str(tmp_path / "copy.db")
    db = DBEngineWebServer(db_path)
    db.insert_many([(f"d{i}", {"n": i, "tag": "t"}) for i in range(50)])
    db.delete("d0")
    assert db.trigger_backup(target) is None
    output.wait_for(f"Database backup is successful to {target}\n")
    assert output.out == STARTING + f"Database backup is successful to {target}\n"
    db.close_engine()
    assert sqlite(target, "select count(*) from documents") == "49\n"
    assert sqlite(target, "select count(*) from metadata_index where key = 'tag.t'") == "49\n"
    assert backup_documents(target) == {f"d{i}": {"n": i, "tag": "t"} for i in range(1, 50)}


def test_a_backup_of_an_empty_store_holds_both_tables(db_path, tmp_path, output):
    target = str(tmp_path / "empty.db")
    db = DBEngineWebServer(db_path)
    db.trigger_backup(target_path=target)
    output.wait_for(f"Database backup is successful to {target}\n")
    db.close_engine()
    assert sqlite(target, "select name from sqlite_master where type = 'table' order by name") == (
        "documents\nmetadata_index\n")
    assert backup_documents(target) == {}


def test_a_backup_during_writes_holds_everything_queued_before_it(db_path, tmp_path, output):
    target = str(tmp_path / "during.db")
    db = DBEngineWebServer(db_path)
    for i in range(3000):
        db.insert(f"before{i:04d}", {"i": i})
    db.trigger_backup(target)
    for i in range(3000):
        db.insert(f"after{i:04d}", {"i": i})
    output.wait_for(f"Database backup is successful to {target}\n")
    db.close_engine()
    ids = set(backup_documents(target))
    assert {f"before{i:04d}" for i in range(3000)} <= ids
    assert ids <= {f"before{i:04d}" for i in range(3000)} | {f"after{i:04d}" for i in range(3000)}


def test_a_second_backup_into_the_same_target_keeps_what_was_deleted(db_path, tmp_path, output):
    target = str(tmp_path / "again.db")
    db = DBEngineWebServer(db_path)
    db.insert_many([("a", {"v": 1}), ("b", {"v": 1})])
    db.trigger_backup(target)
    output.wait_for(f"Database backup is successful to {target}\n")
    db.delete("a")
    db.upsert("b", {"v": 2})
    db.insert("c", {"v": 3})
    db.trigger_backup(target)
    output.wait_for(f"Database backup is successful to {target}\n", count=2)
    db.close_engine()
    assert backup_documents(target) == {"a": {"v": 1}, "b": {"v": 2}, "c": {"v": 3}}


def test_a_backup_onto_the_live_file_fails_and_changes_nothing(db_path, output, wait_until):
    db = DBEngineWebServer(db_path)
    db.insert("a", {"v": 1})
    wait_until(lambda: db.get("a") is not None, what="the insert to be committed")

    def files():
        return [open(p, "rb").read() for p in (db_path, db_path + "-wal") if os.path.exists(p)]

    before = files()
    db.trigger_backup(db_path)
    output.wait_for("Failed to create backup database: ", stream="err")
    output.wait_for("\n", stream="err")
    assert output.out == STARTING
    assert output.err == ("Failed to create backup database: "
                          "Database already open. Cannot acquire lock.\n")
    assert files() == before
    assert db.scan_prefix("") == [("a", {"v": 1})]
    db.close_engine()


def test_trigger_backup_arguments_and_a_closed_instance(db_path, tmp_path, output,
                                                       expected_notes):
    db = DBEngineWebServer(db_path)
    with pytest.raises(TypeError, match="missing 1 required positional argument: 'target_path'"):
        db.trigger_backup()
    with pytest.raises(TypeError) as info:
        db.trigger_backup(tmp_path)  # a path object is not a str
    assert getattr(info.value, "__notes__", []) == expected_notes("target_path")
    db.close_engine()
    with pytest.raises(RuntimeError, match=f"^{CRASHED}$"):
        db.trigger_backup(str(tmp_path / "late.db"))
    output.read()
    assert output.out == "" and not os.path.exists(tmp_path / "late.db")


SCHEDULED = r"""
import json, os, sys, time
import quorvane

db_path, backup_dir, expected = sys.argv[1:]
db = quorvane.DBEngineWebServer(db_path, backup_time="09:00", backup_dir=backup_dir)
db.insert_many([("a", {"v": 1}), ("b", {"v": 2})])
deadline = time.monotonic() + 30
while not os.path.exists(expected) and time.monotonic() < deadline:
    time.sleep(0.05)
# The backup worker holds the file's lock until it has committed.
while time.monotonic() < deadline:
    try:
        backup = quorvane.DBEngine(expected)
        break
    except RuntimeError:
        time.sleep(0.05)
print(json.dumps([name for name in os.listdir(backup_dir) if name.endswith(".redb")]))
print(json.dumps(backup.scan_prefix("")), flush=True)
backup.close_engine()
db.close_engine()
"""


@pytest.mark.skipif("libasan" in os.environ.get("LD_PRELOAD", ""),
                    reason="libfaketime hangs a process that has the sanitizer runtime preloaded")
def test_the_scheduled_backup_runs_at_its_time(db_path, tmp_path):
    backup_dir = tmp_path / "backups"
    backup_dir.mkdir()
    expected = str(backup_dir / "backup_20250314_090000.redb")
    env = dict(os.environ, TZ="UTC", PYTHONPATH=os.path.dirname(quorvane.__file__))
    done = subprocess.run(
        ["faketime", "2025-03-14 08:59:58", "/usr/bin/python3", "-c", SCHEDULED, db_path,
         str(backup_dir), expected],
        env=env, capture_output=True, text=True, timeout=60)
    assert done.returncode == 0, done.stderr
    lines = done.stdout.splitlines()
    assert lines[:2] == [STARTING.rstrip("\n"), f"Database backup is successful to {expected}"]
    assert [json.loads(line) for line in lines[2:]] == [
        ["backup_20250314_090000.redb"], [["a", {"v": 1}], ["b", {"v": 2}]]]
