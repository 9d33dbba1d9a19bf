import os

import pytest

from quorvane import DBEngineWebServer

from conftest import INSERT_A



@pytest.mark.parametrize(
    "args,kwargs,parameter",
    [
        ((), {}, None),
        ((1,), {}, "path"),
        (("{p}", 9), {}, "backup_time"),
        (("{p}",), {"backup_dir": b"dir"}, "backup_dir"),
        (("{p}",), {"enable_logging": None}, "enable_logging"),
        (("{p}",), {"enable_logging": 1}, "enable_logging"),
        (("{p}", None, None, False, 5), {}, None),
        (("{p}",), {"logging": True}, None),
        (("{p}",), {"path": "{p}"}, None),
    ],
)
def test_argument_errors_open_nothing(db_path, expected_notes, args, kwargs, parameter):
    args = tuple(db_path if a == "{p}" else a for a in args)
    kwargs = {k: db_path if v == "{p}" else v for k, v in kwargs.items()}
    with pytest.raises(TypeError) as info:
        DBEngineWebServer(*args, **kwargs)
    assert getattr(info.value, "__notes__", []) == expected_notes(parameter)
    assert not os.path.exists(db_path)


@pytest.mark.parametrize(
    "backup_time,reason",
    [
        ("25:00", "input is out of range"),
        ("12", "premature end of input"),
        ("12:30:45", "trailing input"),
        ("noon", "input contains invalid characters"),
    ],
)
def test_a_bad_backup_time_fails_once_both_are_given(db_path, tmp_path, backup_time, reason):
    with pytest.raises(RuntimeError) as info:
        DBEngineWebServer(db_path, backup_time, str(tmp_path))
    assert str(info.value) == "Invalid backup time provided. Use format HH:MM " + reason
    # The WAL writer had started and created the log; the store is released on return.
    assert os.path.getsize(db_path + ".wal") == 0
    DBEngineWebServer(db_path).close_engine()


@pytest.mark.parametrize(
    "kwargs",
    [
        {"backup_time": "25:00"},
        {"backup_dir": "/nonexistent/dir"},
        {"backup_time": None, "backup_dir": None},
        {"backup_time": "09:00", "backup_dir": "/nonexistent/dir"},
        {"enable_logging": True},
        {"enable_logging": False},
    ],
)
def test_accepted_configurations(db_path, kwargs):
    db = DBEngineWebServer(db_path, **kwargs)
    assert db.queue_size == 0
    db.close_engine()


def test_queue_size_is_read_only_and_close_engine_can_repeat(db_path):
    db = DBEngineWebServer(db_path)
    assert db.queue_size == 0
    with pytest.raises(AttributeError):
        db.queue_size = 1
    assert db.close_engine() is None
    assert db.close_engine() is None
    assert db.queue_size == 0


def test_context_manager(db_path):
    db = DBEngineWebServer(db_path)
    with db as bound:
        assert bound is db
    assert db.__exit__(None, None, None) is False
    with pytest.raises(TypeError):
        db.__exit__(None, None)
    with pytest.raises(KeyError, match="inner"):
        with DBEngineWebServer(db_path + "2"):
            raise KeyError("inner")


def test_a_second_instance_fails_and_leaves_the_first_ones_log_alone(db_path):
    first = DBEngineWebServer(db_path)
    # Frames that the first instance's writer has not written: nothing empties them while
    # it idles with nothing framed.
    with open(db_path + ".wal", "wb") as log:
        log.write(INSERT_A)
    for _ in range(2):
        with pytest.raises(RuntimeError, match="^Database already open. Cannot acquire lock.$"):
            DBEngineWebServer(db_path)
        with open(db_path + ".wal", "rb") as log:
            assert log.read() == INSERT_A
        first.close_engine()  # the store stays locked until the instance is freed
    del first
    DBEngineWebServer(db_path).close_engine()
    with open(db_path + ".wal", "rb") as log:
        assert log.read() == b""  # replayed, then emptied
