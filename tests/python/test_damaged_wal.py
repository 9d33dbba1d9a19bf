"""Construction over a damaged write-ahead log, in a process of its own whose standard output
is a pipe: construction succeeds and replay's lines arrive in order, before the process's own."""

import os
import random
import sqlite3
import struct
import subprocess
import sys

import pytest

import quorvane

SUCCESS = "WAL Recover: Successfully written all records to database!"
INCOMPLETE = "WAL Recovery: Found incomplete frame at EOF. Discarding partial write"
MISSING = "WAL Recovery: Missing data for frame, discarding write!"

CONSTRUCT = """
import sys
from quorvane import DBEngineWebServer
db = DBEngineWebServer(sys.argv[1])
print("constructed", flush=True)
db.close_engine()
"""


def frame(op, doc_id, payload=b""):
    return struct.pack("<BII", op, len(doc_id), len(payload)) + doc_id + payload


A = frame(1, b"a", b'{"n": 1}')
B = frame(1, b"b", b'{"n": 2}')


def construct_in_subprocess(db_path, log):
    with open(db_path + ".wal", "wb") as f:
        f.write(log)
    # The child imports the very module this test imported.
    env = dict(os.environ, PYTHONPATH=os.path.dirname(quorvane.__file__))
    done = subprocess.run([sys.executable, "-c", CONSTRUCT, db_path], env=env,
                          capture_output=True, text=True, timeout=60)
    assert done.returncode == 0, done.stderr
    return done.stdout.splitlines()


def stored_ids(db_path):
    with sqlite3.connect(db_path) as c:
        return {row[0] for row in c.execute("SELECT id FROM documents")}


@pytest.mark.parametrize(
    "log,lines,ids",
    [
        (A + B[:4], [INCOMPLETE], {"a"}),
        (A + B[:12], [MISSING], {"a"}),
        (A + struct.pack("<BII", 3, 0xFFFFFFFF, 0xFFFFFFFF) + b"x" * 100, [MISSING], {"a"}),
        (A + frame(4, b"skip", b"{}") + B, ["Op type is different, skipping this operation 4"],
         {"a", "b"}),
    ],
    ids=["cut-in-header", "cut-in-payload", "4GiB-lengths", "unknown-op"],
)
def test_construction_over_a_damaged_log(db_path, log, lines, ids):
    assert construct_in_subprocess(db_path, log) == lines + [SUCCESS, "constructed"]
    assert stored_ids(db_path) == ids
    assert os.path.getsize(db_path + ".wal") == 0


def test_construction_over_random_bytes(db_path):
    log = random.Random(7).randbytes(4096)
    printed = construct_in_subprocess(db_path, log)
    assert printed[-2:] == [SUCCESS, "constructed"]
    assert os.path.getsize(db_path + ".wal") == 0
