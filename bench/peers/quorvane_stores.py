"""quorvane's two classes. Writes are asynchronous: bulk_load and insert_each end with
close_engine, which returns once everything queued is committed and durable, as the other
stores' writes are when they return. The store is then reopened for what follows, in
reopen(), which the runner calls outside the timed part."""

import os

import quorvane


class QuorvaneEngine:
    name = "quorvane DBEngine"
    cls_name = "DBEngine"

    def open(self, path):
        self.path = path
        self._open()

    def _open(self):
        self.db = getattr(quorvane, self.cls_name)(self.path)
        # The reads are timed as a caller makes them, straight on the instance.
        self.get = self.db.get
        self.get_many = self.db.get_many

    def reopen(self):
        self._drop()
        self._open()

    def _drop(self):
        # The bound methods hold the instance, and the instance holds the file lock.
        del self.get, self.get_many, self.db

    def bulk_load(self, records, chunk):
        for s in range(0, len(records), chunk):
            self.db.insert_many(records[s:s + chunk])
        self.db.close_engine()

    def insert_each(self, records):
        insert = self.db.insert
        for i, d in records:
            insert(i, d)
        del insert  # the bound method holds the instance, and the instance holds the file lock
        self.db.close_engine()

    # quorvane has no transaction to put around single inserts: they are queued and committed
    # in batches of up to 10000 by the background writer either way.
    insert_batched = insert_each

    def filter(self, key, value):
        return self.db.filter_by_metadata(key, value)

    def scan_prefix(self, prefix):
        return self.db.scan_prefix(prefix)

    def close(self):
        self.db.close_engine()
        self._drop()

    def files(self, path):
        return [p for p in (path, path + "-wal", path + "-shm", path + ".wal", path + ".jsonl")
                if os.path.exists(p)]


class QuorvaneServer(QuorvaneEngine):
    name = "quorvane DBEngineWebServer"
    cls_name = "DBEngineWebServer"

    def filter(self, key, value):
        return self.db.filter_by_metadata(key, value, None, None)
