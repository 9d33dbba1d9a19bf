"""16 threads on one instance, for a few seconds, mixing single writes, bulk inserts (with
refused records), every read, queue_size and, near the end, close_engine. The run takes place
in a process of its own with a time limit, so that a deadlock fails the test instead of
hanging it; afterwards every acknowledged write is read back and the index is checked."""

import json
import os
import subprocess

import pytest

import quorvane

THREADS = 16
SECONDS = 2.5

# Each thread writes only its own ids ("tNN-KK") and keeps the state its acknowledged writes
# leave (a write that raised left nothing queued); at the end the process writes that state to
# a file, with its figures on standard output.
STRESS = r"""
import json, random, sys, threading, time
import quorvane

class_name, db_path, state_path, threads, seconds = sys.argv[1:]
threads, seconds = int(threads), float(seconds)
server = class_name == "DBEngineWebServer"
db = getattr(quorvane, class_name)(db_path)
ALLOWED = {"Background write worker has crashed!", "Already mutably borrowed"}
BAD_DICT, BAD_JSON = {"blob": b"x"}, "{"
start = time.monotonic()
closed = threading.Event()
lock = threading.Lock()
figures = {"writes": 0, "bulk_calls": 0, "refused": 0, "reads": 0, "queue_size": 0,
           "refused_calls": 0, "already_borrowed": 0, "closed_in_run": False}
errors = []

def add(name, n=1):
    with lock:
        figures[name] += n

def document(t, doc_id, rev):
    return {"owner": t, "id": doc_id, "rev": rev, "body": {"k": [rev % 5, "s"], "ok": rev % 2 == 0}}

def check_read(doc_id, doc):
    assert doc is None or (doc["id"] == doc_id and doc_id.startswith(f"t{doc['owner']:02d}-")), (
        doc_id, doc)

def worker(t):
    rng = random.Random(t)
    ids = [f"t{t:02d}-{k:02d}" for k in range(40)]
    state = {}
    rev = 0
    def written(doc_id, doc):
        state[doc_id] = doc
        add("writes")
    while time.monotonic() - start < seconds:
        # In the last fifth thread 0 closes the instance while the others go on writing (a read
        # in progress, with the GIL released, would make close_engine raise "Already borrowed").
        closing = time.monotonic() - start > 0.8 * seconds
        if t == 0 and closing and not closed.is_set():
            try:
                db.close_engine()
                closed.set()
                figures["closed_in_run"] = True
            except RuntimeError as e:
                assert str(e) == "Already borrowed", e
                add("already_borrowed")
        rev += 1
        doc_id = rng.choice(ids)
        doc = document(t, doc_id, rev)
        if closing and t != 0:
            time.sleep(0.0005)  # room for thread 0, which would otherwise wait long for the GIL
        way = rng.randrange(6 if closing else 12)
        try:
            if way == 0:
                db.insert(doc_id, doc); written(doc_id, doc)
            elif way == 1:
                db.upsert(doc_id, doc); written(doc_id, doc)
            elif way == 2:
                db.delete(doc_id); written(doc_id, None)
            elif way == 3:
                db.insert_json(doc_id, json.dumps(doc)); written(doc_id, doc)
            elif way in (4, 5):
                records = [(i, document(t, i, rev)) for i in rng.choices(ids, k=rng.randint(1, 30))]
                bad = rng.randrange(len(records) + 3)  # past the end: no refused record
                as_json = way == 5
                if bad < len(records):
                    records[bad] = (records[bad][0], BAD_JSON if as_json else BAD_DICT)
                sent = [(i, json.dumps(d) if as_json and d is not BAD_JSON else d)
                        for i, d in records]
                add("bulk_calls")
                try:
                    refused = (db.insert_many_json if as_json else db.insert_many)(sent)
                except RuntimeError as e:
                    if str(e) in ALLOWED:
                        raise
                    # DBEngine: the records before the refused one are queued, the rest not.
                    assert not server and bad < len(records) and f"{records[bad][0]}." in str(e), e
                    add("refused")
                    records = records[:bad]
                else:
                    if bad < len(records):
                        assert server and [r[:2] for r in refused] == [sent[bad]], refused
                        assert as_json or refused[0][1] is sent[bad][1]  # the caller's dict
                        add("refused")
                        del records[bad]
                    else:
                        assert refused is None, refused
                for i, d in records:
                    written(i, d)
            elif way == 6:
                check_read(doc_id, db.get(doc_id)); add("reads")
            elif way == 7:
                asked = rng.choices(ids, k=5) + [f"t{rng.randrange(threads):02d}-00"]
                got = db.get_many(asked)
                assert [i for i, _ in got] == asked
                for i, d in got:
                    check_read(i, d)
                add("reads")
            elif way == 8:
                for i, d in db.scan_prefix(f"t{t:02d}-"):
                    assert i.startswith(f"t{t:02d}-")
                    check_read(i, d)
                add("reads")
            elif way in (9, 10):
                wanted = rng.randint(max(rev - 30, 0), rev)
                args = ("rev", str(wanted))
                if server:
                    args += (rng.choice([None, 5]), rng.choice([None, 0, 3]))
                for i, d in db.filter_by_metadata(*args):
                    check_read(i, d)
                    assert d["rev"] == wanted, (wanted, d)
                add("reads")
            elif server:
                assert db.queue_size >= 0
                add("queue_size")
        except RuntimeError as e:
            if str(e) not in ALLOWED:
                raise
            add("refused_calls")
    return state

states = [None] * threads

def run(t):
    try:
        states[t] = worker(t)
    except BaseException as e:
        errors.append(f"thread {t}: {type(e).__name__}: {e}")

pool = [threading.Thread(target=run, args=(t,)) for t in range(threads)]
for thread in pool:
    thread.start()
deadline = time.monotonic() + seconds + 60
for thread in pool:
    thread.join(max(deadline - time.monotonic(), 0))
if any(thread.is_alive() for thread in pool):
    print("threads still running at the deadline", flush=True)
    import os
    os._exit(3)
try:
    db.close_engine()
except RuntimeError as e:
    assert not server and closed.is_set(), e
    assert str(e) == "Failed to send shutdown signal sending on a disconnected channel", e
final = {}
for state in states:
    final.update(state or {})
with open(state_path, "w") as f:
    json.dump(final, f)
print(json.dumps({"errors": errors, "figures": figures}), flush=True)
"""


def test_sixteen_threads_leave_every_acknowledged_write(class_name, db_path, tmp_path,
                                                         read_index, index_of):
    state_path = str(tmp_path / "state.json")
    env = dict(os.environ, PYTHONPATH=os.path.dirname(quorvane.__file__))
    try:
        done = subprocess.run(
            ["/usr/bin/python3", "-c", STRESS, class_name, db_path, state_path, str(THREADS),
             str(SECONDS)], env=env, capture_output=True, text=True, timeout=SECONDS + 90)
    except subprocess.TimeoutExpired as e:
        pytest.fail(f"the stress run did not end: a deadlock?\n{e.stdout}\n{e.stderr}")
    assert done.returncode == 0, done.stdout + done.stderr
    report = json.loads(done.stdout.splitlines()[-1])
    assert report["errors"] == []
    figures = report["figures"]
    print(f"\n{class_name} stress:", ", ".join(f"{k} {v}" for k, v in figures.items()))
    assert figures["writes"] > 0 and figures["reads"] > 0 and figures["refused"] > 0

    with open(state_path) as f:
        expected = json.load(f)
    db = getattr(quorvane, class_name)(db_path)
    assert dict(db.get_many(list(expected))) == expected
    present = {doc_id: doc for doc_id, doc in expected.items() if doc is not None}
    assert dict(db.scan_prefix("")) == present
    db.close_engine()
    del db
    assert read_index() == index_of(present)
