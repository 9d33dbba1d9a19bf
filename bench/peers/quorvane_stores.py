"""quorvane's two classes. Writes are asynchronous: bulk_load and insert_each end once the
last document written is visible to a read, which happens when the batch holding it is
committed (every commit is durable, and batches commit in queue order)."""

import os
import time

import quorvane


class QuorvaneEngine:
    name = "quorvane DBEngine"
    cls_name = "DBEngine"

    def open(self, path):
        self.path = path
        self.db = getattr(quorvane, self.cls_name)(path)

    def _settle(self, last_id):
        get = self.db.get
        while get(last_id) is None:
            time.sleep(0.0005)

    def bulk_load(self, records, chunk):
        for s in range(0, len(records), chunk):
            self.db.insert_many(records[s:s + chunk])
        self._settle(records[-1][0])

    def insert_each(self, records):
        insert = self.db.insert
        for i, d in records:
            insert(i, d)
        self._settle(records[-1][0])

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
