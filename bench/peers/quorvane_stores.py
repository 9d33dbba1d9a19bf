"""quorvane's two classes. Writes are asynchronous: bulk_load and insert_each end with
close_engine, which returns once everything queued is committed; the store is then reopened
for the reads."""

import os

import quorvane


class QuorvaneEngine:
    name = "quorvane DBEngine"
    cls_name = "DBEngine"

    def open(self, path):
        self.path = path
        self.db = getattr(quorvane, self.cls_name)(path)

    def _settle(self):
        # Durable and visible: close_engine waits for the writers; reopen for what follows.
        self.db.close_engine()
        del self.db
        self.db = getattr(quorvane, self.cls_name)(self.path)

    def bulk_load(self, records, chunk):
        for s in range(0, len(records), chunk):
            self.db.insert_many(records[s:s + chunk])
        self._settle()

    def insert_each(self, records):
        insert = self.db.insert
        for i, d in records:
            insert(i, d)
        del insert  # the bound method holds the instance, and the instance holds the file lock
        self._settle()

    def get(self, id_):
        return self.db.get(id_)

    def get_many(self, ids):
        return self.db.get_many(ids)

    def filter(self, key, value):
        return self.db.filter_by_metadata(key, value)

    def scan_prefix(self, prefix):
        return self.db.scan_prefix(prefix)

    def close(self):
        self.db.close_engine()
        del self.db

    def files(self, path):
        return [p for p in (path, path + "-wal", path + "-shm", path + ".wal", path + ".jsonl")
                if os.path.exists(p)]


class QuorvaneServer(QuorvaneEngine):
    name = "quorvane DBEngineWebServer"
    cls_name = "DBEngineWebServer"

    def filter(self, key, value):
        return self.db.filter_by_metadata(key, value, None, None)
