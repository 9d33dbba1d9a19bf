"""Runs the same workloads against quorvane and the stores a Python user would pick instead,
on this machine in one run, and writes a markdown report and a bar chart of the ratios.

    python bench/run_bench.py [--docs 200000] [--small 10000] [--budget 3] [--out bench/results]
    python bench/run_bench.py --smoke     # a tiny size, to check that everything runs

Two runs, each comparing stores at one size only:
  - the full run, --docs documents, for the stores that can take that size (quorvane's two
    classes, sqlite3+json, lmdb+json);
  - the small run, --small documents, for every store, quorvane's included (--small 0 skips it).
A read measurement stops after --budget seconds (the rate is taken over the calls made), so
that a slow store does not stretch the run. It measures; it asserts nothing.
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

from workload import GROUPS, BUCKETS, records  # noqa: E402
from peers.sqlite_json import SqliteJson  # noqa: E402
from report import threads_metric, write_report  # noqa: E402


def available_peers():
    """(adapter class, whether it runs at the full size), in the order of the report."""
    peers = []
    try:
        from peers.quorvane_stores import QuorvaneEngine, QuorvaneServer

        peers += [(QuorvaneEngine, True), (QuorvaneServer, True)]
    except ImportError as e:
        print(f"quorvane not importable: {e}", file=sys.stderr)
    peers.append((SqliteJson, True))
    try:
        from peers.lmdb_json import LmdbJson

        peers.append((LmdbJson, True))
    except ImportError:
        print("lmdb not installed (Debian python3-lmdb)", file=sys.stderr)
    # These two rewrite a whole file, or take a pickle round trip and a SQLite query per
    # read: the full size would take hours, so they run at the small size only.
    for module, cls in (("peers.tinydb_json", "TinyDBJson"), ("peers.diskcache_json", "DiskCache")):
        try:
            peers.append((getattr(__import__(module, fromlist=[cls]), cls), False))
        except ImportError:
            print(f"{module} not available", file=sys.stderr)
    return peers


def timed(fn, *args):
    gc.collect()
    t = time.perf_counter()
    r = fn(*args)
    return time.perf_counter() - t, r


def run_chunks(fn, items, deadline):
    """Calls fn on the items in chunks of 1, 1, 2, 4, ... until they are done or the deadline
    has passed; returns how many were done. The clock is read once per chunk, so it costs a
    fast call nothing and a slow store overruns the deadline by at most one chunk."""
    done, chunk = 0, 1
    while done < len(items):
        for x in items[done:done + chunk]:
            fn(x)
        done = min(len(items), done + chunk)
        if time.perf_counter() >= deadline:
            break
        chunk = done
    return done


def per_op(fn, items, budget):
    """Seconds per call."""
    gc.collect()
    t = time.perf_counter()
    done = run_chunks(fn, items, t + budget)
    return (time.perf_counter() - t) / done


def threaded(call, make_items, threads, budget):
    """Calls per second when `threads` threads each call `call` on their own list of items."""
    barrier = threading.Barrier(threads + 1)
    done = [0] * threads
    start = [0.0]

    def run(n):
        items = make_items(random.Random(n))
        barrier.wait()
        done[n] = run_chunks(call, items, start[0] + budget)

    workers = [threading.Thread(target=run, args=(n,)) for n in range(threads)]
    for w in workers:
        w.start()
    gc.collect()
    start[0] = time.perf_counter()
    barrier.wait()
    for w in workers:
        w.join()
    return sum(done) / (time.perf_counter() - start[0])


def settle(store):
    """Untimed: a store whose writes end by closing its writer opens again for what follows."""
    if hasattr(store, "reopen"):
        store.reopen()


def bench_store(cls, n, sizes, workdir):
    store = cls()
    path = os.path.join(workdir, f"{cls.__name__}-{n}")
    if cls.__name__ in ("LmdbJson", "DiskCache"):
        os.makedirs(path, exist_ok=True)
    data = records(n)
    ids = [i for i, _ in data]
    rng = random.Random(7)
    budget = sizes["budget"]
    out = {}

    store.open(path)
    secs, _ = timed(store.bulk_load, data, sizes["chunk"])
    out["bulk load (docs/s)"] = n / secs
    settle(store)

    single = records(sizes["single"], start=n)
    secs, _ = timed(store.insert_each, single)
    out["single inserts, peers commit each (docs/s)"] = len(single) / secs
    settle(store)
    single = records(sizes["single"], start=n + sizes["single"])
    secs, _ = timed(store.insert_batched, single)
    out["single inserts, peers in one transaction (docs/s)"] = len(single) / secs
    settle(store)

    picks = [ids[rng.randrange(n)] for _ in range(sizes["gets"])]
    out["get (us)"] = per_op(store.get, picks, budget) * 1e6
    batches = [[ids[rng.randrange(n)] for _ in range(100)] for _ in range(sizes["get_many"])]
    out["get_many of 100 (us)"] = per_op(store.get_many, batches, budget) * 1e6

    values = [f"g{rng.randrange(GROUPS):02d}" for _ in range(sizes["scans"])]
    if store.filter("group", values[0]) is not None:
        out["filter, 1% match (ms)"] = per_op(lambda v: store.filter("group", v), values,
                                              budget) * 1e3
    prefixes = [f"b{rng.randrange(BUCKETS):02d}:" for _ in range(sizes["scans"])]
    if store.scan_prefix(prefixes[0]) is not None:
        out["scan_prefix, 1% match (ms)"] = per_op(store.scan_prefix, prefixes, budget) * 1e3

    per_thread = sizes["thread_gets"]
    for t in (1, 2, 4, 8):
        out[threads_metric("gets/s", t)] = threaded(
            store.get, lambda r: [ids[r.randrange(n)] for _ in range(per_thread)], t, budget)
    for t in (1, 4):
        calls = max(1, per_thread // 100)
        out[threads_metric("get_many docs/s", t)] = 100 * threaded(
            store.get_many,
            lambda r: [[ids[r.randrange(n)] for _ in range(100)] for _ in range(calls)], t, budget)
    store.close()
    # On disk once closed: every file of the store (a closed SQLite store has folded its
    # journal back into the database file).
    gc.collect()
    out["file size (MB)"] = sum(os.path.getsize(p) for p in store.files(path)) / 1e6
    return out


def floors(n):
    import json as stdjson

    try:
        import ujson
    except ImportError:
        ujson = None
    data = records(min(n, 20000))
    blobs = [stdjson.dumps(d, sort_keys=True, separators=(",", ":")).encode() for _, d in data]
    docs = [d for _, d in data]
    out = {"json.loads (us)": per_op(stdjson.loads, blobs * 3, 10) * 1e6,
           "json.dumps sort_keys (us)":
               per_op(lambda d: stdjson.dumps(d, sort_keys=True, separators=(",", ":")), docs * 3,
                      10) * 1e6,
           "document bytes": sum(map(len, blobs)) / len(blobs)}
    if ujson:
        out["ujson.loads (us)"] = per_op(ujson.loads, blobs * 3, 10) * 1e6
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


def workload_sizes(n, single_cap, budget):
    """How many calls each measurement makes (at most) for a store of n documents."""
    return {"chunk": 1000, "single": max(1, min(single_cap, n // 10)), "gets": min(50000, n),
            "get_many": 500, "scans": 20, "thread_gets": min(20000, n), "budget": budget}


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--docs", type=int, default=200000, help="size of the full run")
    ap.add_argument("--small", type=int, default=10000,
                    help="size of the run of every store (0: skip it)")
    ap.add_argument("--budget", type=float, default=3.0,
                    help="seconds after which a read measurement stops")
    ap.add_argument("--out", default=os.path.join(os.path.dirname(__file__), "results"))
    ap.add_argument("--only", default="", help="comma-separated adapter names to run")
    ap.add_argument("--smoke", action="store_true")
    a = ap.parse_args()
    if a.smoke:
        a.docs, a.small, a.budget = 500, 200, 0.5
    only = {s for s in a.only.split(",") if s}
    peers = [(cls, full) for cls, full in available_peers() if not only or cls.__name__ in only]
    runs = [(a.docs, 20000, [cls for cls, full in peers if full])]
    if a.small:
        runs.append((a.small, 1000, [cls for cls, _ in peers]))

    report_runs = []
    workdir = tempfile.mkdtemp(prefix="quorvane-bench-")
    started = time.perf_counter()
    try:
        for n, single_cap, classes in runs:
            sizes = workload_sizes(n, single_cap, a.budget)
            results = {}
            for cls in classes:
                print(f"{cls.name}: {n} documents", flush=True)
                try:
                    results[cls.name] = bench_store(cls, n, sizes, workdir)
                except Exception as e:  # one store that cannot run leaves the others measured
                    print(f"{cls.name} skipped: {type(e).__name__}: {e}", file=sys.stderr)
            report_runs.append({"docs": n, "single": sizes["single"], "results": results})
        floor = floors(a.docs)
    finally:
        shutil.rmtree(workdir, ignore_errors=True)
    os.makedirs(a.out, exist_ok=True)
    data = {"machine": machine(), "command": " ".join(["bench/run_bench.py"] + sys.argv[1:]),
            "budget": a.budget, "minutes": (time.perf_counter() - started) / 60,
            "runs": report_runs, "floor": floor}
    with open(os.path.join(a.out, "results.json"), "w") as f:
        json.dump(data, f, indent=1)
    print(write_report(data, a.out))


if __name__ == "__main__":
    main()
