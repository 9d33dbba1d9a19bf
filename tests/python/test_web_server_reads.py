"""DBEngineWebServer's own read behaviour: the SIMD parser of the id reads and the paged
metadata filter. What both classes do alike is in test_reads.py."""

import gc

import pytest

import quorvane


SIMD_NUMBER = "InvalidNumber at character 5 ('1')"


@pytest.mark.parametrize("stored,get_error,list_error,filtered", [
    # Too large for 64 bits: the SIMD parser refuses it, the strict one reads a float.
    ('{"n":123456789012345678901234567890}', "Json parsing error " + SIMD_NUMBER,
     "Json Parse Error " + SIMD_NUMBER, [("d", {"n": 1.2345678901234568e29})]),
    ("[1, 2]", "Database entry is not a valid JSON/Dictionary",
     "Database entry is not a valid JSON/Dictionary", None),
    ("null", "Database entry is not a valid JSON/Dictionary",
     "Database entry is not a valid JSON/Dictionary", None),
])
def test_id_reads_parse_with_the_simd_parser(stored_server, stored, get_error, list_error,
                                             filtered):
    db = stored_server({"d": stored, "e": "{}"}, index=[("k.v", "d"), ("k.v", "e")])
    for call, message in ((lambda: db.get("d"), get_error),
                          (lambda: db.get_many(["e", "d"]), get_error),
                          (lambda: db.scan_prefix(""), list_error)):
        with pytest.raises(RuntimeError) as info:
            call()
        assert str(info.value) == message
    if filtered is None:
        with pytest.raises(RuntimeError, match="^Database entry is not a valid JSON/Dictionary$"):
            db.filter_by_metadata("k", "v", None, None)
    else:
        assert db.filter_by_metadata("k", "v", 1, None) == filtered


# a, b, c and d are filed under n.1; the document of b is gone.
@pytest.mark.parametrize("limit,offset,expected", [
    (2, 0, ["a"]),
    (2, 2, ["c", "d"]),
    (None, 1, ["c", "d"]),
    (1, 1, []),
    (None, None, ["a", "c", "d"]),
    (None, 4, []),
    (None, 2**64 - 1, []),
    (2**64 - 1, 0, ["a", "c", "d"]),
    (0, 0, []),
    (0, 2, []),
    (True, 0, ["a"]),
    (True, True, []),
    (3, False, ["a", "c"]),
])
def test_filter_pages_over_index_entries(stored_server, limit, offset, expected):
    db = stored_server({i: f'{{"n":1,"id":"{i}"}}' for i in "acd"},
                       index=[("n.1", i) for i in "abcd"])
    page = db.filter_by_metadata("n", "1", limit, offset)
    assert page == [(i, {"n": 1, "id": i}) for i in expected]
    assert db.filter_by_metadata(index_key="n", index_value="1", limit=limit, offset=offset) == page


class Count:
    def __init__(self, n):
        self.n = n

    def __index__(self):
        return self.n


def test_filter_counts_may_be_any_integer_index(stored_server):
    db = stored_server({"a": '{"n":1}', "b": '{"n":1}'}, index=[("n.1", "a"), ("n.1", "b")])
    assert db.filter_by_metadata("n", "1", Count(1), Count(1)) == [("b", {"n": 1})]


def test_filter_without_paging_equals_the_plain_engines(db_path):
    server = quorvane.DBEngineWebServer(db_path)
    server.insert_many([(f"u{i}", {"city": "Oslo" if i % 3 else "Rome", "n": i % 2,
                                   "tags": ["x", str(i % 4)]}) for i in range(40)])
    server.insert("u1", {"city": "Rome"})
    server.upsert("u2", {"city": "Rome"})
    server.delete("u4")
    server.close_engine()
    queries = [("city", "Oslo"), ("city", "Rome"), ("n", "1"), ("tags.1", "3"), ("tags", "0.x"),
               ("none", "x")]
    paged = [server.filter_by_metadata(k, v, None, None) for k, v in queries]
    del server
    gc.collect()
    engine = quorvane.DBEngine(db_path)
    assert paged == [engine.filter_by_metadata(k, v) for k, v in queries]
    assert all(paged[:4])
    engine.close_engine()
