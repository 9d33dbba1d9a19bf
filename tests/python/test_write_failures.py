"""What both classes do when the disk refuses a commit: SQLite's journal failing to write or
sync (through the io_faults.c shim, preloaded into a child interpreter), a file system that
fills up during a bulk load, and the database file itself failing while SQLite copies its
journal back into it. The writer that meets a batch it cannot commit stops there: later writes
raise, reads show a prefix of the accepted writes, and what was accepted and not committed is
reported (DBEngine.close_engine, or a line at the interpreter's end) and, for the server, kept
in its write-ahead log for the next construction to replay."""

import contextlib
import json
import os
import shutil
import sqlite3
import subprocess

import pytest

import quorvane
from conftest import CRASHED, ENGINE, SERVER, STORE_TABLES, python

SHIM_SOURCE = os.path.join(os.path.dirname(__file__), "io_faults.c")

NOT_COMMITTED = "Writes could not be committed; the background writer has stopped: {}"
# What a write racing with the writer's stop may raise instead of CRASHED (the single writes,
# the server's bulk inserts).
QUEUE_CLOSED = ("Write queue full or closed. sending on a disconnected channel",
                "Write queue is full or closed. sending on a disconnected channel")
SECOND_CLOSE = "Failed to send shutdown signal sending on a disconnected channel"
IO_ERROR = "disk I/O error"
DISK_FULL = "database or disk is full"

# The writer. Ids d000000, d000001, ... are written in order, by insert_many calls of `chunk`
# records or by single inserts, until a write raises or `total` are written; every
# `settle_every` chunks it waits until the chunk is visible (or a write raises), and after
# each chunk it reads everything back, checking that it is ids 0..n-1. Its report (the last
# line of standard output): `accepted`, the ids below it were written by calls that returned;
# `attempted`, the end of an insert_many that raised part way (else `accepted`); `seen`, the
# most documents a read returned; `holes`, the sizes of the reads that were not such a prefix;
# `stalled`, the chunks waited for in vain while writes went on being accepted; the messages of
# the first write that raised, of a later one, of trigger_backup and of close_engine (called
# twice, unless `end` is "exit": the program then just ends); `injected`, the calls the shim
# failed while the instance was open (before the program's end closes its store).
CHILD = r"""
import ctypes, json, sys, time
import quorvane

class_name, path, way, total, chunk, pad, settle_every, end = sys.argv[1:]
total, chunk, pad, settle_every = int(total), int(chunk), int(pad), int(settle_every)
CRASHED = "Background write worker has crashed!"
db = getattr(quorvane, class_name)(path)
report = {"accepted": 0, "attempted": 0, "seen": 0, "holes": [], "stalled": 0, "raised": None,
          "later": None, "backup": None, "close": []}

def doc_id(n):
    return f"d{n:06d}"

def look():
    ids = [i for i, _ in db.scan_prefix("d")]
    if ids != [doc_id(n) for n in range(len(ids))]:
        report["holes"].append(len(ids))
    report["seen"] = max(report["seen"], len(ids))

def write(start, stop):
    report["attempted"] = stop
    records = [(doc_id(n), {"n": n, "pad": "x" * pad}) for n in range(start, stop)]
    if way == "insert_many":
        assert db.insert_many(records) is None
        report["accepted"] = stop
    else:
        for i, doc in records:
            db.insert(i, doc)
            report["accepted"] += 1

def settle(n):
    # A write raises once the writer has stopped: the delete of an id outside the d-range is
    # the probe. A chunk that never shows while the writer goes on was dropped: that is
    # counted, and no later chunk is waited for.
    if report["stalled"]:
        return
    deadline = time.monotonic() + 20
    while db.get(doc_id(n - 1)) is None:
        if time.monotonic() > deadline:
            report["stalled"] += 1
            return
        db.delete("probe")
        time.sleep(0.001)

def outcome(call, *args):
    try:
        call(*args)
        return None
    except RuntimeError as e:
        return str(e)

def injected():
    try:
        faults = ctypes.CDLL(None).io_faults_injected
    except AttributeError:
        return 0
    faults.restype = ctypes.c_ulong
    return faults()

try:
    for k, start in enumerate(range(0, total, chunk)):
        write(start, min(start + chunk, total))
        if settle_every and k % settle_every == 0:
            settle(min(start + chunk, total))
        look()
    report["attempted"] = report["accepted"]
except RuntimeError as e:
    report["raised"] = str(e)
    if str(e) == CRASHED or way == "insert":  # the call that raised queued nothing
        report["attempted"] = report["accepted"]
    deadline = time.monotonic() + 20
    while report["later"] != CRASHED and time.monotonic() < deadline:
        report["later"] = outcome(db.delete, "probe")
    look()
    if class_name == "DBEngineWebServer":
        report["backup"] = outcome(db.trigger_backup, path + ".backup")
if end == "close":
    report["close"] = [outcome(db.close_engine)]
    report["close"].append(outcome(db.close_engine))
report["injected"] = injected()
print(json.dumps(report), flush=True)
"""


def doc_id(n):
    return f"d{n:06d}"


@pytest.fixture(scope="session")
def shim(tmp_path_factory):
    """The fault shim, built with the system's C compiler (without the sanitizer's runtime
    that LD_PRELOAD may hold for the interpreter)."""
    compiler = shutil.which("cc") or shutil.which("gcc")
    if compiler is None:
        pytest.skip("no C compiler to build the fault shim")
    built = str(tmp_path_factory.mktemp("io_faults") / "io_faults.so")
    env = {k: v for k, v in os.environ.items() if k != "LD_PRELOAD"}
    subprocess.run([compiler, "-shared", "-fPIC", "-O2", "-o", built, SHIM_SOURCE, "-ldl"],
                   env=env, check=True, capture_output=True)
    return built


@pytest.fixture
def faulty(shim):
    """faulty(suffix, calls, after=0, count=0, errno="EIO"): the environment entries that
    preload the shim (after whatever LD_PRELOAD holds) and fail `calls` on the files whose path
    ends with `suffix` (see io_faults.c)."""

    def entries(suffix, calls, after=0, count=0, errno="EIO"):
        preload = " ".join(filter(None, (os.environ.get("LD_PRELOAD"), shim)))
        return {"LD_PRELOAD": preload, "QUORVANE_FAULT_SUFFIX": suffix,
                "QUORVANE_FAULT_CALLS": calls, "QUORVANE_FAULT_AFTER": str(after),
                "QUORVANE_FAULT_COUNT": str(count), "QUORVANE_FAULT_ERRNO": errno}

    return entries


def run_writer(class_name, path, env=(), way="insert_many", total=3000, chunk=100, pad=100,
               settle_every=4, end="close", cwd=None):
    """Runs CHILD in a fresh interpreter; its report and standard error."""
    command, options = python(CHILD, class_name, path, way, str(total), str(chunk), str(pad),
                              str(settle_every), end)
    options["env"].update(env)
    done = subprocess.run(command, **options, capture_output=True, cwd=cwd, timeout=120)
    assert done.returncode == 0, done.stdout + done.stderr
    return json.loads(done.stdout.splitlines()[-1]), done.stderr


def reopened_ids(class_name, db_path):
    """The ids of the d-range stored at db_path, opened again in this process (a server
    replays its write-ahead log first)."""
    db = getattr(quorvane, class_name)(db_path)
    try:
        return [i for i, _ in db.scan_prefix("d")]
    finally:
        db.close_engine()
        del db


def failure_line(class_name, db_path, reason):
    line = f"{class_name} {db_path}: {NOT_COMMITTED.format(reason)}"
    if class_name == SERVER:
        line += (f"; the write-ahead log {db_path}.wal keeps them for the next construction"
                 " to replay")
    return line + "\n"


def check_stopped(class_name, report, reason):
    """The writer stopped at a batch it could not commit: a write raised, later ones raise
    CRASHED, every read was a prefix, and close_engine says why (DBEngine) or returns."""
    assert report["raised"] in (CRASHED, *QUEUE_CLOSED), report
    assert report["later"] == CRASHED
    assert report["holes"] == [] and report["stalled"] == 0
    if class_name == ENGINE:
        assert report["close"] == [NOT_COMMITTED.format(reason), SECOND_CLOSE]
    else:
        assert report["backup"] == CRASHED
        assert report["close"] == [None, None]


def check_prefix(ids, report, every_accepted):
    """The store holds ids 0..k-1, with every write seen and nothing beyond the call that
    raised; with every accepted write too when `every_accepted`."""
    assert ids == [doc_id(n) for n in range(len(ids))], "a hole in the stored ids"
    assert report["seen"] <= len(ids) <= report["attempted"]
    if every_accepted:
        assert len(ids) >= report["accepted"]


# SQLite's journal failing: (calls, errno, matching calls let through, failed calls (0: for
# good), the way of writing, the store's message). A new store's construction makes 2 syncs
# and 7 writes of the journal; the first chunk's commit is let through too, most of the time.
JOURNAL_FAULTS = [
    pytest.param("fdatasync", "EIO", 4, 0, "insert_many", IO_ERROR, id="sync-fails-for-good"),
    pytest.param("fdatasync", "EIO", 4, 3, "insert", IO_ERROR, id="sync-fails-3-times"),
    pytest.param("pwrite", "EIO", 40, 0, "insert", IO_ERROR, id="write-fails-for-good"),
    pytest.param("pwrite", "ENOSPC", 40, 3, "insert_many", DISK_FULL, id="write-full-3-times"),
]


@pytest.mark.parametrize("calls, errno, after, count, way, reason", JOURNAL_FAULTS)
def test_journal_fault_stops_the_writer_at_a_prefix(class_name, db_path, faulty, calls, errno,
                                                    after, count, way, reason):
    report, stderr = run_writer(class_name, db_path, faulty("-wal", calls, after, count, errno),
                                way=way)
    assert report["injected"] > 0
    check_stopped(class_name, report, reason)
    # DBEngine's close_engine told the caller; the server's failure is told at the end.
    assert stderr == ("" if class_name == ENGINE else failure_line(class_name, db_path, reason))
    check_prefix(reopened_ids(class_name, db_path), report, every_accepted=class_name == SERVER)


@pytest.fixture
def small_disk(tmp_path):
    """A directory on a tmpfs of 6 MiB, and a function that grows it to 64 MiB; unmounted at
    the end. Skips where it cannot be mounted (it takes root)."""
    where = tmp_path / "disk"
    where.mkdir()
    if shutil.which("mount") is None:
        pytest.skip("no mount command")
    done = subprocess.run(["mount", "-t", "tmpfs", "-o", "size=6m", "tmpfs", str(where)],
                          capture_output=True, text=True)
    if done.returncode != 0:
        pytest.skip(f"cannot mount a tmpfs: {done.stderr.strip()}")

    def grow():
        subprocess.run(["mount", "-o", "remount,size=64m", str(where)], check=True)

    try:
        yield str(where), grow
    finally:
        subprocess.run(["umount", "-l", str(where)], check=True)


# (class, where the server's write-ahead log is): on the small disk too, both the store and
# the log may run out of room; elsewhere (the log path a link to a file off the small disk),
# only the store does, and the log keeps every accepted write.
FULL_DISKS = [
    pytest.param(ENGINE, "same disk", id="DBEngine"),
    pytest.param(SERVER, "same disk", id="DBEngineWebServer-log-on-the-disk"),
    pytest.param(SERVER, "elsewhere", id="DBEngineWebServer-log-elsewhere"),
]


@pytest.mark.parametrize("class_name, log", FULL_DISKS)
def test_full_disk_stops_the_writer_at_a_prefix(class_name, log, small_disk, tmp_path):
    where, grow = small_disk
    db_path = os.path.join(where, "store.db")
    if log == "elsewhere":
        os.symlink(tmp_path / "store.db.wal", db_path + ".wal")
    report, stderr = run_writer(class_name, db_path, total=20_000, chunk=200, pad=1000,
                                settle_every=2)
    assert report["raised"] in (CRASHED, *QUEUE_CLOSED), report
    assert report["holes"] == [] and report["stalled"] == 0
    if class_name == ENGINE or log == "elsewhere":
        check_stopped(class_name, report, DISK_FULL)
        assert stderr == ("" if class_name == ENGINE
                          else failure_line(class_name, db_path, DISK_FULL))
    # Else the server's WAL writer may be the one that meets the full disk first: it then ends,
    # losing what it had not framed, and the database writer commits what it had framed.
    grow()
    ids = reopened_ids(class_name, db_path)
    check_prefix(ids, report, every_accepted=log == "elsewhere")
    print(f"\n{class_name}, log {log}, on a full disk: accepted {report['accepted']}, "
          f"stored after reopening {len(ids)}, seen {report['seen']}; stderr {stderr!r}")


def test_failed_checkpoint_fails_no_commit(class_name, db_path, faulty, read_documents):
    # SQLite copies its journal back into the file once it holds 4096 pages, and when the store
    # closes (here at the process's end). A store made beforehand with pages of 1 KiB (a file
    # keeps its own page size) gets there with 4 MiB of pages, and then nothing but that copying
    # writes to the file.
    with contextlib.closing(sqlite3.connect(db_path)) as con:
        con.execute("PRAGMA page_size=1024")
        con.execute("PRAGMA journal_mode=WAL")
        for statement in STORE_TABLES:
            con.execute(statement)
    report, stderr = run_writer(class_name, db_path,
                                faulty(os.path.realpath(db_path), "pwrite,fdatasync"),
                                total=800, chunk=50, pad=8000, settle_every=0)
    assert report["injected"] > 0  # while committing, before the store closed
    assert report["raised"] is None and report["holes"] == []
    assert report["close"][0] is None and stderr == ""
    # Read with the sqlite3 module: SQLite's journal kept them, not the server's replay.
    assert sorted(read_documents()) == [doc_id(n) for n in range(800)]


def test_unreported_failure_is_printed_at_the_end(class_name, tmp_path, faulty):
    # The path is relative to the child's directory; the line names it in full.
    report, stderr = run_writer(class_name, "store.db", faulty("-wal", "fdatasync", 4),
                                settle_every=1, end="exit", cwd=str(tmp_path))
    assert report["raised"] in (CRASHED, *QUEUE_CLOSED), report
    assert stderr == failure_line(class_name, str(tmp_path / "store.db"), IO_ERROR)


# The server's database writer meets a backup thread the system refuses: it ends there (a fault
# of its own, on standard error), and queue_size comes back to 0 for a caller waiting on it.
REFUSED_THREAD = r"""
import ctypes, sys, time
import quorvane

path, target = sys.argv[1:]
db = quorvane.DBEngineWebServer(path)
accepted = 0
for n in range(100):
    db.insert(f"d{n:06d}", {"n": n})
    accepted += 1
ctypes.CDLL(None).io_faults_refuse_threads(ctypes.c_ulong(1))
db.trigger_backup(target)
# Writes until one raises: the writer has ended by then.
deadline = time.monotonic() + 60
try:
    while time.monotonic() < deadline:
        db.insert(f"d{accepted:06d}", {"n": accepted})
        accepted += 1
    print("nothing raised")
except RuntimeError as e:
    print("raised", e)
deadline = time.monotonic() + 30
while db.queue_size and time.monotonic() < deadline:
    time.sleep(0.01)
print("queue_size", db.queue_size)
db.close_engine()
print("accepted", accepted)
"""


def test_a_refused_backup_thread_ends_the_writer_with_nothing_left_queued(db_path, tmp_path,
                                                                          shim):
    command, options = python(REFUSED_THREAD, db_path, str(tmp_path / "backup.db"))
    options["env"]["LD_PRELOAD"] = " ".join(filter(None, (os.environ.get("LD_PRELOAD"), shim)))
    done = subprocess.run(command, **options, capture_output=True, timeout=120)
    assert done.returncode == 0, done.stdout + done.stderr
    lines = done.stdout.splitlines()
    assert lines[0] in (f"raised {m}" for m in (CRASHED, *QUEUE_CLOSED)), done.stdout
    assert lines[1] == "queue_size 0", done.stdout
    assert "failed to spawn thread: Resource temporarily unavailable" in done.stderr
    assert not os.path.exists(tmp_path / "backup.db")
    accepted = int(lines[2].split()[1])
    ids = reopened_ids(SERVER, db_path)
    assert ids == [doc_id(n) for n in range(len(ids))] and len(ids) >= accepted
