"""TinyDB with its JSON storage: the store a Python user reaches for first. Writing out means
rewriting the whole JSON file (without fsync); CachingMiddleware holds writes until flush()."""

import os

from tinydb import Query, TinyDB
from tinydb.storages import JSONStorage
from tinydb.middlewares import CachingMiddleware


class TinyDBJson:
    name = "tinydb"

    def open(self, path):
        self.db = TinyDB(path, storage=CachingMiddleware(JSONStorage))
        self.q = Query()

    def bulk_load(self, records, chunk):
        for s in range(0, len(records), chunk):
            self.db.insert_multiple({"_id": i, **d} for i, d in records[s:s + chunk])
            self.db.storage.flush()

    def insert_each(self, records):
        for i, d in records:
            self.db.insert({"_id": i, **d})
            self.db.storage.flush()

    def insert_batched(self, records):
        for i, d in records:
            self.db.insert({"_id": i, **d})
        self.db.storage.flush()

    def get(self, id_):
        return self.db.get(self.q._id == id_)

    def get_many(self, ids):
        return [(i, self.get(i)) for i in ids]

    def filter(self, key, value):
        field = self.q
        for part in key.split("."):
            field = field[part]
        return [(d["_id"], d) for d in self.db.search(field == value)]

    def scan_prefix(self, prefix):
        return sorted((d["_id"], d) for d in self.db.search(self.q._id.test(lambda v: v.startswith(prefix))))

    def close(self):
        self.db.close()

    def files(self, path):
        return [path] if os.path.exists(path) else []
