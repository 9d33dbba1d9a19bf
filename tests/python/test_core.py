"""What both classes share in opening a store, run once per class: the error of a missing
directory, a relative path that names one file for an instance's whole life, and tables of
another shape."""

import gc
import os
import sqlite3

import pytest

import quorvane


def test_a_missing_directory_is_the_stores_error(tmp_path, class_name):
    with pytest.raises(RuntimeError) as info:
        getattr(quorvane, class_name)(os.path.join(str(tmp_path), "missing", "store.db"))
    assert str(info.value) == "No such file or directory"


def test_a_relative_path_names_one_file_for_the_instances_whole_life(tmp_path, monkeypatch,
                                                                       class_name):
    here, elsewhere = tmp_path / "here", tmp_path / "elsewhere"
    here.mkdir()
    elsewhere.mkdir()
    monkeypatch.chdir(elsewhere)
    other = quorvane.DBEngine("a.db")
    other.insert("k", {"where": "elsewhere"})
    other.close_engine()
    del other
    gc.collect()

    monkeypatch.chdir(here)
    db = getattr(quorvane, class_name)("a.db")
    db.insert("k", {"where": "here"})
    db.close_engine()
    # Later reads open connections of their own: they still reach the file opened above.
    monkeypatch.chdir(elsewhere)
    assert db.get("k") == {"where": "here"}
    assert db.scan_prefix("") == [("k", {"where": "here"})]


def test_tables_of_another_shape_fail_construction(db_path, class_name):
    con = sqlite3.connect(db_path)
    con.execute("CREATE TABLE documents (id INTEGER PRIMARY KEY, body TEXT)")
    con.commit()
    con.close()
    with pytest.raises(RuntimeError) as info:
        getattr(quorvane, class_name)(db_path)
    assert "doc" in str(info.value)
