"""What the tests share: the fixtures, and the constants and helpers that test files import
with `from conftest import ...` (this directory is on sys.path while pytest runs them)."""

import codecs
import contextlib
import gc
import json
import os
import sqlite3
import struct
import subprocess
import sys
import tempfile

import pytest

import quorvane

# The two classes by name, for tests of what both do (see the class_name fixture).
ENGINE = "DBEngine"
SERVER = "DBEngineWebServer"
CLASSES = (ENGINE, SERVER)

# What a constructor raises while another instance, of this process or another, holds the file.
ALREADY_OPEN = "Database already open. Cannot acquire lock."

# One frame of a server's write-ahead log: the insert of {"n": 1} under the id "a".
INSERT_A = struct.pack("<BII", 1, 1, 8) + b"a" + b'{"n": 1}'

# What every write raises once the background writer is gone (after close_engine, or once a
# writer has failed).
CRASHED = "Background write worker has crashed!"

# The most bytes the store holds in one record, id and document together; a write of the id
# "k" with a document of MAX_RECORD_BYTES bytes is one byte over it and refused with TOO_LARGE.
MAX_RECORD_BYTES = 999_000_000
TOO_LARGE = ("Document too large to store for k: the id and the document take "
             f"{MAX_RECORD_BYTES + 1} bytes, the store holds at most {MAX_RECORD_BYTES} "
             "bytes in one record")


def python(code, *args, **kwargs):
    """The command and the options of subprocess.run (or Popen) for a fresh interpreter that runs
    `code` with `args` and imports the quorvane module this run tests."""
    env = dict(os.environ, PYTHONPATH=os.path.dirname(quorvane.__file__))
    return [sys.executable, "-c", code, *args], dict(env=env, text=True, **kwargs)


def unpaged(db):
    """The arguments after index_key and index_value that make db.filter_by_metadata return
    every match: limit and offset None for a server, none for a DBEngine."""
    return (None, None) if isinstance(db, quorvane.DBEngineWebServer) else ()


# What a DBEngine's close_engine raises once the instance is closed.
CLOSED_BEFORE = "Failed to send shutdown signal sending on a disconnected channel"


def close_at_teardown(db):
    """Closes an instance at a test's end, if the test has not closed it already (a server's
    close_engine may repeat; a DBEngine's raises CLOSED_BEFORE). Any other error fails the
    test."""
    try:
        db.close_engine()
    except RuntimeError as e:
        if isinstance(db, quorvane.DBEngineWebServer) or str(e) != CLOSED_BEFORE:
            raise


# Exceptions carry notes (add_note, __notes__) from Python 3.11 on; on older interpreters the
# module raises the same exceptions without them.
EXCEPTION_NOTES = sys.version_info >= (3, 11)


@pytest.fixture
def expected_notes():
    """expected_notes(parameter): the __notes__ an argument error about `parameter` carries on
    this interpreter, to compare with getattr(error, "__notes__", []): the one note naming the
    parameter where exceptions have notes, none before 3.11; none for parameter None."""

    def notes(parameter):
        if parameter is None or not EXCEPTION_NOTES:
            return []
        return [f"while processing '{parameter}'"]

    return notes


@pytest.fixture
def db_path(tmp_path):
    """A database path in a fresh directory."""
    return os.path.join(str(tmp_path), "store.db")


STORE_TABLES = (
    "CREATE TABLE IF NOT EXISTS documents ("
    "id TEXT NOT NULL PRIMARY KEY, doc BLOB NOT NULL) WITHOUT ROWID",
    "CREATE TABLE IF NOT EXISTS metadata_index ("
    "key TEXT NOT NULL, id TEXT NOT NULL, PRIMARY KEY (key, id)) WITHOUT ROWID",
)


def write_store_file(db_path, documents=None, index=()):
    """Writes a store file directly (documents: {id: raw JSON text or bytes}; index: (key, id)
    pairs)."""
    con = sqlite3.connect(db_path)
    for statement in STORE_TABLES:
        con.execute(statement)
    for doc_id, doc in (documents or {}).items():
        raw = doc if isinstance(doc, bytes) else doc.encode("utf-8")
        con.execute("INSERT OR REPLACE INTO documents VALUES (?, ?)", (doc_id, raw))
    con.executemany("INSERT OR IGNORE INTO metadata_index VALUES (?, ?)", list(index))
    con.commit()
    con.close()


@pytest.fixture(params=CLASSES)
def class_name(request):
    """Each class's name in turn: a test that takes it (or `instance`) runs once per class. A
    test that parametrizes class_name itself picks the classes, row by row."""
    return request.param


@pytest.fixture
def instance(class_name, db_path):
    """An instance of class_name over a new store at db_path, closed at the end."""
    db = getattr(quorvane, class_name)(db_path)
    yield db
    close_at_teardown(db)


@pytest.fixture
def server(db_path):
    """A DBEngineWebServer over a new store at db_path, closed at the end."""
    db = quorvane.DBEngineWebServer(db_path)
    yield db
    db.close_engine()


@pytest.fixture
def stored_instance(db_path):
    """stored_instance(class_name, documents=None, index=()): writes a store file directly (see
    write_store_file) and opens an instance of class_name on it; every instance made is closed
    at the end."""
    opened = []

    def make(class_name, documents=None, index=()):
        write_store_file(db_path, documents, index)
        db = getattr(quorvane, class_name)(db_path)
        opened.append(db)
        return db

    yield make
    for db in opened:
        close_at_teardown(db)


@pytest.fixture
def stored_engine(stored_instance):
    """stored_engine(documents=None, index=()): stored_instance with a DBEngine."""
    return lambda documents=None, index=(): stored_instance(ENGINE, documents, index)


@pytest.fixture
def stored_server(stored_instance):
    """stored_server(documents=None, index=()): stored_instance with a DBEngineWebServer."""
    return lambda documents=None, index=(): stored_instance(SERVER, documents, index)


@pytest.fixture
def read_documents(db_path):
    """Reads the stored documents at db_path as {id: bytes}, with the sqlite3 module.

    Call it once the engine that wrote them is closed and no longer referenced.
    """

    def read():
        gc.collect()
        with contextlib.closing(sqlite3.connect(db_path)) as conn:
            return dict(conn.execute("SELECT id, doc FROM documents"))

    return read


@pytest.fixture
def read_log(db_path):
    """Reads the activity log at db_path as the (action, id) of every line."""

    def read():
        with open(db_path + ".jsonl", encoding="utf-8") as log:
            return [(entry["action"], entry["id"]) for entry in map(json.loads, log)]

    return read


@pytest.fixture
def read_index(db_path):
    """Reads the metadata index at db_path as a set of (key, id), with the sqlite3 module.

    Call it once the engine that wrote it is closed and no longer referenced.
    """

    def read():
        gc.collect()
        with contextlib.closing(sqlite3.connect(db_path)) as conn:
            return set(conn.execute("SELECT key, id FROM metadata_index"))

    return read


def _index_keys(value, path):
    if isinstance(value, dict):
        items = value.items()
    elif isinstance(value, list):
        items = ((str(n), item) for n, item in enumerate(value))
    elif value is None:
        return set()
    elif isinstance(value, bool):
        return {f"{path}.{'true' if value else 'false'}"}
    else:
        return {f"{path}.{value}"}
    keys = set()
    for name, item in items:
        keys |= _index_keys(item, f"{path}.{name}" if path else name)
    return keys


@pytest.fixture
def index_of():
    """index_of({id: document}): the (key, id) entries those documents give, for documents of
    dicts, lists, strs, ints, bools and None."""

    def entries(documents):
        return {(key, doc_id) for doc_id, doc in documents.items() for key in _index_keys(doc, "")}

    return entries


@pytest.fixture
def wait_until():
    """wait_until(condition, timeout=20): polls until condition() is true; fails at the
    deadline."""
    import time

    def wait(condition, timeout=20.0, what="the condition"):
        deadline = time.monotonic() + timeout
        while not condition():
            if time.monotonic() > deadline:
                pytest.fail(f"timed out waiting for {what}")
            time.sleep(0.01)

    return wait


FRESH_INTERPRETER_ENV = "QUORVANE_TEST_IN_FRESH_INTERPRETER"


def pytest_configure(config):
    config.addinivalue_line(
        "markers",
        "fresh_interpreter: run each test of it alone in a new interpreter (a pytest of its own)")


@pytest.hookimpl(tryfirst=True)
def pytest_pyfunc_call(pyfuncitem):
    """Runs a test marked fresh_interpreter in a pytest of its own, so that no thread left
    behind by an earlier test runs in its process.

    A test that forks needs this: a lock that another thread holds at the fork stays held in
    the child for ever, and the threads of instances that earlier tests released without
    close_engine go on draining and closing their stores, taking the allocator's locks (under
    AddressSanitizer) and the database library's global ones (here on every allocation:
    Python's sqlite3 module, imported above, sets the library up with its memory statistics
    on). The test runs there with its fixtures, its assertions and this run's warning options;
    its report is this test's outcome.
    """
    if pyfuncitem.get_closest_marker("fresh_interpreter") is None:
        return None
    if os.environ.get(FRESH_INTERPRETER_ENV):
        return None  # this is the fresh interpreter: the test runs here
    warnings = pyfuncitem.config.known_args_namespace.pythonwarnings or []
    with tempfile.TemporaryDirectory(prefix="fresh-interpreter-") as temp:
        done = subprocess.run(
            [sys.executable, "-m", "pytest", "-q", "-p", "no:cacheprovider", "--basetemp",
             os.path.join(temp, "basetemp"), *(f"-W{w}" for w in warnings),
             f"{pyfuncitem.path}::{pyfuncitem.name}"],
            env=dict(os.environ, **{FRESH_INTERPRETER_ENV: "1"}), capture_output=True, text=True,
            timeout=600)
    if done.returncode != 0 or "1 passed" not in done.stdout:
        pytest.fail(f"in a fresh interpreter (exit status {done.returncode}):\n"
                    f"{done.stdout}{done.stderr}", pytrace=False)
    return True


class PrintedOutput:
    """What the process writes on its standard output and standard error (descriptors 1 and
    2) while a test's body runs, as the background threads print it: out and err hold all that
    has been read so far, read() takes in what came since, wait_for(text) polls until it is
    there.

    pytest's capfd cannot be polled for lines that another thread prints: each readouterr()
    reads its capture file and then empties it, and what a thread writes between the two is
    lost. Here each descriptor is sent to a file of its own that is only ever appended to and
    read from where the last read stopped, so nothing written is lost."""

    _STREAMS = (("out", 1), ("err", 2))

    def __init__(self, wait_until):
        self.out = ""
        self.err = ""
        self._wait_until = wait_until
        self._files = {}
        self._read_up_to = {}
        self._decoders = {}

    @contextlib.contextmanager
    def capturing(self):
        """Sends descriptors 1 and 2 to the files while it is entered; afterwards hands what
        was printed on to pytest's own capture, which shows it in a failing test's report."""
        saved = {}
        try:
            for name, fd in self._STREAMS:
                self._files[name] = tempfile.TemporaryFile(buffering=0)
                self._read_up_to[name] = 0
                self._decoders[name] = codecs.getincrementaldecoder("utf-8")("replace")
                saved[fd] = os.dup(fd)
                os.dup2(self._files[name].fileno(), fd)
            yield
        finally:
            for fd, previous in saved.items():
                os.dup2(previous, fd)
                os.close(previous)
            self.read()
            sys.stdout.write(self.out)
            sys.stderr.write(self.err)
            for f in self._files.values():
                f.close()
            self._files.clear()

    def read(self):
        for name, f in self._files.items():
            while chunk := os.pread(f.fileno(), 1 << 16, self._read_up_to[name]):
                self._read_up_to[name] += len(chunk)
                setattr(self, name, getattr(self, name) + self._decoders[name].decode(chunk))

    def wait_for(self, text, stream="out", count=1):
        """Polls until `stream` ("out" or "err") holds `text` `count` times, then reads once
        more, so that what the printing thread wrote before it, on the other stream too, has
        been read as well."""

        def seen():
            self.read()
            return getattr(self, stream).count(text) >= count

        self._wait_until(seen, what=repr(text))
        self.read()


@pytest.fixture
def output(wait_until):
    """A PrintedOutput that captures the test's body (see pytest_runtest_call below)."""
    return PrintedOutput(wait_until)


@pytest.hookimpl(hookwrapper=True, trylast=True)
def pytest_runtest_call(item):
    """Runs the body of a test that takes `output` with descriptors 1 and 2 sent to it. The
    redirection is made here, innermost around the body, because pytest's own capture sets both
    descriptors anew as each phase of a test begins and ends: one made by a fixture while the
    test is set up would be undone before the body runs."""
    output = getattr(item, "funcargs", {}).get("output")
    if output is None:
        yield
        return
    with output.capturing():
        yield
