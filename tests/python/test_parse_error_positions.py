"""Where the strict JSON grammar's error texts point: the validation of the JSON inserts of both
classes, and the strict parser of the reads that use it."""
import pytest

import quorvane

CONTROL = "control character (\\u0000-\\u001F) found while parsing a string"


@pytest.fixture(params=["DBEngine", "DBEngineWebServer"])
def engine(request, db_path):
    instance = getattr(quorvane, request.param)(db_path)
    yield instance
    instance.close_engine()


# A control character is not read: it is reported at the byte before it, and a line feed there
# starts no new line. Any other fault at a line feed is reported once it is read: column 0 of
# the next line.
@pytest.mark.parametrize("text, error", [
    ('["\t"]', CONTROL + " at line 1 column 2"),
    ('["a\x00"]', CONTROL + " at line 1 column 3"),
    ('["new\nline"]', CONTROL + " at line 1 column 5"),
    ('["\\n\t"]', CONTROL + " at line 1 column 4"),
    ('["\\u00e9\x1f"]', CONTROL + " at line 1 column 8"),
    ('{"a\tb":1}', CONTROL + " at line 1 column 3"),
    ('[1,\n"x\ty"]', CONTROL + " at line 2 column 2"),
    ("[tru\n]", "expected ident at line 2 column 0"),
    ('["\\\n"]', "invalid escape at line 2 column 0"),
    ('["\\u123\n"]', "invalid escape at line 2 column 0"),
    ("[1.\n]", "invalid number at line 2 column 0"),
    ("[-\n1]", "invalid number at line 2 column 0"),
])
def test_validation_texts(engine, text, error):
    with pytest.raises(RuntimeError) as info:
        engine.insert_json("x", text)
    assert str(info.value) == "Validation error at x." + error
    if isinstance(engine, quorvane.DBEngineWebServer):
        assert engine.insert_many_json([("x", text)]) == [
            ("x", text, "Invalid JSON structure " + error)]
    else:
        with pytest.raises(RuntimeError) as info:
            engine.insert_many_json([("x", text)])
        assert str(info.value) == "Invalid json in payload for id x." + error


@pytest.mark.parametrize("stored, error", [
    ('{"s":"a\nb"}', CONTROL + " at line 2 column 0"),
])
def test_server_metadata_filter_reads_with_the_strict_parser(stored_server, stored, error):
    db = stored_server({"d": stored}, index=[("k.v", "d")])
    with pytest.raises(RuntimeError) as info:
        db.filter_by_metadata("k", "v", None, None)
    assert str(info.value) == "Json Parse Error " + error
