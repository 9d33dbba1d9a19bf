import contextlib
import gc
import os
import sqlite3

import pytest


@pytest.fixture
def db_path(tmp_path):
    """A database path in a fresh directory."""
    return os.path.join(str(tmp_path), "store.db")


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
