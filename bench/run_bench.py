"""Runs the same workloads against quorvane and the stores a Python user would pick instead,
on this machine in one run, and writes a markdown table and a bar chart of the ratios.

    python bench/run_bench.py [--docs 200000] [--small 10000] [--out bench/results]
    python bench/run_bench.py --smoke     # a tiny size, to check that everything runs

It measures; it asserts nothing.
"""

import argparse
import gc
import json
import os
import platform
import random
import shutil
import sys
import tempfile
import threading
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))

from workload import GROUPS, BUCKETS, doc_id, records  # noqa: E402
from peers.sqlite_json import SqliteJson  # noqa: E402
from report import write_report  # noqa: E402


def available_peers():
    peers = []
    try:
        from peers.quorvane_stores import QuorvaneEngine, QuorvaneServer

        peers += [("main", QuorvaneEngine), ("main", QuorvaneServer)]
    except ImportError as e:
        print(f"quorvane not importable: {e}", file=sys.stderr)
    peers.append(("main", SqliteJson))
    try:
        from peers.lmdb_json import LmdbJson

        peers.append(("main", LmdbJson))
    except ImportError:
        print("lmdb not installed (Debian python3-lmdb)", file=sys.stderr)
    for module, cls in (("peers.tinydb_json", "TinyDBJson"), ("peers.diskcache_json", "DiskCache")):
        try:
            peers.append(("small", getattr(__import__(module, fromlist=[cls]), cls)))
        except ImportError:
            print(f"{module} not available", file=sys.stderr)
    return peers


def timed(fn, *args):
    gc.collect()
    t = time.perf_counter()
    r = fn(*args)
    return time.perf_counter() - t, r


def per_op(fn, items, repeat=1):
    gc.collect()
    t = time.perf_counter()
    for _ in range(repeat):
        for x in items:
            fn(x)
    return (time.perf_counter() - t) / (len(items) * repeat)


def threaded(call, make_items, threads):
    """Items per second when `threads` threads each call `call` on their own list of items."""
    barrier = threading.Barrier(threads + 1)

    def run(seed):
        items = make_items(random.Random(seed))
        barrier.wait()
        for x in items:
            call(x)

    workers = [threading.Thread(target=run, args=(s,)) for s in range(threads)]
    for w in workers:
        w.start()
    barrier.wait()
    t = time.perf_counter()
    for w in workers:
        w.join()
    return time.perf_counter() - t


def threaded_gets(store, ids, threads, per_thread):
    secs = threaded(store.get, lambda rng: [ids[rng.randrange(len(ids))] for _ in range(per_thread)],
                    threads)
    return threads * per_thread / secs


def threaded_get_many(store, ids, threads, calls):
    """Documents per second read by get_many of 100 ids from `threads` threads."""
    secs = threaded(store.get_many,
                    lambda rng: [[ids[rng.randrange(len(ids))] for _ in range(100)] for _ in range(calls)],
                    threads)
    return threads * calls * 100 / secs


def settle(store):
    """Untimed: a store whose writes end by closing its writer opens again for what follows."""
    if hasattr(store, "reopen"):
        store.reopen()


def bench_store(cls, n, sizes, workdir):
    store = cls()
    path = os.path.join(workdir, cls.__name__)
    if cls.__name__ in ("LmdbJson", "DiskCache"):
        os.makedirs(path, exist_ok=True)
    data = records(n)
    ids = [i for i, _ in data]
    rng = random.Random(7)
    out = {}

    store.open(path)
    secs, _ = timed(store.bulk_load, data, sizes["chunk"])
    out["bulk load (docs/s)"] = n / secs
    settle(store)

    single = records(sizes["single"], start=n)
    secs, _ = timed(store.insert_each, single)
    out["single insert (docs/s)"] = len(single) / secs
    settle(store)

    picks = [ids[rng.randrange(n)] for _ in range(sizes["gets"])]
    out["get (us)"] = per_op(store.get, picks) * 1e6
    batches = [[ids[rng.randrange(n)] for _ in range(100)] for _ in range(sizes["get_many"])]
    out["get_many 100 (us)"] = per_op(store.get_many, batches) * 1e6

    values = [f"g{rng.randrange(GROUPS):02d}" for _ in range(sizes["scans"])]
    if store.filter("group", values[0]) is not None:
        out["filter 1% (ms)"] = per_op(lambda v: store.filter("group", v), values) * 1e3
    prefixes = [f"b{rng.randrange(BUCKETS):02d}:" for _ in range(sizes["scans"])]
    if store.scan_prefix(prefixes[0]) is not None:
        out["scan_prefix 1% (ms)"] = per_op(store.scan_prefix, prefixes) * 1e3

    for t in (1, 2, 4, 8):
        out[f"gets/s, {t} threads"] = threaded_gets(store, ids, t, sizes["thread_gets"])
    for t in (1, 4):
        out[f"get_many 100 docs/s, {t} threads"] = threaded_get_many(store, ids, t,
                                                                      sizes["thread_gets"] // 100)
    store.close()
    # On disk once closed: every file of the store (a closed SQLite store has folded its
    # journal back into the database file).
    gc.collect()
    out["file size (MB)"] = sum(os.path.getsize(p) for p in store.files(path)) / 1e6
    return out


def floors(n, sizes):
    import json as stdjson

    try:
        import ujson
    except ImportError:
        ujson = None
    data = records(min(n, 20000))
    blobs = [stdjson.dumps(d, sort_keys=True, separators=(",", ":")).encode() for _, d in data]
    docs = [d for _, d in data]
    out = {"json.loads (us)": per_op(stdjson.loads, blobs, 3) * 1e6,
           "json.dumps sort_keys (us)":
               per_op(lambda d: stdjson.dumps(d, sort_keys=True, separators=(",", ":")), docs, 3) * 1e6,
           "document bytes": sum(map(len, blobs)) / len(blobs)}
    if ujson:
        out["ujson.loads (us)"] = per_op(ujson.loads, blobs, 3) * 1e6
    return out


def machine():
    model = platform.processor() or "unknown"
    try:
        with open("/proc/cpuinfo") as f:
            for line in f:
                if line.startswith("model name"):
                    model = line.split(":", 1)[1].strip()
                    break
    except OSError:
        pass
    return {"cpu": model, "cores": os.cpu_count(), "python": sys.version.split()[0],
            "platform": platform.platform()}


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--docs", type=int, default=200000)
    ap.add_argument("--small", type=int, default=10000, help="size for the slow stores")
    ap.add_argument("--out", default=os.path.join(os.path.dirname(__file__), "results"))
    ap.add_argument("--only", default="", help="comma-separated adapter names to run")
    ap.add_argument("--smoke", action="store_true")
    a = ap.parse_args()
    if a.smoke:
        a.docs, a.small = 500, 200
    sizes = {"chunk": 1000, "single": max(200, min(20000, a.docs // 10)), "gets": min(50000, a.docs),
             "get_many": 500, "scans": 20, "thread_gets": min(20000, a.docs)}
    small_sizes = dict(sizes, single=min(1000, a.small // 10 or 1), gets=2000, get_many=20, scans=5,
                       thread_gets=500)
    only = {s for s in a.only.split(",") if s}

    results = {}
    workdir = tempfile.mkdtemp(prefix="quorvane-bench-")
    try:
        for tier, cls in available_peers():
            if only and cls.__name__ not in only:
                continue
            n = a.docs if tier == "main" else a.small
            print(f"{cls.name}: {n} documents", flush=True)
            try:
                measured = bench_store(cls, n, sizes if tier == "main" else small_sizes, workdir)
            except Exception as e:  # one store that cannot run leaves the others measured
                print(f"{cls.name} skipped: {type(e).__name__}: {e}", file=sys.stderr)
                continue
            results[cls.name] = {"docs": n, **measured}
        results["floor"] = floors(a.docs, sizes)
    finally:
        shutil.rmtree(workdir, ignore_errors=True)
    os.makedirs(a.out, exist_ok=True)
    info = machine()
    with open(os.path.join(a.out, "results.json"), "w") as f:
        json.dump({"machine": info, "results": results}, f, indent=1)
    print(write_report(info, results, a.out))


if __name__ == "__main__":
    main()
