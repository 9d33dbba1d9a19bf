"""Read throughput: DBEngine.get and scan_prefix against json.loads and ujson.loads of the same
stored bytes. Prints figures only; asserts nothing. Runs against the installed module (the
.venv that scripts/setup.sh builds):

    .venv/bin/python bench/read_bench.py
"""
import json
import os
import sqlite3
import tempfile
import timeit

import quorvane

try:
    import ujson
except ImportError:  # Debian python3-ujson
    ujson = None

DOC = {
    "active": True,
    "address": {"city": "Springfield", "street": "742 Evergreen Terrace", "zip": "49007"},
    "age": 39,
    "balance": 1234.56,
    "email": "homer.simpson@example.com",
    "id": 12345,
    "name": "Homer Simpson",
    "roles": ["admin", "user"],
    "scores": [98, 87.5, 91],
    "tags": ["alpha", "beta", "gamma"],
    "updated": "2024-01-15T10:30:00Z",
}
RAW = json.dumps(DOC, separators=(",", ":"), sort_keys=True).encode()
COUNT = 20000


def build(path):
    con = sqlite3.connect(path)
    con.execute("CREATE TABLE documents (id TEXT NOT NULL PRIMARY KEY, doc BLOB NOT NULL) WITHOUT ROWID")
    con.execute("CREATE TABLE metadata_index (key TEXT NOT NULL, id TEXT NOT NULL, "
                "PRIMARY KEY (key, id)) WITHOUT ROWID")
    con.executemany("INSERT INTO documents VALUES (?, ?)",
                    ((f"user:{i:06d}", RAW) for i in range(COUNT)))
    con.execute("INSERT INTO documents VALUES ('empty', '{}')")
    con.commit()
    con.close()


def per_call(fn, number):
    best = min(timeit.repeat(fn, number=number, repeat=5))
    return best / number * 1e6  # microseconds


def main():
    with tempfile.TemporaryDirectory() as d:
        path = os.path.join(d, "bench.db")
        build(path)
        db = quorvane.DBEngine(path)
        assert db.get("user:000001") == json.loads(RAW)
        n = 100000
        print(f"document: {len(RAW)} bytes")
        loads = per_call(lambda: json.loads(RAW), n)
        print(f"json.loads                 {loads:7.2f} us")
        if ujson:
            uj = per_call(lambda: ujson.loads(RAW), n)
            print(f"ujson.loads                {uj:7.2f} us")
        get = per_call(lambda: db.get("user:000001"), n)
        empty = per_call(lambda: db.get("empty"), n)
        missing = per_call(lambda: db.get("nope"), n)
        print(f"get (end to end)           {get:7.2f} us")
        print(f"get of {{}}                  {empty:7.2f} us")
        print(f"get of a missing id        {missing:7.2f} us")
        print(f"get minus get of {{}}        {get - empty:7.2f} us (decoding)")
        if ujson:
            print(f"get / ujson.loads          {get / uj:7.2f}x")
        raws = [RAW] * COUNT
        scan = min(timeit.repeat(lambda: db.scan_prefix("user:"), number=1, repeat=5))
        jl = min(timeit.repeat(lambda: [json.loads(r) for r in raws], number=1, repeat=5))
        mb = len(RAW) * COUNT / 1e6
        print(f"scan_prefix {COUNT} docs     {scan * 1e3:7.1f} ms  ({mb / scan:6.1f} MB/s)")
        print(f"json.loads loop            {jl * 1e3:7.1f} ms  ({mb / jl:6.1f} MB/s)")
        if ujson:
            ul = min(timeit.repeat(lambda: [ujson.loads(r) for r in raws], number=1, repeat=5))
            print(f"ujson.loads loop           {ul * 1e3:7.1f} ms  ({mb / ul:6.1f} MB/s)")
        db.close_engine()


if __name__ == "__main__":
    main()
