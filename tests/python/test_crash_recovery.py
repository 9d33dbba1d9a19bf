"""A DBEngineWebServer killed with SIGKILL at random instants loses no write it reported as
settled: a child process writes a stream of documents and reports after every burst, once
queue_size has come back to 0, how far it has got; the parent kills it, reopens the store and
checks the documents, their order and the metadata index."""

import os
import random
import selectors
import signal
import subprocess
import time
import zlib

import quorvane
from quorvane import DBEngineWebServer

KILLS = 24
TAGS = [f"t{n}" for n in range(7)]

# The writer. Ids run in sequence from what the store already holds; every document can be
# rebuilt from its id and version, and carries a checksum of both. After each burst it waits
# for queue_size to come back to 0 and reports "settled N": every id below N is applied, and
# every rewrite announced before has reached at least its version.
CHILD = r"""
import json, random, sys, time, zlib
from quorvane import DBEngineWebServer

def document(seq, version):
    pad = (seq * 31 + version) % 40
    return {"seq": seq, "v": version, "tags": [f"t{version % 7}", "all"], "pad": "x" * pad,
            "sum": zlib.crc32(f"{seq}:{version}:{pad}".encode())}

def doc_id(seq):
    return f"d{seq:08d}"

path, seed = sys.argv[1], int(sys.argv[2])
rng = random.Random(seed)
db = DBEngineWebServer(path)
n = max((doc["seq"] + 1 for _, doc in db.scan_prefix("d")), default=0)
print("start", n, flush=True)
while True:
    size = rng.choice([1, 3, 40, 300, 1500])
    way = rng.choice(["insert", "upsert", "insert_many", "insert_many_json"])
    print("burst", n, size, flush=True)
    new = [(doc_id(seq), document(seq, seq)) for seq in range(n, n + size)]
    if way == "insert":
        for i, doc in new:
            db.insert(i, doc)
    elif way == "upsert":
        for i, doc in new:
            db.upsert(i, doc)
    elif way == "insert_many":
        assert db.insert_many(new) is None
    else:
        assert db.insert_many_json([(i, json.dumps(doc)) for i, doc in new]) is None
    n += size
    if n > 1 and rng.random() < 0.5:
        for seq in rng.sample(range(n - 1), min(n - 1, rng.randint(1, 20))):
            print("rewrite", seq, n, flush=True)
            write = db.insert if rng.random() < 0.5 else db.upsert
            write(doc_id(seq), document(seq, n))
    while db.queue_size != 0:
        time.sleep(0.0002)
    print("settled", n, flush=True)
    time.sleep(rng.choice([0, 0, 0.001, 0.005, 0.02]))
"""


def document_sum(doc):
    return zlib.crc32(f"{doc['seq']}:{doc['v']}:{len(doc['pad'])}".encode())


class Child:
    """One writer process, its report lines read through a pipe as they come."""

    def __init__(self, db_path, seed, stderr):
        env = dict(os.environ, PYTHONPATH=os.path.dirname(quorvane.__file__))
        self.process = subprocess.Popen(["/usr/bin/python3", "-c", CHILD, db_path, str(seed)],
                                        stdout=subprocess.PIPE, stderr=stderr, env=env)
        self.selector = selectors.DefaultSelector()
        self.selector.register(self.process.stdout, selectors.EVENT_READ)
        self.pending = b""
        self.lines = []
        self.ended = False

    def read(self, timeout):
        """Reads what the child has written within `timeout`; gives the new lines."""
        new = []
        deadline = time.monotonic() + timeout
        while not self.ended:
            left = deadline - time.monotonic()
            if left <= 0 or not self.selector.select(left):
                break
            chunk = os.read(self.process.stdout.fileno(), 65536)
            if not chunk:
                self.ended = True
                break
            self.pending += chunk
            *complete, self.pending = self.pending.split(b"\n")
            new += [line.decode() for line in complete]
            if complete:
                break
        self.lines += new
        return new

    def wait_for(self, word, count, timeout=60):
        """Reads until the `count`-th line that starts with `word`."""
        deadline = time.monotonic() + timeout
        while sum(line.startswith(word + " ") for line in self.lines) < count:
            assert not self.ended and time.monotonic() < deadline, (
                f"the writer stopped before {count} '{word}' lines: {self.lines[-5:]}")
            self.read(deadline - time.monotonic())

    def kill(self):
        self.process.send_signal(signal.SIGKILL)
        self.process.wait(timeout=60)
        while not self.ended:
            self.read(5)
        self.selector.close()
        self.process.stdout.close()

    def reports(self):
        """(first id of this run, settled point, {id: version} of the settled rewrites)."""
        start, settled, announced, rewrites = None, None, {}, {}
        for word, *numbers in (line.split() for line in self.lines if line.strip()):
            if word == "start":
                start = settled = int(numbers[0])
            elif word == "rewrite":
                announced[int(numbers[0])] = int(numbers[1])
            elif word == "settled":
                settled = int(numbers[0])
                rewrites.update(announced)
                announced = {}
        return start, settled, rewrites

    def mid_burst(self):
        words = [line.split()[0] for line in self.lines if line.split()]
        bursts = [n for n, word in enumerate(words) if word == "burst"]
        return bool(bursts) and "settled" not in words[bursts[-1]:]


def check_store(db_path, settled, rewrites, read_index, index_of):
    """Reopens the store and checks it; gives the number of documents."""
    db = DBEngineWebServer(db_path)
    docs = dict(db.scan_prefix(""))
    count = len(docs)
    lost = max(settled - count, 0) + sum(
        1 for seq, version in rewrites.items()
        if docs.get(f"d{seq:08d}", {"v": -1})["v"] < version)
    assert sorted(docs) == [f"d{seq:08d}" for seq in range(count)], "a gap in the sequence"
    for doc_id, doc in docs.items():
        assert doc_id == f"d{doc['seq']:08d}" and doc["sum"] == document_sum(doc), doc_id
    for tag in TAGS:
        found = db.filter_by_metadata("tags.0", tag, None, None)
        assert all(doc["tags"][0] == tag for _, doc in found)
        assert [i for i, _ in found] == sorted(i for i, d in docs.items() if d["tags"][0] == tag)
    db.close_engine()
    del db
    assert read_index() == index_of(docs)
    return count, lost


def test_queue_size_comes_back_to_0_only_once_the_writes_are_applied(db_path):
    rng = random.Random(5)
    db = DBEngineWebServer(db_path)
    sent = early = 0
    for _ in range(300):
        for _ in range(rng.choice([1, 2, 10, 100])):
            db.insert(f"d{sent:08d}", {"n": sent})
            sent += 1
        deadline = time.monotonic() + 20
        while db.queue_size != 0:
            assert time.monotonic() < deadline, "queue_size did not come back to 0"
        early += db.get(f"d{sent - 1:08d}") is None
    db.close_engine()
    assert early == 0


def test_kills_lose_no_settled_write(db_path, tmp_path, read_index, index_of):
    rng = random.Random(20240611)
    figures = dict(kills=0, mid_burst=0, idle=0, settled_checked=0, rewrites_checked=0,
                   unsettled_kept=0, lost=0)
    started = time.monotonic()
    with open(tmp_path / "child.err", "a+") as stderr:
        for _ in range(KILLS):
            child = Child(db_path, rng.randrange(2**32), stderr)
            try:
                way = rng.choice(["burst", "burst", "settled", "timed"])
                if way == "burst":  # a little after a burst has begun
                    child.wait_for("burst", rng.randint(1, 4))
                    time.sleep(rng.uniform(0, 0.004))
                elif way == "settled":  # right after a burst has settled
                    child.wait_for("settled", rng.randint(1, 4))
                else:  # anywhere
                    child.wait_for("start", 1)
                    deadline = time.monotonic() + rng.uniform(0.005, 0.3)
                    while time.monotonic() < deadline and not child.ended:
                        child.read(deadline - time.monotonic())
            finally:
                child.kill()
            stderr.seek(0)
            assert child.process.returncode == -signal.SIGKILL, stderr.read()
            start, settled, rewrites = child.reports()
            assert start is not None, child.lines
            figures["kills"] += 1
            figures["mid_burst" if child.mid_burst() else "idle"] += 1
            count, lost = check_store(db_path, settled, rewrites, read_index, index_of)
            figures["settled_checked"] += settled - start
            figures["rewrites_checked"] += len(rewrites)
            figures["unsettled_kept"] += count - max(settled, start)
            figures["lost"] += lost
    figures["documents"] = count
    figures["seconds"] = round(time.monotonic() - started, 1)
    print("\ncrash test:", ", ".join(f"{name} {value}" for name, value in figures.items()))
    assert figures["kills"] >= 20 and figures["mid_burst"] > 0 and figures["idle"] > 0
    assert figures["lost"] == 0
