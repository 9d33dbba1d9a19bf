import importlib.util
import weakref

import pytest

import quorvane
from conftest import SERVER

CLASS_SIGNATURES = [
    (quorvane.DBEngine, "(path)"),
    (
        quorvane.DBEngineWebServer,
        "(path, backup_time=None, backup_dir=None, enable_logging=False)",
    ),
]


def test_all_and_docstring():
    assert quorvane.__all__ == ["DBEngine", "DBEngineWebServer"]
    assert quorvane.__doc__ == ""


@pytest.mark.parametrize("cls,signature", CLASS_SIGNATURES, ids=lambda v: getattr(v, "__name__", ""))
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


def test_method_signatures(class_name):
    signatures = {
        "insert": "($self, id, payload)", "upsert": "($self, id, payload)",
        "delete": "($self, id)", "insert_json": "($self, id, json_payload)",
        "insert_many": "($self, records)", "insert_many_json": "($self, records)",
        "get": "($self, id)", "get_many": "($self, ids)", "scan_prefix": "($self, prefix)",
        "filter_by_metadata": "($self, index_key, index_value)",
    }
    if class_name == SERVER:
        signatures.update({
            "filter_by_metadata": "($self, index_key, index_value, limit, offset)",
            "trigger_backup": "($self, target_path)",
        })
    cls = getattr(quorvane, class_name)
    for name, signature in signatures.items():
        assert getattr(cls, name).__text_signature__ == signature, name


SHARED_METHODS = [
    ("insert", "($self, id, payload)"),
    ("insert_json", "($self, id, json_payload)"),
    ("insert_many", "($self, records)"),
    ("insert_many_json", "($self, records)"),
    ("get", "($self, id)"),
    ("get_many", "($self, ids)"),
    ("delete", "($self, id)"),
    ("scan_prefix", "($self, prefix)"),
    ("upsert", "($self, id, payload)"),
]

METHOD_TABLES = [
    (quorvane.DBEngine,
     [("close_engine", "($self)"), *SHARED_METHODS,
      ("filter_by_metadata", "($self, index_key, index_value)")]),
    (quorvane.DBEngineWebServer,
     [("close_engine", "($self)"), *SHARED_METHODS,
      ("filter_by_metadata", "($self, index_key, index_value, limit, offset)"),
      ("trigger_backup", "($self, target_path)"),
      ("__enter__", "($self)"),
      ("__exit__", "($self, _exc_type, _exc_value, _traceback)")]),
]


@pytest.mark.parametrize("cls,table", METHOD_TABLES, ids=lambda v: getattr(v, "__name__", ""))
def test_method_table_order_and_text_signatures(cls, table):
    methods = [(name, value) for name, value in cls.__dict__.items()
               if type(value).__name__ == "method_descriptor"]
    assert [(name, m.__text_signature__) for name, m in methods] == table
    # The docstrings hold the signature and nothing else.
    assert all(m.__doc__ is None for _, m in methods)


def test_exec_appends_to_an_existing_all_list():
    spec = importlib.util.find_spec("quorvane")
    module = importlib.util.module_from_spec(spec)
    module.__all__ = ["before"]
    spec.loader.exec_module(module)
    assert module.__all__ == ["before", "DBEngine", "DBEngineWebServer"]
    assert module.DBEngine is quorvane.DBEngine
    assert module.DBEngineWebServer is quorvane.DBEngineWebServer


@pytest.mark.parametrize("all_names,message", [
    (("not", "a", "list"), "'tuple' object is not an instance of 'list'"),
    ("DBEngine", "'str' object is not an instance of 'list'"),
    (None, "'None' is not an instance of 'list'"),
])
def test_exec_refuses_an_all_that_is_not_a_list(all_names, message):
    spec = importlib.util.find_spec("quorvane")
    module = importlib.util.module_from_spec(spec)
    module.__all__ = all_names
    with pytest.raises(TypeError) as raised:
        spec.loader.exec_module(module)
    assert str(raised.value) == message
