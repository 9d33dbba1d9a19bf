"""The activity log: one JSON line per logged id, appended by the log writer."""

import json
import os
import re
import subprocess

import pytest

from conftest import CRASHED, python
from quorvane import DBEngineWebServer

TIMESTAMP = re.compile(r"^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d(\.\d{3}|\.\d{6}|\.\d{9})?[+-]\d\d:\d\d$")
AWKWARD_IDS = ['say "hi"', "back\\slash", "line\nfeed", "tab\tcr\r", "esc\x1b nul\x00 del\x7f",
               "caf\u00e9 \u65e5\u672c \U0001f600", "sol/idus", ""]


def log_size(db_path):
    """The size of the activity log; 0 while the log writer has not yet created it."""
    try:
        return os.path.getsize(db_path + ".jsonl")
    except FileNotFoundError:
        return 0


def log_lines(db_path):
    with open(db_path + ".jsonl", encoding="utf-8") as log:
        text = log.read()
    assert text == "" or text.endswith("\n")
    return text.splitlines()


def test_one_line_per_logged_id(db_path):
    db = DBEngineWebServer(db_path, enable_logging=True)
    for i in AWKWARD_IDS:
        db.insert(i, {})
    db.upsert("u", {})
    db.delete("never stored")
    db.insert_json("j", "[]")
    db.close_engine()
    lines = log_lines(db_path)
    entries = [json.loads(line) for line in lines]
    assert [(e["action"], e["id"]) for e in entries] == (
        [("INSERT", i) for i in AWKWARD_IDS]
        + [("UPSERT", "u"), ("DELETE", "never stored"), ("INSERT", "j")])
    for line, entry in zip(lines, entries):
        assert list(entry) == ["timestamp", "action", "id"]
        assert TIMESTAMP.match(entry["timestamp"]), entry["timestamp"]
        assert line == '{"timestamp": "%s", "action": "%s", "id": %s}' % (
            entry["timestamp"], entry["action"], json.dumps(entry["id"], ensure_ascii=False))
    # Non-ASCII is written as its own UTF-8, without escapes.
    non_ascii = "caf\u00e9 \u65e5\u672c \U0001f600"
    assert non_ascii in lines[AWKWARD_IDS.index(non_ascii)]


def test_a_bulk_insert_is_one_entry_with_one_timestamp(db_path):
    db = DBEngineWebServer(db_path, enable_logging=True)
    db.insert("first", {})
    assert len(db.insert_many([("m1", {}), ("bad", {"b": b"x"}), ("m2", {}), ("m1", {})])) == 1
    db.insert_many_json([("j1", "{}"), ("j2", "{")])
    db.insert("last", {})
    db.close_engine()
    entries = [json.loads(line) for line in log_lines(db_path)]
    assert [e["id"] for e in entries] == ["first", "m1", "m2", "m1", "j1", "last"]
    assert len({e["timestamp"] for e in entries[1:4]}) == 1
    assert all(e["action"] == "INSERT" for e in entries)


def test_lines_stay_buffered_until_the_writer_ends_and_later_runs_append(db_path, wait_until):
    db = DBEngineWebServer(db_path, enable_logging=True)
    for i in range(5):
        db.insert(f"a{i}", {})
    wait_until(lambda: db.get("a4") == {}, what="the writes to be committed")
    assert log_size(db_path) == 0  # far less than the 8192-byte buffer
    db.close_engine()
    assert [json.loads(line)["id"] for line in log_lines(db_path)] == [f"a{i}" for i in range(5)]
    del db

    again = DBEngineWebServer(db_path, enable_logging=True)
    again.delete("a0")
    again.close_engine()
    assert [json.loads(line)["id"] for line in log_lines(db_path)] == (
        [f"a{i}" for i in range(5)] + ["a0"])


def test_a_full_buffer_is_written_out_before_the_writer_ends(db_path, wait_until):
    db = DBEngineWebServer(db_path, enable_logging=True)
    db.insert_many([(f"id{i:05d}", {}) for i in range(1000)])  # some 80 bytes a line
    wait_until(lambda: log_size(db_path) >= 8192, what="a written buffer")
    db.close_engine()
    assert len(log_lines(db_path)) == 1000


@pytest.mark.parametrize("kwargs", [{}, {"enable_logging": False}])
def test_no_file_without_logging(db_path, kwargs):
    db = DBEngineWebServer(db_path, **kwargs)
    db.insert("a", {})
    db.close_engine()
    assert db.get("a") == {}
    assert not os.path.exists(db_path + ".jsonl")


@pytest.mark.parametrize("make", [os.mkdir, os.mkfifo], ids=["directory", "pipe"])
def test_an_activity_log_that_cannot_be_opened_stops_the_writes(db_path, wait_until, make):
    # A pipe without a reader would block the log writer's open, and close_engine with it.
    make(db_path + ".jsonl")
    db = DBEngineWebServer(db_path, enable_logging=True)

    def refused():
        try:
            db.insert("probe", {"n": 1})
        except RuntimeError as e:
            assert str(e) == CRASHED
            return True
        return False

    wait_until(refused, what="the writes to be refused")
    for call in (lambda: db.trigger_backup(db_path + ".bak"), lambda: db.insert_many([])):
        with pytest.raises(RuntimeError, match=f"^{CRASHED}$"):
            call()
    assert db.get("missing") is None
    assert db.filter_by_metadata("n", "1", None, None) in ([], [("probe", {"n": 1})])
    db.close_engine()
    assert db.get_many(["missing"]) == [("missing", None)]


# The zone's offset as the timestamp ends: its sign is the offset's own, taken before it is
# rounded to minutes, so a zone a few seconds west of UTC is not written as UTC.
ZONE_OFFSETS = [
    ("UTC0", "+00:00"),
    ("ABC0:00:20", "-00:00"),
    ("ABC-0:00:20", "+00:00"),
    ("ABC0:00:40", "-00:01"),
    ("ABC-1", "+01:00"),
    ("ABC5:30", "-05:30"),
]


@pytest.mark.parametrize("tz,suffix", ZONE_OFFSETS)
def test_the_timestamp_ends_with_the_zones_offset(db_path, tz, suffix):
    # The zone is read when the process first asks for local time: a fresh interpreter each.
    code = ("import sys, quorvane\n"
            "db = quorvane.DBEngineWebServer(sys.argv[1], enable_logging=True)\n"
            "db.insert('a', {})\n"
            "db.close_engine()\n")
    command, options = python(code, db_path)
    options["env"]["TZ"] = tz
    subprocess.run(command, check=True, timeout=60, **options)
    [line] = log_lines(db_path)
    timestamp = json.loads(line)["timestamp"]
    assert TIMESTAMP.match(timestamp) and timestamp.endswith(suffix), timestamp
