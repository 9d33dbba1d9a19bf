import contextlib
import gc
import os
import sqlite3

import pytest


@pytest.fixture
def db_path(tmp_path):
    """A database path in a fresh directory."""
    return os.path.join(str(tmp_path), "store.db")


STORE_TABLES = (
    "CREATE TABLE IF NOT EXISTS documents ("
    "id TEXT NOT NULL PRIMARY KEY, doc BLOB NOT NULL) WITHOUT ROWID",
    "CREATE TABLE IF NOT EXISTS metadata_index ("
    "key TEXT NOT NULL, id TEXT NOT NULL, PRIMARY KEY (key, id)) WITHOUT ROWID",
)


@pytest.fixture
def stored_engine(db_path):
    """Writes a store file directly (documents: {id: raw JSON text or bytes}; index: (key, id)
    pairs) and opens a DBEngine on it; every engine made is closed at the end."""
    import sqlite3

    import quorvane

    engines = []

    def make(documents=None, index=()):
        con = sqlite3.connect(db_path)
        for statement in STORE_TABLES:
            con.execute(statement)
        for doc_id, doc in (documents or {}).items():
            raw = doc if isinstance(doc, bytes) else doc.encode("utf-8")
            con.execute("INSERT OR REPLACE INTO documents VALUES (?, ?)", (doc_id, raw))
        con.executemany("INSERT OR IGNORE INTO metadata_index VALUES (?, ?)", list(index))
        con.commit()
        con.close()
        engine = quorvane.DBEngine(db_path)
        engines.append(engine)
        return engine

    yield make
    for engine in engines:
        try:
            engine.close_engine()
        except RuntimeError:
            pass


@pytest.fixture
def read_documents(db_path):
    """Reads the stored documents at db_path as {id: bytes}, with the sqlite3 module.

    Call it once the engine that wrote them is closed and no longer referenced.
    """

    def read():
        gc.collect()
        with contextlib.closing(sqlite3.connect(db_path)) as conn:
            return dict(conn.execute("SELECT id, doc FROM documents"))

    return read
