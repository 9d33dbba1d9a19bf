"""An instance belongs to the process that constructed it.

A child of os.fork() holds a copy of every instance but none of its threads, and a copy of the
store's in-memory state that no longer follows the file: every method and property of an
inherited instance raises, its release in the child touches nothing of the parent's, and the
parent's own release frees the path at once even while a child lives.

A lock that another thread holds at a fork stays held in the child for ever: the database
library's (which, with Python's sqlite3 module imported first, takes a global lock on every
allocation) or, under AddressSanitizer, the allocator's. So no other thread may be at work at
a fork here: each test runs alone in a fresh interpreter (fresh_interpreter in conftest.py),
free of the threads that earlier tests leave behind, and forks only once the threads of its
own instances have applied what was queued (settled) or have been joined (close_engine).
"""

import contextlib
import gc
import hashlib
import json
import os
import select
import signal
import sqlite3
import subprocess
import sys
import time
import traceback

import pytest

from quorvane import DBEngine, DBEngineWebServer

from conftest import ALREADY_OPEN, python, unpaged

# These tests fork on purpose while the instances' threads run.
pytestmark = [pytest.mark.filterwarnings("ignore:.*multi-threaded.*fork:DeprecationWarning"),
              pytest.mark.fresh_interpreter]

CLASSES = pytest.mark.parametrize("cls", [DBEngine, DBEngineWebServer],
                                  ids=["DBEngine", "DBEngineWebServer"])

CHILD_DEADLINE = 60


def opened_elsewhere(cls, pid):
    return (f"This {cls.__name__} was opened in another process (pid {pid}); "
            "open the database again in this process")


class Child:
    """A forked child that runs body(wait) and reports its result (JSON) through a pipe.

    wait() blocks the child until the parent calls go(). The child leaves with os._exit
    whatever happens, so that nothing of the test process (pytest, atexit handlers, the
    sanitizer's leak check) runs in it; an alarm ends it should it hang.
    """

    def __init__(self, body):
        result_r, result_w = os.pipe()
        go_r, self._go = os.pipe()
        self.pid = os.fork()
        if self.pid == 0:
            os.close(result_r)
            os.close(self._go)
            code = 1
            try:
                signal.alarm(CHILD_DEADLINE)
                report = {"result": body(lambda: os.read(go_r, 1))}
                code = 0
            except BaseException:
                report = {"error": traceback.format_exc()}
            try:
                with os.fdopen(result_w, "wb") as out:
                    out.write(json.dumps(report).encode())
            finally:
                os._exit(code)
        os.close(result_w)
        os.close(go_r)
        self._result = result_r
        self.status = None

    def go(self):
        os.write(self._go, b"g")

    def result(self, timeout=CHILD_DEADLINE):
        """Waits for the child's report and its exit; gives its body's result."""
        deadline = time.monotonic() + timeout
        data = b""
        while True:
            ready, _, _ = select.select([self._result], [], [], max(0, deadline - time.monotonic()))
            if not ready:
                self.kill()
                pytest.fail("the child did not report in time")
            chunk = os.read(self._result, 65536)
            if not chunk:
                break
            data += chunk
        # The report ends as the child leaves, and its alarm bounds how long it can live.
        if self.status is None:
            self.status = os.waitpid(self.pid, 0)[1]
        report = json.loads(data) if data else {"error": f"no report, status {self.status}"}
        if "error" in report:
            pytest.fail("the child failed:\n" + report["error"])
        assert os.waitstatus_to_exitcode(self.status) == 0
        return report["result"]

    def kill(self):
        if self.status is None:
            with contextlib.suppress(ProcessLookupError):
                os.kill(self.pid, signal.SIGKILL)
            self.status = os.waitpid(self.pid, 0)[1]

    def close(self):
        self.kill()
        os.close(self._result)
        os.close(self._go)


@pytest.fixture
def settled(wait_until):
    """settled(db, doc_id): waits until the write of doc_id is applied, that is until db's
    threads have started and done the work queued so far."""

    def settle(db, doc_id):
        wait_until(lambda: db.get(doc_id) is not None, what=f"the write of {doc_id}")

    return settle


@pytest.fixture
def fork_child():
    """fork_child(body): a Child running body(wait); every child is ended at teardown."""
    children = []

    def fork(body):
        child = Child(body)
        children.append(child)
        return child

    yield fork
    for child in children:
        child.close()


def outcome(call):
    """[exception type name, message] of call(), or ["returned", repr] when it returns."""
    try:
        value = call()
    except BaseException as e:  # noqa: B902 - a fault must be seen as such, not pass
        return [type(e).__name__, str(e)]
    return ["returned", repr(value)]


def document(n):
    return {"n": n % 7, "tag": f"t{n % 3}", "pad": "x" * 1000}


def write_documents(db, start, stop):
    """Writes documents p<start>..p<stop-1> (about 1 KiB each), half singly, half in bulk."""
    half = (start + stop) // 2
    for n in range(start, half):
        db.insert(f"p{n:06d}", document(n))
    db.insert_many([(f"p{n:06d}", document(n)) for n in range(half, stop)])


def expected_documents(stop):
    return {f"p{n:06d}": document(n) for n in range(stop)}


def files_of(db_path):
    """Every file of the store (SQLite's -wal and -shm, the server's .wal and .jsonl) with its
    size, modification time and a hash of its bytes."""
    state = {}
    for name in (db_path, db_path + "-wal", db_path + "-shm", db_path + ".wal", db_path + ".jsonl"):
        if os.path.exists(name):
            st = os.stat(name)
            with open(name, "rb") as f:
                state[name] = (st.st_size, st.st_mtime_ns, hashlib.sha256(f.read()).hexdigest())
    return state


def assert_store_intact(cls, db_path, expected):
    """Reopens the store (the caller has released it) and checks every document and the file."""
    gc.collect()
    db = cls(db_path)
    assert dict(db.get_many(list(expected))) == expected
    db.close_engine()
    del db
    gc.collect()
    with contextlib.closing(sqlite3.connect(db_path)) as c:
        assert c.execute("PRAGMA integrity_check").fetchall() == [("ok",)]
        assert c.execute("SELECT count(*) FROM documents").fetchone()[0] == len(expected)


OPEN_ELSEWHERE = """
import sys
import quorvane
db = getattr(quorvane, sys.argv[1])(sys.argv[2])
db.insert("b", {"n": 2})
db.close_engine()
print(db.get("a"), db.get("b"))
"""


@CLASSES
def test_the_parents_release_frees_the_path_at_once_while_a_child_lives(cls, db_path,
                                                                        fork_child, settled):
    db = cls(db_path)
    db.insert("a", {"n": 1})
    settled(db, "a")
    child = fork_child(lambda wait: wait() and None)  # idles with copies of the descriptors
    db.close_engine()
    del db

    args, options = python(OPEN_ELSEWHERE, cls.__name__, db_path, capture_output=True,
                           timeout=120)
    done = subprocess.run(args, **options)
    assert done.returncode == 0, done.stderr
    assert done.stdout.splitlines()[-1] == "{'n': 1} {'n': 2}"
    again = cls(db_path)
    assert dict(again.get_many(["a", "b"])) == {"a": {"n": 1}, "b": {"n": 2}}
    again.close_engine()

    child.go()
    child.result()


def enter_with(db):
    with db:
        pass


def calls_of(cls, backup_path):
    """One call of every method and property of `cls` with valid arguments, and a few with
    arguments that do not match (the ownership check comes first)."""
    calls = {
        "close_engine": lambda db: db.close_engine(),
        "insert": lambda db: db.insert("new", {"n": 2}),
        "insert_json": lambda db: db.insert_json("new", '{"n": 2}'),
        "insert_many": lambda db: db.insert_many([("new", {"n": 2})]),
        "insert_many_json": lambda db: db.insert_many_json([("new", '{"n": 2}')]),
        "get": lambda db: db.get("a"),
        "get_many": lambda db: db.get_many(["a"]),
        "delete": lambda db: db.delete("a"),
        "scan_prefix": lambda db: db.scan_prefix("a"),
        "upsert": lambda db: db.upsert("a", {"n": 3}),
        "get without arguments": lambda db: db.get(),
        "insert of other types": lambda db: db.insert(1, 2),
    }
    if cls is DBEngine:
        calls["filter_by_metadata"] = lambda db: db.filter_by_metadata("n", "1")
    else:
        calls.update({
            "filter_by_metadata": lambda db: db.filter_by_metadata("n", "1", None, None),
            "trigger_backup": lambda db: db.trigger_backup(backup_path),
            "queue_size": lambda db: db.queue_size,
            "__enter__": lambda db: db.__enter__(),
            "__exit__": lambda db: db.__exit__(None, None, None),
            "with": enter_with,
        })
    return calls


@CLASSES
def test_every_method_and_property_raises_in_a_child_and_queues_nothing(cls, db_path, tmp_path,
                                                                         fork_child, settled):
    db = cls(db_path)
    db.insert("a", {"n": 1})
    settled(db, "a")
    calls = calls_of(cls, str(tmp_path / "backup.db"))
    surface = {name for name in dir(cls) if not name.startswith("_")}
    surface |= {"__enter__", "__exit__"} & set(dir(cls))
    assert surface <= set(calls)

    def body(wait):
        seen = {name: outcome(lambda: call(db)) for name, call in calls.items()}
        # The queue holds 10000 operations: were these queued, the last would wait for ever.
        seen["10001 inserts"] = sorted({tuple(outcome(lambda: db.insert(f"k{n}", {})))
                                        for n in range(10_001)})
        return seen

    seen = fork_child(body).result()
    refused = ["RuntimeError", opened_elsewhere(cls, os.getpid())]
    assert seen.pop("10001 inserts") == [refused]
    assert seen == {name: refused for name in calls}

    db.close_engine()
    assert dict(db.get_many(["a", "new", "k0"])) == {"a": {"n": 1}, "new": None, "k0": None}
    assert not os.path.exists(tmp_path / "backup.db")


@CLASSES
def test_a_borrow_held_at_the_fork_does_not_stand_in_the_childs_way(cls, db_path, fork_child,
                                                                    settled):
    db = cls(db_path)
    db.insert("b", {"n": 2})
    settled(db, "b")
    reports = []

    class ForkingRecords:
        """Records whose reading forks: the parent is inside insert_many, holding the
        instance's borrow, when the child is made."""

        def __len__(self):
            return 1

        def __getitem__(self, i):
            if i > 0:
                raise IndexError(i)
            child = fork_child(lambda wait: [outcome(db.close_engine),
                                             outcome(lambda: db.get("a"))])
            reports.append(child.result())
            return ("a", {"n": 1})

    db.insert_many(ForkingRecords())
    refused = ["RuntimeError", opened_elsewhere(cls, os.getpid())]
    assert reports == [[refused, refused]]
    db.close_engine()
    assert db.get("a") == {"n": 1}


def drop_copy(box):
    """A child's body that releases its copy of the instance in box[0]; gives the number of
    references it had (2: the box's and the argument's), so a leftover reference cannot hide."""

    def body(wait):
        wait()
        references = sys.getrefcount(box[0])
        box.clear()
        gc.collect()
        return references

    return body


@CLASSES
@pytest.mark.parametrize("fork_after_close", [True, False], ids=["closed", "running"])
def test_a_childs_release_of_its_copy_changes_no_file(cls, db_path, fork_child, settled,
                                                      fork_after_close):
    box = [cls(db_path)]
    write_documents(box[0], 0, 1000)
    if fork_after_close:
        # The instance now holds the store's last reference: releasing it in the child would
        # close the store there, checkpointing into the parent's file and removing its -wal.
        box[0].close_engine()
        stop = 1000
        child = fork_child(drop_copy(box))
    else:
        settled(box[0], "p000999")
        child = fork_child(drop_copy(box))
        write_documents(box[0], 1000, 4000)  # a few MiB the child's copy knows nothing of
        stop = 4000
        box[0].close_engine()  # every write applied; the store stays open, its files still

    before = files_of(db_path)
    assert db_path + "-wal" in before
    child.go()
    assert child.result() == 2
    assert files_of(db_path) == before

    expected = expected_documents(stop)
    assert len(box[0].scan_prefix("p")) == stop
    assert dict(box[0].get_many(list(expected))) == expected
    box.clear()
    assert_store_intact(cls, db_path, expected)


@CLASSES
def test_the_parent_reads_and_writes_as_before_while_and_after_a_child_releases(
        cls, db_path, fork_child, settled, wait_until):
    box = [cls(db_path)]
    write_documents(box[0], 0, 1000)
    settled(box[0], "p000999")
    child = fork_child(drop_copy(box))
    write_documents(box[0], 1000, 3000)
    child.go()  # the child releases its copy while the parent goes on writing
    write_documents(box[0], 3000, 4000)
    assert child.result() == 2
    write_documents(box[0], 4000, 5000)

    db = box[0]
    settled(db, "p004999")
    expected = expected_documents(5000)
    assert dict(db.get_many(list(expected))) == expected
    assert [doc_id for doc_id, _ in db.scan_prefix("p00")] == sorted(expected)
    matched = db.filter_by_metadata("tag", "t1", *unpaged(db))
    assert {doc_id for doc_id, _ in matched} == {k for k, v in expected.items() if v["tag"] == "t1"}
    assert os.path.exists(db_path + "-wal")
    db.close_engine()
    del db
    box.clear()
    assert_store_intact(cls, db_path, expected)


@CLASSES
def test_a_child_opens_its_own_stores_but_not_its_parents(cls, db_path, tmp_path, fork_child,
                                                          settled):
    db = cls(db_path)
    db.insert("a", {"n": 1})
    settled(db, "a")
    other = str(tmp_path / "other.db")

    def body(wait):
        seen = {}
        own = cls(other)
        own.insert("x", {"n": 1})
        settled(own, "x")
        # An instance of the child's own belongs to the child: refused in the child's child.
        grandchild = Child(lambda wait: outcome(lambda: own.get("x")))
        seen["own in grandchild"] = grandchild.result()
        grandchild.close()
        own.close_engine()
        seen["own"] = own.get("x")
        del own
        gc.collect()
        seen["own reopened"] = outcome(lambda: cls(other).get("x"))
        seen["parent's path"] = outcome(lambda: cls(db_path))
        wait()  # the parent has released the path by now
        seen["parent's path, released"] = outcome(lambda: cls(db_path))
        seen["pid"] = os.getpid()
        return seen

    child = fork_child(body)
    db.close_engine()
    assert db.get("a") == {"n": 1}
    del db
    gc.collect()
    again = cls(db_path)  # the parent itself reopens it at once
    del again
    gc.collect()
    child.go()
    seen = child.result()
    assert seen == {
        "own in grandchild": ["RuntimeError", opened_elsewhere(cls, seen["pid"])],
        "own": {"n": 1},
        "own reopened": ["returned", "{'n': 1}"],
        "parent's path": ["RuntimeError", ALREADY_OPEN],
        # The child's copy of the lock registry, and of the database library's own state for
        # that file, date from the fork: the file stays refused in the child.
        "parent's path, released": ["RuntimeError", ALREADY_OPEN],
        "pid": seen["pid"],
    }
