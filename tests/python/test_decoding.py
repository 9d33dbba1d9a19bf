"""Decoding stored documents into dicts, through the read methods of DBEngine (the strict
parser). The store file is written directly, so any stored text can be read back."""
import pytest

NOT_DICT = "Database entry is not a valid JSON/Dictionary"


def keys_in_order(value):
    """The keys of every dict in `value`, in iteration order, depth first."""
    if isinstance(value, dict):
        return [(k, keys_in_order(v)) for k, v in value.items()]
    if isinstance(value, list):
        return [keys_in_order(v) for v in value]
    return None


@pytest.mark.parametrize(
    "stored, expected",
    [
        ('{"b":1,"a":{"d":2,"c":3}}', [("a", [("c", None), ("d", None)]), ("b", None)]),
        ('{"b":1, "a":2}', [("a", None), ("b", None)]),
        # Ascending UTF-8 bytes: capitals before lower case, a proper beginning first.
        ('{"é":1,"z":2,"Z":3,"":4,"ab":5,"a":6,"\\u0062":7}',
         [(k, None) for k in ["", "Z", "a", "ab", "b", "z", "é"]]),
        ('{"x":[{"b":1,"a":2},{"d":1,"c":2}]}',
         [("x", [[("a", None), ("b", None)], [("c", None), ("d", None)]])]),
    ],
)
def test_keys_iterate_in_byte_order_whatever_the_stored_order(stored_engine, stored, expected):
    db = stored_engine({"d": stored})
    assert keys_in_order(db.get("d")) == expected
    assert keys_in_order(db.scan_prefix("d")[0][1]) == expected


@pytest.mark.parametrize(
    "stored, expected",
    [
        ('{"a":1,"a":2}', {"a": 2}),
        ('{"b":0,"a":1,"b":2,"a":3}', {"a": 3, "b": 2}),
        ('{"a":{"x":1},"a":{"y":2}}', {"a": {"y": 2}}),
    ],
)
def test_a_repeated_key_keeps_its_last_value(stored_engine, stored, expected):
    db = stored_engine({"d": stored})
    assert db.get("d") == expected


def test_values_come_back_with_their_types(stored_engine):
    stored = (
        '{"t":true,"f":false,"z":null,"i":-5,"u":18446744073709551615,'
        '"m":-9223372036854775808,"one":1.0,"e":2.5e-3,"tiny":1e-400,"negz":-0,'
        '"big":123456789012345678901234567890,'
        '"s":"q\\"\\\\\\/\\b\\f\\n\\r\\t\\u00e9\\ud83d\\ude00€","l":[],"o":{}}'
    )
    doc = stored_engine({"d": stored}).get("d")
    expected = {
        "t": True, "f": False, "z": None, "i": -5, "u": 2**64 - 1, "m": -(2**63),
        "one": 1.0, "e": 0.0025, "tiny": 0.0, "negz": -0.0,
        "big": 1.2345678901234568e29, "s": 'q"\\/\b\f\n\r\té😀€', "l": [], "o": {},
    }
    assert doc == expected
    for key in ("one", "tiny", "negz", "big"):
        assert type(doc[key]) is float, key
    assert type(doc["t"]) is bool and type(doc["u"]) is int


@pytest.mark.parametrize(
    "stored, text",
    [
        ("[" * 200 + "]" * 200, "recursion limit exceeded at line 1 column 128"),
        ('{"n":1e400}', "number out of range at line 1 column 10"),
        ('{"s":"\\ud800"}', "unexpected end of hex escape at line 1 column 13"),
        ('{"s":"\\udc00x"}', "lone leading surrogate in hex escape at line 1 column 12"),
        (b'{"s":"\xff"}', "invalid unicode code point at line 1 column 7"),
        (b"", "EOF while parsing a value at line 1 column 0"),
        ('{"a":1}\n{"b":2}', "trailing characters at line 2 column 1"),
        ('{"a":[1,]}', "trailing comma at line 1 column 9"),
        # A control character is read before it is refused: a line feed starts a new line.
        ('{"s":"a\nb"}',
         "control character (\\u0000-\\u001F) found while parsing a string at line 2 column 0"),
        # The four bytes of a \u escape are read before it is refused.
        ('{"s":"\\u12G4"}', "invalid escape at line 1 column 12"),
    ],
)
def test_parse_failures_carry_each_methods_message(stored_engine, stored, text):
    db = stored_engine({"d": stored}, index=[("k.v", "d")])
    for read, message in [
        (lambda: db.get("d"), "Json parsing error "),
        (lambda: db.get_many(["d"]), "Json parsing error "),
        (lambda: db.scan_prefix(""), "Json Parse Error "),
        (lambda: db.filter_by_metadata("k", "v"), "Json Parse Error "),
    ]:
        with pytest.raises(RuntimeError) as caught:
            read()
        assert str(caught.value) == message + text


@pytest.mark.parametrize("stored", ["null", "[1]", '"x"', "42", "true", " [] "])
def test_a_stored_value_that_is_not_an_object_fails_every_read(stored_engine, stored):
    db = stored_engine({"a": "{}", "d": stored}, index=[("k.v", "a"), ("k.v", "d")])
    for read in [
        lambda: db.get("d"),
        lambda: db.get_many(["a", "d"]),
        lambda: db.scan_prefix(""),
        lambda: db.filter_by_metadata("k", "v"),
    ]:
        with pytest.raises(RuntimeError, match=f"^{NOT_DICT}$"):
            read()


def test_every_read_builds_new_dicts(stored_engine):
    db = stored_engine({"a": '{"l":[1],"o":{"k":"v"}}'})
    first, missing, again = db.get_many(["a", "b", "a"])
    assert [first[0], missing, again[0]] == ["a", ("b", None), "a"]
    assert first[1] == again[1] and first[1] is not again[1]
    assert first[1]["l"] is not again[1]["l"]
    first[1]["l"].append(2)
    assert db.get("a") == {"l": [1], "o": {"k": "v"}}


def test_lists_of_many_documents_with_many_keys_decode_alike(stored_engine):
    # More distinct keys than a call keeps for reuse, some escaped, in changing orders.
    escaped_k = "\\u006b"
    docs = {}
    for n in range(150):
        keys = [f"key{(n * 7 + j) % 97:02d}" for j in range(40)]
        stored_keys = [k if j % 5 else escaped_k + k[1:] for j, k in enumerate(keys)]
        members = ",".join(
            f'"{stored}":{{"{k}":{j}}}' for j, (k, stored) in enumerate(zip(keys, stored_keys))
        )
        docs[f"doc{n:03d}"] = "{" + members + "}"
    db = stored_engine(docs)
    listed = db.scan_prefix("doc")
    assert [doc_id for doc_id, _ in listed] == sorted(docs)
    for doc_id, doc in listed:
        assert doc == db.get(doc_id)
        assert list(doc) == sorted(doc)
        assert all(list(inner) == [k] for k, inner in doc.items())
