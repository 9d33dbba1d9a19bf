"""The read methods both classes share, run once per class: argument errors, arguments by
keyword, missing and repeated ids, the order of a prefix scan, and reads after close_engine."""

import pytest

import quorvane
from conftest import CLASSES, ENGINE, SERVER, unpaged

IDS = ["a", "a:1", "a:10", "a:2", "ab", "A", "B:1"]

# (case, classes, call, exception type, message pattern, parameter the note names).
ARGUMENT_ERRORS = [
    ("get-missing-id", CLASSES, lambda db: db.get(), TypeError,
     "missing 1 required positional argument: 'id'", None),
    ("get-two-positional", CLASSES, lambda db: db.get("a", "b"), TypeError,
     "takes 1 positional argument", None),
    ("get-unknown-keyword", CLASSES, lambda db: db.get(ident="a"), TypeError,
     "unexpected keyword argument 'ident'", None),
    ("get-int", CLASSES, lambda db: db.get(1), TypeError,
     "'int' object is not an instance of 'str'", "id"),
    ("get-None", CLASSES, lambda db: db.get(None), TypeError,
     "'None' is not an instance of 'str'", "id"),
    ("get-surrogate", CLASSES, lambda db: db.get("\ud800"), UnicodeEncodeError,
     "surrogates not allowed", "id"),
    ("get_many-str", CLASSES, lambda db: db.get_many("ab"), TypeError,
     "^Can't extract `str` to `Vec`$", "ids"),
    ("get_many-dict", CLASSES, lambda db: db.get_many({"a": 1}), TypeError,
     "'dict' object is not an instance of 'Sequence'", "ids"),
    ("get_many-set", CLASSES, lambda db: db.get_many({"a"}), TypeError,
     "not an instance of 'Sequence'", "ids"),
    ("get_many-generator", CLASSES, lambda db: db.get_many(i for i in "a"), TypeError,
     "not an instance of 'Sequence'", "ids"),
    ("get_many-int-item", CLASSES, lambda db: db.get_many(["a", 1]), TypeError,
     "'int' object is not an instance", "ids"),
    ("scan_prefix-bytes", CLASSES, lambda db: db.scan_prefix(b"a"), TypeError,
     "'bytes' object is not an instance", "prefix"),
    ("filter-int-key-int-value", CLASSES, lambda db: db.filter_by_metadata(1, 2, *unpaged(db)),
     TypeError, "'int'", "index_key"),
    ("filter-int-key", CLASSES, lambda db: db.filter_by_metadata(1, "v", *unpaged(db)),
     TypeError, "'int'", "index_key"),
    ("filter-int-value", CLASSES, lambda db: db.filter_by_metadata("k", 2, *unpaged(db)),
     TypeError, "'int'", "index_value"),
    ("filter-missing-value", (ENGINE,), lambda db: db.filter_by_metadata("k"), TypeError,
     "missing 1 required positional", None),
    # A server's filter also takes limit and offset, both required.
    ("filter-missing-paging", (SERVER,), lambda db: db.filter_by_metadata("k", "v"), TypeError,
     r"^DBEngineWebServer.filter_by_metadata\(\) missing 2 required positional arguments: "
     "'limit' and 'offset'$", None),
    ("filter-missing-offset", (SERVER,), lambda db: db.filter_by_metadata("k", "v", None),
     TypeError, "missing 1 required", None),
    ("filter-negative-limit", (SERVER,), lambda db: db.filter_by_metadata("k", "v", -1, None),
     OverflowError, "can't convert negative int to unsigned", "limit"),
    ("filter-huge-limit", (SERVER,), lambda db: db.filter_by_metadata("k", "v", 2**64, None),
     OverflowError, "too big", "limit"),
    ("filter-negative-offset", (SERVER,), lambda db: db.filter_by_metadata("k", "v", None, -1),
     OverflowError, "negative", "offset"),
    ("filter-float-limit", (SERVER,), lambda db: db.filter_by_metadata("k", "v", 1.5, -1),
     TypeError, "'float' object cannot be interpreted as an integer", "limit"),
    ("filter-str-offset", (SERVER,), lambda db: db.filter_by_metadata("k", "v", 1, "2"),
     TypeError, "'str' object cannot be interpreted as an integer", "offset"),
]


@pytest.mark.parametrize("class_name,call,error,message,note", [
    pytest.param(class_name, *row, id=f"{class_name}-{case}")
    for case, classes, *row in ARGUMENT_ERRORS
    for class_name in classes
])
def test_argument_errors_name_the_parameter(stored_instance, expected_notes, class_name, call,
                                            error, message, note):
    db = stored_instance(class_name, {"a": "{}"})
    with pytest.raises(error, match=message) as caught:
        call(db)
    assert getattr(caught.value, "__notes__", []) == expected_notes(note)


def test_arguments_by_keyword_and_any_sequence_of_str(stored_instance, class_name):
    db = stored_instance(class_name, {"a": '{"n":1}', "b": '{"n":2}'})
    assert db.get(id="a") == {"n": 1}
    assert db.get_many(ids=("b", "a")) == [("b", {"n": 2}), ("a", {"n": 1})]
    assert db.get_many(range(0)) == []
    assert db.scan_prefix(prefix="b") == [("b", {"n": 2})]
    paging = {"limit": None, "offset": None} if class_name == SERVER else {}
    assert db.filter_by_metadata(index_value="1", index_key="n", **paging) == []


def test_get_and_get_many_of_missing_and_repeated_ids(stored_instance, class_name):
    db = stored_instance(class_name,
                         {"a": '{"n":1}', "": '{"empty":true}', "a\x00b": '{"nul":1}'})
    assert db.get("a") == {"n": 1}
    assert db.get("nope") is None
    assert db.get("") == {"empty": True}
    assert db.get("a\x00b") == {"nul": 1}
    assert db.get_many([]) == []
    got = db.get_many(["a", "b", "a"])
    assert got == [("a", {"n": 1}), ("b", None), ("a", {"n": 1})]
    assert got[0][1] is not got[2][1]


@pytest.mark.parametrize(
    "prefix, expected",
    [
        ("a:", ["a:1", "a:10", "a:2"]),
        ("a", ["a", "a:1", "a:10", "a:2", "ab"]),
        ("", ["A", "B:1", "a", "a:1", "a:10", "a:2", "ab"]),
        ("A", ["A"]),
        ("a:10", ["a:10"]),
        ("zz", []),
        ("a:3", []),
    ],
)
def test_scan_prefix_in_ascending_byte_order(stored_instance, class_name, prefix, expected):
    db = stored_instance(class_name, {i: f'{{"id":"{i}"}}' for i in IDS})
    assert db.scan_prefix(prefix) == [(i, {"id": i}) for i in expected]


@pytest.mark.parametrize("source", ["stored", "inserted"])
def test_reads_keep_working_after_close_engine(stored_instance, db_path, class_name, source):
    if source == "stored":
        db = stored_instance(class_name, {"a": '{"n":1}'}, index=[("n.1", "a")])
    else:
        db = getattr(quorvane, class_name)(db_path)
        db.insert("a", {"n": 1})
    db.close_engine()
    assert db.get("a") == {"n": 1}
    assert db.get_many(["a"]) == [("a", {"n": 1})]
    assert db.scan_prefix("") == [("a", {"n": 1})]
    assert db.filter_by_metadata("n", "1", *unpaged(db)) == [("a", {"n": 1})]
