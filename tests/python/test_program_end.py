"""The end of the interpreter commits every write that was accepted.

However a program ends normally (its main program returns, sys.exit, an uncaught exception,
KeyboardInterrupt, SIGINT from outside), the module's exit handler commits what every
instance of the process accepted, as close_engine would, whether the instance is still
referenced, was freed just before, is kept by a reference cycle or is used by a daemon thread;
a backup already requested completes. Writes made after that commit are refused, reads go on.
A daemon thread caught inside a call that released the GIL when the interpreter ends does not
take the process down.

Every scenario runs in a fresh interpreter; its store is then read from the file with the
sqlite3 module (a server is never constructed again: its replay of the write-ahead log would
hide a write lost at the end).
"""

import contextlib
import json
import shutil
import signal
import sqlite3
import subprocess
import sys

import pytest

from conftest import CLOSED_BEFORE, CRASHED, ENGINE, SERVER, python, write_store_file

# Only catches a hang: every child ends within seconds.
TIMEOUT = 120

# What a server's bulk insert raises when the exit closes its queue while it sends.
CLOSED_MID_SEND = "Write queue is full or closed. sending on a disconnected channel"


# What every scenario's code starts with. The n-th write stores document(n) under doc_id(n);
# its ten array elements are as many index entries, which keep the writer busier than the
# program that queues the writes. The module is imported by the first open_store (or by the
# scenario itself).
PRELUDE = r"""
import os, sys

def doc_id(n):
    return f"w{n:07d}"

def document(n):
    return {"n": n, "fields": list(range(n, n + 10))}

def records(start, stop):
    return [(doc_id(n), document(n)) for n in range(start, stop)]

def open_store(class_name, path, **options):
    import quorvane
    # A server keeps its activity log, which the tests read as well.
    if class_name == "DBEngineWebServer":
        options["enable_logging"] = True
    return getattr(quorvane, class_name)(path, **options)
"""


def doc_id(n):
    return f"w{n:07d}"


def document(n):
    return {"n": n, "fields": list(range(n, n + 10))}


def written(count):
    """The documents of the first `count` writes."""
    return {doc_id(n): document(n) for n in range(count)}


def stored_documents(path):
    """{id: document} of the store file at path, read with the sqlite3 module."""
    with contextlib.closing(sqlite3.connect(path)) as conn:
        return {i: json.loads(doc) for i, doc in conn.execute("SELECT id, doc FROM documents")}


def child(code, *args, leak_check=True, **options):
    """python() for a scenario's code, after the prelude. Without `leak_check`, a run under
    AddressSanitizer checks no leaks at the end: for a scenario that leaves memory behind by
    design, the interpreter's (the frames of daemon threads it stops) or an instance inherited
    through fork (whose copy is never released)."""
    command, options = python(PRELUDE + code, *map(str, args), **options)
    if not leak_check and "ASAN_OPTIONS" in options["env"]:
        options["env"]["ASAN_OPTIONS"] += ":detect_leaks=0"
    return command, options


def run(code, *args, leak_check=True):
    command, options = child(code, *args, leak_check=leak_check, capture_output=True,
                             timeout=TIMEOUT)
    return subprocess.run(command, **options)


@pytest.fixture
def committed(read_documents, read_log):
    """committed(class_name, log_may_lag=False): how many writes the store at db_path holds,
    having checked that they are exactly the first ones the scenario made, and for a server
    (which the scenarios open with enable_logging=True) that its activity log lists the same
    writes in order; with log_may_lag, the first of them."""

    def count(class_name, log_may_lag=False):
        documents = {i: json.loads(doc) for i, doc in read_documents().items()}
        assert documents == written(len(documents))
        if class_name == SERVER:
            logged = read_log()
            expected = [("INSERT", doc_id(n)) for n in range(len(documents))]
            assert logged == (expected[:len(logged)] if log_may_lag else expected)
        return len(documents)

    return count


# Writes doc_id(0), doc_id(1), ... in batches of 500, singly or in bulk, and after each batch
# writes on standard output how many calls have returned, unbuffered, so that the count
# outlives the process however it ends. `total` is a number or "forever".
WRITES = r"""
import itertools, signal

class_name, path, way, total = sys.argv[1:]
if total == "forever":
    # SIGINT raises KeyboardInterrupt even in a process started with it ignored (in the
    # background of a shell script).
    signal.signal(signal.SIGINT, signal.default_int_handler)
db = open_store(class_name, path)
for start in itertools.count(0, 500) if total == "forever" else range(0, int(total), 500):
    if way == "insert":
        for i, doc in records(start, start + 500):
            db.insert(i, doc)
    else:
        assert db.insert_many(records(start, start + 500)) is None
    os.write(1, b"%d\n" % (start + 500))
"""

WAYS = pytest.mark.parametrize("way", ["insert", "insert_many"])


def last_count(output):
    lines = output.split()
    return int(lines[-1]) if lines else 0


@WAYS
@pytest.mark.parametrize("ending, status", [
    ("", 0),
    ("sys.exit(3)", 3),
    ("raise ValueError('the program fails')", 1),
    ("raise KeyboardInterrupt", -signal.SIGINT),
], ids=["returns", "sys.exit", "exception", "KeyboardInterrupt"])
def test_every_write_is_committed_however_the_program_ends(class_name, way, ending, status,
                                                           db_path, committed):
    done = run(WRITES + ending, class_name, db_path, way, 20_000)
    assert done.returncode == status, done.stderr
    assert "terminate called" not in done.stderr
    assert last_count(done.stdout) == 20_000
    assert committed(class_name) == 20_000


@WAYS
def test_a_sigint_from_outside_commits_every_write_that_returned(class_name, way, db_path,
                                                                 tmp_path, wait_until, committed):
    report = tmp_path / "returned"
    with report.open("w") as out:
        command, options = child(WRITES, class_name, db_path, way, "forever", stdout=out,
                                 stderr=subprocess.PIPE)
        writing = subprocess.Popen(command, **options)
    with writing:
        try:
            wait_until(lambda: last_count(report.read_text()) >= 20_000, timeout=TIMEOUT,
                       what="20,000 writes")
            writing.send_signal(signal.SIGINT)
            _, err = writing.communicate(timeout=TIMEOUT)
        finally:
            writing.kill()
    assert writing.returncode == -signal.SIGINT, err
    assert "KeyboardInterrupt" in err and "terminate called" not in err
    assert committed(class_name) >= last_count(report.read_text()) >= 20_000


# A signal whose handler ends the program arrives while Python code of a payload runs (the
# payload's keys() raises the signal itself); the program skips the records the store refuses.
# The handler's exit is no such refusal: the program ends with its status, and the writes
# before are committed.
SIGNAL_IN_A_PAYLOAD = r"""
import collections.abc, signal

class_name, path, way = sys.argv[1:]
signal.signal(signal.SIGTERM, lambda number, frame: sys.exit(3))

class Interrupting(collections.abc.Mapping):
    def __getitem__(self, key):
        return 1

    def __len__(self):
        return 1

    def __iter__(self):
        return iter(["a"])

    def keys(self):
        signal.raise_signal(signal.SIGTERM)
        return ["a"]

db = open_store(class_name, path)
for n in range(2000):
    doc = document(n) if n != 1000 else {"m": Interrupting()}
    try:
        if way == "insert":
            db.insert(doc_id(n), doc)
        else:
            db.insert_many([(doc_id(n), doc)])
    except RuntimeError:
        continue
    os.write(1, b"%d\n" % (n + 1))
"""


@WAYS
def test_a_signal_that_ends_the_program_inside_a_payload_is_no_refusal(class_name, way, db_path,
                                                                       committed):
    done = run(SIGNAL_IN_A_PAYLOAD, class_name, db_path, way)
    assert done.returncode == 3, done.stderr
    assert last_count(done.stdout) == 1000
    assert committed(class_name) == 1000


@pytest.mark.parametrize("hold", [
    "del db",
    "import gc; gc.disable(); holder = {'db': db}; holder['self'] = holder; del db, holder",
], ids=["freed", "cycle"])
def test_an_instance_freed_or_kept_by_a_cycle_is_committed(class_name, hold, db_path, committed):
    done = run(WRITES + hold, class_name, db_path, "insert", 20_000)
    assert done.returncode == 0, done.stderr
    assert committed(class_name) == 20_000


# A daemon thread writes until the end, reporting every call that returned; the main program
# ends once it has made 5,000 writes. Its refusal, if it comes before the thread is stopped,
# goes to standard error.
DAEMON_WRITER = r"""
import threading

class_name, path, way = sys.argv[1:]
db = open_store(class_name, path)
going = threading.Event()

def write_until_refused():
    n = 0
    try:
        while True:
            if way == "insert":
                db.insert(doc_id(n), document(n))
                n += 1
            else:
                assert db.insert_many(records(n, n + 50)) is None
                n += 50
            os.write(1, b"%d\n" % n)
            if n >= 5000:
                going.set()
    except RuntimeError as e:
        os.write(2, b"refused: %s\n" % str(e).encode())

threading.Thread(target=write_until_refused, daemon=True).start()
going.wait()
"""


@WAYS
def test_a_daemon_thread_writing_at_the_end_has_every_returned_write_committed(
        class_name, way, db_path, committed):
    done = run(DAEMON_WRITER, class_name, db_path, way, leak_check=False)
    assert done.returncode == 0, done.stderr
    assert set(done.stderr.splitlines()) <= {f"refused: {CRASHED}", f"refused: {CLOSED_MID_SEND}"}
    # A server's bulk insert offers its activity log entry right after its last send: should
    # the commit at the end close the log in between (a thread descheduled there), the entry
    # of those committed writes is lost, as the log's entries may be.
    log_may_lag = way == "insert_many"
    assert committed(class_name, log_may_lag) >= last_count(done.stdout) >= 5000


BACKUP_AT_THE_END = r"""
path, target, hold = sys.argv[1:]
db = open_store("DBEngineWebServer", path)
for start in range(0, 5000, 500):
    db.insert_many(records(start, start + 500))
db.trigger_backup(target)
if hold == "freed":
    del db
"""


@pytest.mark.parametrize("hold", ["kept", "freed"])
def test_a_backup_requested_before_the_end_completes(hold, db_path, tmp_path, committed):
    target = str(tmp_path / "backup.db")
    done = run(BACKUP_AT_THE_END, db_path, target, hold)
    assert done.returncode == 0, done.stderr
    assert done.stdout.splitlines()[-2:] == ["Starting logical database backup in background...",
                                             f"Database backup is successful to {target}"]
    assert stored_documents(target) == written(5000)
    assert committed(SERVER) == 5000


SCHEDULED_BACKUPS = r"""
import datetime

path, backup_dir, hours, hold = sys.argv[1:]
at = datetime.datetime.now() + datetime.timedelta(hours=int(hours))
db = open_store("DBEngineWebServer", path, backup_time=at.strftime("%H:%M"),
                backup_dir=backup_dir)
for start in range(0, 20000, 500):
    db.insert_many(records(start, start + 500))
if hold == "freed":
    del db
"""


@pytest.mark.parametrize("hours", [3, -3], ids=["ahead", "behind"])
@pytest.mark.parametrize("hold", ["kept", "freed"])
def test_a_server_with_a_backup_schedule_ends_with_its_writes_committed(hours, hold, db_path,
                                                                        tmp_path, committed):
    done = run(SCHEDULED_BACKUPS, db_path, tmp_path, hours, hold)  # a hang times out
    assert done.returncode == 0, done.stderr
    assert committed(SERVER) == 20_000


# Exit handlers run last in, first out: the one registered before the import runs after the
# module's commit and prints what each write and a read give; the one registered after it runs
# before the commit and writes 10,000 more documents.
EXIT_HANDLERS = r"""
import atexit, json

class_name, path, target = sys.argv[1:]

def outcome(call):
    try:
        return repr(call())
    except RuntimeError as e:
        return str(e)

def after_the_commit():
    seen = {name: outcome(call) for name, call in writes.items()}
    seen["get"] = db.get(doc_id(0))
    # Closing the instance here, as a __del__ or a finalizer may at the end, is its first
    # close: it ends as one does, and a second call as a second call does.
    seen["close"] = [outcome(db.close_engine), outcome(db.close_engine)]
    print(json.dumps(seen))

atexit.register(after_the_commit)

import quorvane

db = open_store(class_name, path)
writes = {
    "insert": lambda: db.insert("late", {}),
    "upsert": lambda: db.upsert("late", {}),
    "delete": lambda: db.delete(doc_id(0)),
    "insert_json": lambda: db.insert_json("late", "{}"),
    "insert_many": lambda: db.insert_many([("late", {})]),
    "insert_many_json": lambda: db.insert_many_json([("late", "{}")]),
}
if class_name == "DBEngineWebServer":
    writes["trigger_backup"] = lambda: db.trigger_backup(target)

def before_the_commit():
    for n in range(20000, 25000):
        db.insert(doc_id(n), document(n))
    db.insert_many(records(25000, 30000))

atexit.register(before_the_commit)
db.insert_many(records(0, 20000))
"""


def test_exit_handlers_write_before_the_commit_and_are_refused_after_it(class_name, db_path,
                                                                         tmp_path, committed):
    target = tmp_path / "backup.db"
    done = run(EXIT_HANDLERS, class_name, db_path, target)
    assert done.returncode == 0, done.stderr
    writes = ["insert", "upsert", "delete", "insert_json", "insert_many", "insert_many_json"]
    if class_name == SERVER:
        writes.append("trigger_backup")
    closes = ["None", "None" if class_name == SERVER else CLOSED_BEFORE]
    assert json.loads(done.stdout.splitlines()[-1]) == {**dict.fromkeys(writes, CRASHED),
                                                        "get": document(0), "close": closes}
    assert committed(class_name) == 30_000
    assert not target.exists()


# The parent settles its store (every write applied, a server's write-ahead log emptied), then
# forks; the child writes into a store of its own and ends with sys.exit(0), running the exit
# handlers. The parent then writes more and ends normally.
FORK = r"""
import hashlib, json, time, warnings

class_name, path, child_path = sys.argv[1:]
warnings.filterwarnings("ignore", "This process .* is multi-threaded", DeprecationWarning)

def files():
    # By their bytes, not their times: the parent's own writer may still touch its emptied
    # write-ahead log (its time changes, its size stays 0) once it is settled.
    names = [path, path + "-wal", path + ".wal", path + ".jsonl"]
    return {name: hashlib.sha256(open(name, "rb").read()).hexdigest()
            for name in names if os.path.exists(name)}

def settled():
    wal = path + ".wal"
    return db.get(doc_id(999)) and not (os.path.exists(wal) and os.stat(wal).st_size)

db = open_store(class_name, path)
db.insert_many(records(0, 1000))
deadline = time.monotonic() + 60
while not settled():
    assert time.monotonic() < deadline, "the store did not settle"
    time.sleep(0.01)
before = files()
pid = os.fork()
if pid == 0:
    own = open_store(class_name, child_path)
    own.insert_many(records(0, 5000))
    sys.exit(0)
status = os.waitstatus_to_exitcode(os.waitpid(pid, 0)[1])
print(json.dumps({"child": status, "before": before, "after": files()}))
db.insert_many(records(1000, 2000))
"""


def test_a_forked_child_commits_its_own_stores_and_leaves_the_parents_alone(
        class_name, db_path, tmp_path, read_documents):
    child_path = str(tmp_path / "child.db")
    done = run(FORK, class_name, db_path, child_path, leak_check=False)
    assert done.returncode == 0, done.stderr
    report = json.loads(done.stdout.splitlines()[-1])
    assert report["child"] == 0
    assert report["after"] == report["before"]
    assert stored_documents(child_path) == written(5000)
    assert stored_documents(db_path) == written(2000)


# Daemon threads call `method` in a loop over a store of 20,000 documents; the main program ends
# once each has made one call, the others then mostly inside one. "insert_mapping" inserts a
# mapping of the program's own, whose methods run Python code inside the call (where the
# interpreter may end the thread too).
IN_A_CALL_AT_THE_END = r"""
import collections.abc, itertools, threading, time
import quorvane

class Slow(collections.abc.Mapping):
    def __init__(self):
        self.items = {str(i): i for i in range(50)}
    def __getitem__(self, key):
        sum(range(2000))
        return self.items[key]
    def __iter__(self):
        return iter(self.items)
    def __len__(self):
        return len(self.items)

class_name, path, method = sys.argv[1:]
db = getattr(quorvane, class_name)(path)
paged = (None, None) if class_name == "DBEngineWebServer" else ()
ids = ["d%07d" % i for i in range(0, 20000, 7)]
new = [("new%04d" % i, {"n": i}) for i in range(500)]
calls = {
    "get": lambda: db.get("d0012345"),
    "get_many": lambda: db.get_many(ids),
    "scan_prefix": lambda: db.scan_prefix("d0012"),
    "filter_by_metadata": lambda: db.filter_by_metadata("g", "7", *paged),
    "insert_many": lambda: db.insert_many(new),
    "insert_many_json": lambda: db.insert_many_json([(i, '{"n": 1}') for i, _ in new]),
    "insert_mapping": lambda: db.insert("m%d" % next(counter), {"m": Slow()}),
}
counter = itertools.count()
call = calls[method]
refused = {"Background write worker has crashed!",
           "Write queue is full or closed. sending on a disconnected channel"}
started = threading.Semaphore(0)

def loop():
    call()
    started.release()
    while True:
        try:
            call()
        except RuntimeError as e:  # a write after the exit's commit
            if str(e) not in refused:
                raise

for _ in range(8):
    threading.Thread(target=loop, daemon=True).start()
for _ in range(8):
    started.acquire()
time.sleep(0.01)
"""

RUNS = 10

# CPython 3.10 itself may crash at its end while a daemon thread waits to take the GIL back
# after a call that released it: the thread wakes up in the interpreter's state after it has
# been freed (daemon threads hashing with hashlib crash it the same way). Only a segmentation
# fault with nothing printed is taken for that there.
INTERPRETER_CRASH = [("", -signal.SIGSEGV)] if sys.version_info < (3, 11) else []


@pytest.fixture(scope="module")
def twenty_thousand_documents(tmp_path_factory):
    """A store file of 20,000 small documents, d0000000 to d0019999, {"g": n % 20, "n": n}."""
    path = str(tmp_path_factory.mktemp("store") / "big.db")
    documents = {"d%07d" % n: {"g": n % 20, "n": n} for n in range(20_000)}
    write_store_file(path, {i: json.dumps(doc) for i, doc in documents.items()},
                     [(f"{key}.{value}", i) for i, doc in documents.items()
                      for key, value in doc.items()])
    return path


@pytest.mark.parametrize("class_name, method", [
    *((ENGINE, method) for method in ("get", "get_many", "scan_prefix", "filter_by_metadata",
                                      "insert_mapping")),
    *((SERVER, method) for method in ("get", "get_many", "scan_prefix", "filter_by_metadata",
                                      "insert_many", "insert_many_json", "insert_mapping")),
])
def test_daemon_threads_inside_a_call_at_the_end_do_not_abort_the_process(
        class_name, method, twenty_thousand_documents, tmp_path):
    with contextlib.ExitStack() as running:
        children = []
        for run_number in range(RUNS):
            path = str(tmp_path / f"run{run_number}.db")
            shutil.copy(twenty_thousand_documents, path)
            command, options = child(IN_A_CALL_AT_THE_END, class_name, path, method,
                                     leak_check=False, stdout=subprocess.DEVNULL,
                                     stderr=subprocess.PIPE)
            children.append(running.enter_context(subprocess.Popen(command, **options)))
            running.callback(children[-1].kill)  # one still running once the test ends
        outcomes = [(process.communicate(timeout=TIMEOUT)[1], process.returncode)
                    for process in children]
    assert [outcome for outcome in outcomes if outcome not in [("", 0), *INTERPRETER_CRASH]] == []
