"""A log path that leads to a database: the server refuses it and leaves the file as it was."""

import contextlib
import gc
import os
import subprocess

import pytest

from quorvane import DBEngine, DBEngineWebServer

from conftest import ALREADY_OPEN, INSERT_A, python

IS_DATABASE = "it is a database file"
IS_HELD = "it is held by a database or another log"
# The logs, by suffix: their name in the refusal and what turns them on.
LOGS = {".wal": ("write-ahead log", {}), ".jsonl": ("activity log", {"enable_logging": True})}
DOCS = {f"d{i:04d}": {"n": i, "tag": f"t{i % 7}", "pad": "x" * (i % 50)} for i in range(3000)}

# A DBEngine in a process of its own: it says "ready" once the store is open, answers every
# line with how many documents it reads, and ends when its input closes.
HOLDER = """
import sys, quorvane
engine = quorvane.DBEngine(sys.argv[1])
ids = sys.argv[2:]
print("ready", flush=True)
for line in sys.stdin:
    print(sum(doc is not None for _, doc in engine.get_many(ids)), flush=True)
"""
OPENER = """
import sys, quorvane
try:
    quorvane.DBEngine(sys.argv[1]).close_engine()
except RuntimeError as e:
    print(e)
else:
    print("opened")
"""


def refusal(db_path, suffix, reason):
    return f"Refusing to use {db_path}{suffix} as the {LOGS[suffix][0]}: {reason}"


def fill(path, docs=DOCS):
    """Makes a store at `path` holding `docs`, and releases it."""
    engine = DBEngine(path)
    engine.insert_many(list(docs.items()))
    engine.close_engine()
    del engine
    gc.collect()


def file_bytes(path):
    with open(path, "rb") as f:
        return f.read()


def flock_held(path):
    """True while some process holds a flock on the file at `path` (read from /proc/locks, so
    that looking takes no lock and cannot get in a writer's way)."""
    try:
        st = os.stat(path)
    except FileNotFoundError:
        return False
    file_id = f"{os.major(st.st_dev):02x}:{os.minor(st.st_dev):02x}:{st.st_ino}"
    with open("/proc/locks") as locks:
        return any(line.split()[1] == "FLOCK" and line.split()[5] == file_id for line in locks)


def all_documents_read(reader):
    return reader.get_many(list(DOCS)) == list(DOCS.items())


# Each holder puts a file at `log_path` and yields a check that its owner still reads it whole.


@contextlib.contextmanager
def store_open_here(log_path, tmp_path, wait_until):
    fill(log_path)
    engine = DBEngine(log_path)
    yield lambda: all_documents_read(engine)
    engine.close_engine()


@contextlib.contextmanager
def store_open_elsewhere(log_path, tmp_path, wait_until):
    fill(log_path)
    args, options = python(HOLDER, log_path, *DOCS)
    with subprocess.Popen(args, stdin=subprocess.PIPE, stdout=subprocess.PIPE, **options) as child:
        assert child.stdout.readline() == "ready\n"

        def still_reads():
            child.stdin.write("count\n")
            child.stdin.flush()
            return child.stdout.readline() == f"{len(DOCS)}\n"

        yield still_reads
        child.stdin.close()
        assert child.wait(timeout=60) == 0


@contextlib.contextmanager
def database_not_open(log_path, tmp_path, wait_until):
    fill(log_path)
    yield lambda: True
    engine = DBEngine(log_path)
    assert all_documents_read(engine)
    engine.close_engine()


@contextlib.contextmanager
def another_servers_log(log_path, tmp_path, wait_until):
    other_path = str(tmp_path / "other.db")
    other = DBEngineWebServer(other_path, enable_logging=True)
    suffix = os.path.splitext(log_path)[1]
    os.symlink(other_path + suffix, log_path)
    wait_until(lambda: flock_held(log_path), what="the other server to hold its log")

    def still_writes():
        other.insert("late", {"n": 1})
        wait_until(lambda: other.get("late") == {"n": 1}, what="the other server's write")
        return True

    yield still_writes
    other.close_engine()


HOLDERS = {
    "store open here": (store_open_here, IS_HELD),
    "store open elsewhere": (store_open_elsewhere, IS_HELD),
    "database not open": (database_not_open, IS_DATABASE),
    "another server's log": (another_servers_log, IS_HELD),
}


@pytest.mark.parametrize("suffix", LOGS)
@pytest.mark.parametrize("link", [os.symlink, os.link], ids=["symlink", "hard link"])
def test_a_log_that_is_the_database_itself_is_refused(db_path, capfd, suffix, link):
    fill(db_path)
    before = file_bytes(db_path)
    link(db_path, db_path + suffix)
    listing = sorted(os.listdir(os.path.dirname(db_path)))
    capfd.readouterr()
    with pytest.raises(RuntimeError) as refused:
        DBEngineWebServer(db_path, **LOGS[suffix][1])
    assert str(refused.value) == refusal(db_path, suffix, IS_HELD)
    assert capfd.readouterr().out == ""  # nothing replayed
    assert file_bytes(db_path) == before
    assert sorted(os.listdir(os.path.dirname(db_path))) == listing

    # With the link gone, the path opens as usual, with a regular log, and holds every document.
    os.remove(db_path + suffix)
    server = DBEngineWebServer(db_path, **LOGS[suffix][1])
    assert all_documents_read(server)
    server.insert("new", {})
    server.close_engine()
    del server
    engine = DBEngine(db_path)
    assert all_documents_read(engine) and engine.get("new") == {}
    engine.close_engine()


@pytest.mark.parametrize("suffix", LOGS)
@pytest.mark.parametrize("holder", HOLDERS)
def test_a_log_that_is_another_database_or_a_held_log_is_refused(
        db_path, tmp_path, capfd, wait_until, suffix, holder):
    hold, reason = HOLDERS[holder]
    fill(db_path, {"own": {}})
    log_path = db_path + suffix
    with hold(log_path, tmp_path, wait_until) as still_works:
        before = file_bytes(log_path)
        listing = sorted(os.listdir(tmp_path))
        capfd.readouterr()
        with pytest.raises(RuntimeError) as refused:
            DBEngineWebServer(db_path, **LOGS[suffix][1])
        assert str(refused.value) == refusal(db_path, suffix, reason)
        assert capfd.readouterr().out == ""
        assert file_bytes(log_path) == before
        assert sorted(os.listdir(tmp_path)) == listing
        assert still_works()
        # The server's own store was released again.
        engine = DBEngine(db_path)
        assert engine.get("own") == {}
        engine.close_engine()


def test_a_refused_activity_log_leaves_the_write_ahead_log_unreplayed(db_path, tmp_path, capfd):
    fill(db_path, {})
    with open(db_path + ".wal", "wb") as log:
        log.write(INSERT_A)
    with database_not_open(db_path + ".jsonl", tmp_path, None):
        capfd.readouterr()
        with pytest.raises(RuntimeError, match="as the activity log: it is a database file$"):
            DBEngineWebServer(db_path, enable_logging=True)
        assert capfd.readouterr().out == ""
    assert file_bytes(db_path + ".wal") == INSERT_A
    engine = DBEngine(db_path)
    assert engine.get("a") is None
    engine.close_engine()


def test_a_write_ahead_log_that_cannot_be_opened_fails_the_construction(db_path, capfd):
    # A link into a directory that does not exist: there is no log to replay, and none can be
    # made, so no write accepted could be kept.
    fill(db_path, {"own": {}})
    os.symlink(os.path.join(os.path.dirname(db_path), "missing", "log"), db_path + ".wal")
    capfd.readouterr()
    with pytest.raises(RuntimeError) as failed:
        DBEngineWebServer(db_path)
    assert str(failed.value) == "write-ahead log I/O error: No such file or directory"
    assert tuple(capfd.readouterr()) == ("", "")
    # The store was released, and opens as usual once the log can be made.
    os.remove(db_path + ".wal")
    server = DBEngineWebServer(db_path)
    assert server.get("own") == {}
    server.close_engine()


def open_here(path):
    try:
        DBEngine(path).close_engine()
    except RuntimeError as e:
        return str(e)
    return "opened"


def open_elsewhere(path):
    args, options = python(OPENER, path)
    return subprocess.run(args, capture_output=True, timeout=60, check=True, **options).stdout.strip()


@pytest.mark.parametrize("opener", [open_here, open_elsewhere], ids=["here", "elsewhere"])
def test_no_store_opens_on_a_log_while_a_server_holds_it(db_path, wait_until, opener):
    wal_path, activity_log_path = db_path + ".wal", db_path + ".jsonl"
    server = DBEngineWebServer(db_path, enable_logging=True)
    wait_until(lambda: flock_held(wal_path) and flock_held(activity_log_path),
               what="the writers to hold their logs")
    for log_path in (wal_path, activity_log_path):
        assert opener(log_path) == ALREADY_OPEN
    # The server goes on as before; its write-ahead log is emptied once the write is applied.
    server.insert("a", {"n": 1})
    wait_until(lambda: server.get("a") == {"n": 1} and os.path.getsize(wal_path) == 0,
               what="the write to be applied and the log emptied")
    server.close_engine()
    assert not flock_held(wal_path) and not flock_held(activity_log_path)
    # Both files are free again: a store opens on the empty write-ahead log, and the activity
    # log, with its line, is refused only as what it is.
    assert opener(activity_log_path) == "file is not a database"
    assert opener(wal_path) == "opened"
