import os

import pytest


@pytest.fixture
def db_path(tmp_path):
    """A database path in a fresh directory."""
    return os.path.join(str(tmp_path), "store.db")
