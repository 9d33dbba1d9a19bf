import importlib.util
import weakref

import pytest

import quorvane

CLASSES = [
    (quorvane.DBEngine, "(path)"),
    (
        quorvane.DBEngineWebServer,
        "(path, backup_time=None, backup_dir=None, enable_logging=False)",
    ),
]


def test_all_and_docstring():
    assert quorvane.__all__ == ["DBEngine", "DBEngineWebServer"]
    assert quorvane.__doc__ == ""


@pytest.mark.parametrize("cls,signature", CLASSES, ids=lambda v: getattr(v, "__name__", ""))
def test_class_properties(db_path, cls, signature):
    assert cls.__module__ == "builtins"
    assert cls.__text_signature__ == signature
    assert cls.close_engine.__text_signature__ == "($self)"
    with pytest.raises(TypeError, match="not an acceptable base type"):
        type("Sub", (cls,), {})
    db = cls(db_path)
    with pytest.raises(AttributeError):
        db.anything = 1
    with pytest.raises(TypeError):
        weakref.ref(db)
    db.close_engine()


def test_exec_appends_to_an_existing_all_list():
    spec = importlib.util.find_spec("quorvane")
    module = importlib.util.module_from_spec(spec)
    module.__all__ = ["before"]
    spec.loader.exec_module(module)
    assert module.__all__ == ["before", "DBEngine", "DBEngineWebServer"]
    assert module.DBEngine is quorvane.DBEngine
    assert module.DBEngineWebServer is quorvane.DBEngineWebServer


def test_exec_refuses_an_all_that_is_not_a_list():
    spec = importlib.util.find_spec("quorvane")
    module = importlib.util.module_from_spec(spec)
    module.__all__ = ("not", "a", "list")
    with pytest.raises(TypeError):
        spec.loader.exec_module(module)
