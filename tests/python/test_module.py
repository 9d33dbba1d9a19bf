import importlib.util

import pytest

import quorvane


def test_all_and_docstring():
    assert quorvane.__all__ == ["DBEngine"]
    assert quorvane.__doc__ == ""


def test_class_properties(db_path):
    cls = quorvane.DBEngine
    assert cls.__module__ == "builtins"
    assert cls.__text_signature__ == "(path)"
    assert cls.close_engine.__text_signature__ == "($self)"
    with pytest.raises(TypeError, match="not an acceptable base type"):
        type("Sub", (cls,), {})
    db = cls(db_path)
    with pytest.raises(AttributeError):
        db.anything = 1
    with pytest.raises(TypeError):
        import weakref

        weakref.ref(db)
    db.close_engine()


def test_exec_appends_to_an_existing_all_list():
    spec = importlib.util.find_spec("quorvane")
    module = importlib.util.module_from_spec(spec)
    module.__all__ = ["before"]
    spec.loader.exec_module(module)
    assert module.__all__ == ["before", "DBEngine"]
    assert module.DBEngine is quorvane.DBEngine


def test_exec_refuses_an_all_that_is_not_a_list():
    spec = importlib.util.find_spec("quorvane")
    module = importlib.util.module_from_spec(spec)
    module.__all__ = ("not", "a", "list")
    with pytest.raises(TypeError):
        spec.loader.exec_module(module)
