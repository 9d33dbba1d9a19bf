"""Where the strict JSON grammar's error texts point: the validation of the JSON inserts of both
classes, and the strict parser of the reads that use it."""
import pytest

import quorvane

CONTROL = "control character (\\u0000-\\u001F) found while parsing a string"


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
def test_validation_texts(instance, text, error):
    with pytest.raises(RuntimeError) as info:
        instance.insert_json("x", text)
    assert str(info.value) == "Validation error at x." + error
    if isinstance(instance, quorvane.DBEngineWebServer):
        assert instance.insert_many_json([("x", text)]) == [
            ("x", text, "Invalid JSON structure " + error)]
    else:
        with pytest.raises(RuntimeError) as info:
            instance.insert_many_json([("x", text)])
        assert str(info.value) == "Invalid json in payload for id x." + error


# An exponent is read into 32 bits: a positive one of a number that is not zero is out of range
# at the digit that takes it past 2^31-1, which validation does not look at.
@pytest.mark.parametrize("text, error", [
    ("[0.4e0066" + "9" * 127 + "]", "at line 1 column 17"),
    ("[1e214748364800]", "at line 1 column 13"),
    ("[1e214748364700]", "at line 1 column 14"),
    ("[1e0000021474836480]", "at line 1 column 18"),
    ('{"n":-2E+99999999999}', "at line 1 column 19"),
    ("[123456789012345678901234567890e99999999999]", "at line 1 column 42"),
    ("[0.00000000000000000000000000001234567890123456789e+30000000000]", "at line 1 column 62"),
    ('{"a":\n  1e99999999999}', "at line 2 column 14"),
])
def test_decoding_texts_of_documents_stored_as_text(db_path, text, error):
    db = quorvane.DBEngine(db_path)
    db.insert_json("d", text)
    db.close_engine()
    text = "number out of range " + error
    for read, message in [
        (lambda: db.get("d"), "Json parsing error "),
        (lambda: db.get_many(["d"]), "Json parsing error "),
        (lambda: db.scan_prefix("d"), "Json Parse Error "),
    ]:
        with pytest.raises(RuntimeError) as info:
            read()
        assert str(info.value) == message + text


@pytest.mark.parametrize("stored, error", [
    ('{"n":1e99999999999}', "number out of range at line 1 column 17"),
    ('{"s":"a\nb"}', CONTROL + " at line 2 column 0"),
])
def test_server_metadata_filter_reads_with_the_strict_parser(stored_server, stored, error):
    db = stored_server({"d": stored}, index=[("k.v", "d")])
    with pytest.raises(RuntimeError) as info:
        db.filter_by_metadata("k", "v", None, None)
    assert str(info.value) == "Json Parse Error " + error
