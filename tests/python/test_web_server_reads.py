"""DBEngineWebServer's read methods: arguments, the SIMD parser of the id reads, and the paged
metadata filter."""

import gc

import pytest

import quorvane


@pytest.mark.parametrize("call,error,message,note", [
    (lambda db: db.get(1), TypeError, "'int' object is not an instance of 'str'", "id"),
    (lambda db: db.get_many("ab"), TypeError, "^Can't extract `str` to `Vec`$", "ids"),
    (lambda db: db.get_many(["a", 1]), TypeError, "'int' object is not an instance", "ids"),
    (lambda db: db.scan_prefix(b"a"), TypeError, "'bytes' object is not an instance", "prefix"),
    (lambda db: db.filter_by_metadata(1, "v", None, None), TypeError, "'int'", "index_key"),
    (lambda db: db.filter_by_metadata("k", "v"), TypeError,
     r"^DBEngineWebServer.filter_by_metadata\(\) missing 2 required positional arguments: "
     "'limit' and 'offset'$", None),
    (lambda db: db.filter_by_metadata("k", "v", None), TypeError, "missing 1 required", None),
    (lambda db: db.filter_by_metadata("k", "v", -1, None), OverflowError,
     "can't convert negative int to unsigned", "limit"),
    (lambda db: db.filter_by_metadata("k", "v", 2**64, None), OverflowError, "too big", "limit"),
    (lambda db: db.filter_by_metadata("k", "v", None, -1), OverflowError, "negative", "offset"),
    (lambda db: db.filter_by_metadata("k", "v", 1.5, -1), TypeError,
     "'float' object cannot be interpreted as an integer", "limit"),
    (lambda db: db.filter_by_metadata("k", "v", 1, "2"), TypeError,
     "'str' object cannot be interpreted as an integer", "offset"),
])
def test_argument_errors_name_the_parameter(stored_server, expected_notes, call, error, message,
                                             note):
    db = stored_server({"a": "{}"})
    with pytest.raises(error, match=message) as caught:
        call(db)
    assert getattr(caught.value, "__notes__", []) == expected_notes(note)


def test_id_reads_orders_and_missing_ids(stored_server):
    ids = ["user", "user:1", "user:2", "userx", "User"]
    db = stored_server({i: f'{{"id":"{i}"}}' for i in ids})
    assert db.get("user:1") == {"id": "user:1"}
    assert db.get(id="nope") is None
    assert db.get_many([]) == []
    got = db.get_many(("user", "nope", "user"))
    assert got == [("user", {"id": "user"}), ("nope", None), ("user", {"id": "user"})]
    assert got[0][1] is not got[2][1]
    assert [i for i, _ in db.scan_prefix("user:")] == ["user:1", "user:2"]
    assert [i for i, _ in db.scan_prefix("user")] == ["user", "user:1", "user:2", "userx"]
    assert [i for i, _ in db.scan_prefix(prefix="")] == sorted(ids)


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


def test_reads_keep_working_after_close_engine(db_path):
    db = quorvane.DBEngineWebServer(db_path)
    db.insert("a", {"n": 1})
    db.close_engine()
    assert db.get("a") == {"n": 1}
    assert db.get_many(["a"]) == [("a", {"n": 1})]
    assert db.scan_prefix("") == [("a", {"n": 1})]
    assert db.filter_by_metadata("n", "1", None, None) == [("a", {"n": 1})]
