"""stdlib sqlite3 + json, written the way a competent user would: WAL mode, synchronous=FULL
(as durable as quorvane's commits), one transaction per batch, executemany, a documents table
plus a (key, id) index table holding the same index rows quorvane derives."""

import json
import os
import sqlite3

from workload import index_keys


def _dumps(doc):
    return json.dumps(doc, sort_keys=True, separators=(",", ":")).encode()


class SqliteJson:
    name = "sqlite3+json"

    def open(self, path):
        self.path = path
        self.db = sqlite3.connect(path, check_same_thread=False, isolation_level=None)
        self.db.execute("PRAGMA journal_mode=WAL")
        self.db.execute("PRAGMA synchronous=FULL")
        self.db.execute("CREATE TABLE IF NOT EXISTS documents (id TEXT PRIMARY KEY, doc BLOB) "
                        "WITHOUT ROWID")
        self.db.execute("CREATE TABLE IF NOT EXISTS idx (key TEXT, id TEXT, "
                        "PRIMARY KEY (key, id)) WITHOUT ROWID")
        self._local = {}

    def _reader(self):
        # One connection per reading thread, as sqlite3 objects are not shared across threads.
        import threading

        t = threading.get_ident()
        c = self._local.get(t)
        if c is None:
            c = sqlite3.connect(self.path, check_same_thread=False)
            self._local[t] = c
        return c

    def _write(self, records):
        docs = [(i, _dumps(d)) for i, d in records]
        rows = [(k, i) for i, d in records for k in index_keys(d)]
        self.db.execute("BEGIN")
        self.db.executemany("INSERT OR REPLACE INTO documents VALUES (?, ?)", docs)
        self.db.executemany("INSERT OR IGNORE INTO idx VALUES (?, ?)", rows)
        self.db.execute("COMMIT")

    def _put(self, id_, doc):
        """One record's statements, as an application's insert function would run them."""
        self.db.execute("INSERT OR REPLACE INTO documents VALUES (?, ?)", (id_, _dumps(doc)))
        self.db.executemany("INSERT OR IGNORE INTO idx VALUES (?, ?)",
                            [(k, id_) for k in index_keys(doc)])

    def bulk_load(self, records, chunk):
        for s in range(0, len(records), chunk):
            self._write(records[s:s + chunk])

    def insert_each(self, records):
        for i, d in records:
            self.db.execute("BEGIN")
            self._put(i, d)
            self.db.execute("COMMIT")

    def insert_batched(self, records):
        self.db.execute("BEGIN")
        for i, d in records:
            self._put(i, d)
        self.db.execute("COMMIT")

    def get(self, id_):
        row = self._reader().execute("SELECT doc FROM documents WHERE id = ?", (id_,)).fetchone()
        return None if row is None else json.loads(row[0])

    def get_many(self, ids):
        c = self._reader()
        out = []
        for i in ids:
            row = c.execute("SELECT doc FROM documents WHERE id = ?", (i,)).fetchone()
            out.append((i, None if row is None else json.loads(row[0])))
        return out

    def filter(self, key, value):
        rows = self._reader().execute(
            "SELECT d.id, d.doc FROM idx AS m JOIN documents AS d ON d.id = m.id "
            "WHERE m.key = ? ORDER BY m.id", (f"{key}.{value}",)).fetchall()
        return [(i, json.loads(d)) for i, d in rows]

    def scan_prefix(self, prefix):
        rows = self._reader().execute(
            "SELECT id, doc FROM documents WHERE id >= ? AND id < ? ORDER BY id",
            (prefix, prefix[:-1] + chr(ord(prefix[-1]) + 1))).fetchall()
        return [(i, json.loads(d)) for i, d in rows]

    def close(self):
        for c in self._local.values():
            c.close()
        self.db.close()

    def files(self, path):
        return [p for p in (path, path + "-wal", path + "-shm") if os.path.exists(p)]
