"""diskcache (SQLite underneath, values pickled): a key-value cache used as a store. Each set()
is a transaction of its own (SQLite synchronous=NORMAL, diskcache's default); transact() groups
them."""

import os

import diskcache


class DiskCache:
    name = "diskcache"

    def open(self, path):
        self.cache = diskcache.Cache(path)

    def bulk_load(self, records, chunk):
        for s in range(0, len(records), chunk):
            with self.cache.transact():
                for i, d in records[s:s + chunk]:
                    self.cache.set(i, d)

    def insert_each(self, records):
        for i, d in records:
            self.cache.set(i, d)

    def insert_batched(self, records):
        with self.cache.transact():
            for i, d in records:
                self.cache.set(i, d)

    def get(self, id_):
        return self.cache.get(id_)

    def get_many(self, ids):
        return [(i, self.cache.get(i)) for i in ids]

    def filter(self, key, value):
        return None  # no secondary index

    def scan_prefix(self, prefix):
        return None  # keys are not kept in order

    def close(self):
        self.cache.close()

    def files(self, path):
        return [os.path.join(path, f) for f in os.listdir(path)]
