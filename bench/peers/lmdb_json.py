"""lmdb + json: documents in one database, the index rows in a second one (duplicate keys
sorted), one write transaction per batch; lmdb's default sync=True makes every commit durable."""

import json
import os

import lmdb

from workload import index_keys


class LmdbJson:
    name = "lmdb+json"

    def open(self, path):
        self.env = lmdb.open(path, map_size=1 << 36, max_dbs=2, subdir=True, lock=True)
        self.docs = self.env.open_db(b"documents")
        self.idx = self.env.open_db(b"metadata_index", dupsort=True)

    def _write(self, records):
        with self.env.begin(write=True) as txn:
            for i, d in records:
                k = i.encode()
                txn.put(k, json.dumps(d, sort_keys=True, separators=(",", ":")).encode(), db=self.docs)
                for key in index_keys(d):
                    txn.put(key.encode(), k, db=self.idx)

    def bulk_load(self, records, chunk):
        for s in range(0, len(records), chunk):
            self._write(records[s:s + chunk])

    def insert_each(self, records):
        for r in records:
            self._write([r])

    def insert_batched(self, records):
        self._write(records)

    def get(self, id_):
        with self.env.begin() as txn:
            v = txn.get(id_.encode(), db=self.docs)
        return None if v is None else json.loads(v)

    def get_many(self, ids):
        with self.env.begin() as txn:
            out = []
            for i in ids:
                v = txn.get(i.encode(), db=self.docs)
                out.append((i, None if v is None else json.loads(v)))
        return out

    def filter(self, key, value):
        out = []
        with self.env.begin() as txn:
            cur = txn.cursor(db=self.idx)
            if cur.set_key(f"{key}.{value}".encode()):
                for raw_id in cur.iternext_dup():
                    v = txn.get(raw_id, db=self.docs)
                    if v is not None:
                        out.append((raw_id.decode(), json.loads(v)))
        return out

    def scan_prefix(self, prefix):
        out = []
        p = prefix.encode()
        with self.env.begin() as txn:
            cur = txn.cursor(db=self.docs)
            if cur.set_range(p):
                for k, v in cur:
                    if not k.startswith(p):
                        break
                    out.append((k.decode(), json.loads(v)))
        return out

    def close(self):
        self.env.close()

    def files(self, path):
        return [os.path.join(path, f) for f in os.listdir(path)]
