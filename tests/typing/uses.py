"""Every method and property of the module, used as its type information allows: the type
check expects no error here, and the results' types are pinned with assert_type. Run
(python uses.py DIRECTORY), it shows that the module takes every call as written, keywords
included, and gives results of the shapes declared."""
import os
import sys
import time
from typing import Any, NamedTuple

import quorvane

if sys.version_info >= (3, 11):
    from typing import assert_type
else:
    from typing_extensions import assert_type


class Record(NamedTuple):
    id: str
    payload: dict[str, Any]


def check_pairs(pairs: object, allow_none: bool = False) -> None:
    """A list of (str, dict) tuples (dict or None with allow_none)."""
    assert isinstance(pairs, list), pairs
    for pair in pairs:
        assert isinstance(pair, tuple) and len(pair) == 2, pair
        assert isinstance(pair[0], str), pair
        assert isinstance(pair[1], dict) or (allow_none and pair[1] is None), pair


def use_engine(directory: str) -> None:
    db = quorvane.DBEngine(os.path.join(directory, "engine.db"))
    db.insert("a", {"n": 1, "tags": ["x", "y"], "nested": {"ok": True}})
    db.insert(id="b", payload={"n": 2})
    db.upsert("a", payload={"n": 3})
    db.insert_json("c", json_payload='{"n": 4}')
    db.insert_many([("d", {"n": 5})])
    db.insert_many(records=(Record("e", {"n": 6}),))
    db.insert_many_json([("f", '{"n": 7}')])
    db.insert_many_json(records=[])
    db.delete(id="f")
    db.close_engine()

    document = db.get("a")
    assert_type(document, dict[str, Any] | None)
    assert document == {"n": 3}
    assert db.get(id="f") is None

    many = db.get_many(ids=("a", "f"))
    assert_type(many, list[tuple[str, dict[str, Any] | None]])
    check_pairs(many, allow_none=True)
    assert many == [("a", {"n": 3}), ("f", None)]

    scanned = db.scan_prefix(prefix="")
    assert_type(scanned, list[tuple[str, dict[str, Any]]])
    check_pairs(scanned)
    assert [doc_id for doc_id, _ in scanned] == ["a", "b", "c", "d", "e"]

    found = db.filter_by_metadata(index_key="n", index_value="4")
    assert_type(found, list[tuple[str, dict[str, Any]]])
    check_pairs(found)
    assert found == [("c", {"n": 4})]


def use_server(directory: str) -> None:
    path = os.path.join(directory, "server.db")
    with quorvane.DBEngineWebServer(path, backup_time=None, backup_dir=None,
                                    enable_logging=True) as server:
        assert_type(server, quorvane.DBEngineWebServer)
        server.insert("a", {"n": 1})
        server.insert(id="b", payload={"n": 2})
        server.upsert(id="a", payload={"n": 3})
        server.insert_json(id="c", json_payload='{"n": 4}')
        server.delete("c")

        refused = server.insert_many(records=[("d", {"n": 5}), ("e", {"n": b"bytes"})])
        assert_type(refused, list[tuple[str, dict[str, Any], str]] | None)
        assert refused is not None and len(refused) == 1
        refused_id, refused_payload, message = refused[0]
        assert (refused_id, refused_payload) == ("e", {"n": b"bytes"}) and message
        assert server.insert_many([Record("f", {"n": 6})]) is None

        refused_json = server.insert_many_json([("g", "{}"), ("h", "{")])
        assert_type(refused_json, list[tuple[str, str, str]] | None)
        assert refused_json is not None
        assert [(i, text) for i, text, _ in refused_json] == [("h", "{")]
        assert server.insert_many_json(records=[]) is None

        size = server.queue_size
        assert_type(size, int)
        assert isinstance(size, int) and size >= 0
        backup = os.path.join(directory, "backup.db")
        server.trigger_backup(target_path=backup)
    deadline = time.monotonic() + 30
    while not os.path.exists(backup) and time.monotonic() < deadline:
        time.sleep(0.01)
    assert os.path.exists(backup)

    # Closed on leaving the block, the instance still reads.
    document = server.get(id="a")
    assert_type(document, dict[str, Any] | None)
    assert document == {"n": 3}
    many = server.get_many(["a", "c"])
    assert_type(many, list[tuple[str, dict[str, Any] | None]])
    assert many == [("a", {"n": 3}), ("c", None)]
    scanned = server.scan_prefix("")
    assert_type(scanned, list[tuple[str, dict[str, Any]]])
    check_pairs(scanned)
    page = server.filter_by_metadata("n", "3", limit=10, offset=None)
    assert_type(page, list[tuple[str, dict[str, Any]]])
    assert page == [("a", {"n": 3})]
    assert server.filter_by_metadata(index_key="n", index_value="3", limit=None, offset=1) == []
    assert server.__exit__(None, None, None) is False
    server.close_engine()

if __name__ == "__main__":
    use_engine(sys.argv[1])
    use_server(sys.argv[1])
