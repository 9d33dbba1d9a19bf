"""Misuses of the module that its type information must catch: the type check expects an
error on every line marked "# E: <part of its message>" (one marker per error) and on no
other line. Never run."""
from typing import Any

import quorvane

db = quorvane.DBEngine("store.db")
server = quorvane.DBEngineWebServer("server.db")

# Constructors
quorvane.DBEngine()  # E: Missing positional argument "path"
quorvane.DBEngine(path=None)  # E: incompatible type "None"; expected "str"
quorvane.DBEngine("a.db", enable_logging=True)  # E: Unexpected keyword argument "enable_logging"
quorvane.DBEngineWebServer("a.db", "9:00", None, "yes")  # E: type "str"; expected "bool"
quorvane.DBEngineWebServer("a.db", backup_dir=b"d")  # E: "bytes"; expected "Optional[str]"


class Store(quorvane.DBEngine):  # E: Cannot inherit from final class "DBEngine"
    pass


# Arguments of the methods
db.get(1)  # E: incompatible type "int"; expected "str"
db.get(ident="a")  # E: Unexpected keyword argument "ident"
db.get("a", "b")  # E: Too many arguments for "get" of "DBEngine"
db.insert("a")  # E: Missing positional argument "payload"
db.insert("a", [1, 2])  # E: incompatible type "List[int]"; expected "Dict[str, Any]"
db.insert("a", {1: "one"})  # E: Dict entry 0 has incompatible type "int": "str"
db.upsert(id="a", document={})  # E: Unexpected keyword argument "document"
db.insert_json("a", {"n": 1})  # E: incompatible type "Dict[str, int]"; expected "str"
db.insert_many([["a", {}]])  # E: expected "Tuple[str, Dict[str, Any]]"
db.insert_many_json([("a", {})])  # E: expected "Tuple[str, str]"
db.get_many({"a", "b"})  # E: incompatible type "Set[str]"; expected "Sequence[str]"
db.delete(None)  # E: incompatible type "None"; expected "str"
db.scan_prefix(b"a")  # E: incompatible type "bytes"; expected "str"
db.filter_by_metadata("k", 1)  # E: incompatible type "int"; expected "str"
db.filter_by_metadata("k", "v", 10, 0)  # E: Too many arguments for "filter_by_metadata"
db.close_engine(True)  # E: Too many arguments for "close_engine" of "DBEngine"
server.filter_by_metadata("k", "v")  # E: Missing positional arguments "limit", "offset"
server.filter_by_metadata("k", "v", 1.5, None)  # E: "float"; expected "Optional[SupportsIndex]"
server.trigger_backup(None)  # E: incompatible type "None"; expected "str"
server.__exit__(None, None)  # E: Too few arguments for "__exit__"

# What each class does not have
db.trigger_backup("backup.db")  # E: "DBEngine" has no attribute "trigger_backup"
print(db.queue_size)  # E: "DBEngine" has no attribute "queue_size"
with quorvane.DBEngine("o.db") as other:  # E: no attribute "__enter__" # E: no attribute "__exit__"
    pass
db.path = "elsewhere.db"  # E: "DBEngine" has no attribute "path"
server.queue_size = 0  # E: Property "queue_size" defined in "DBEngineWebServer" is read-only

# Results
queued = db.insert("a", {})  # E: "insert" of "DBEngine" does not return a value
closed = server.close_engine()  # E: "close_engine" of "DBEngineWebServer" does not return a value
document: dict[str, Any] = db.get("a")  # E: expression has type "Optional[Dict[str, Any]]"
first_document: dict[str, Any] = db.get_many(["a"])[0][1]  # E: has type "Optional[Dict[str, Any]]"
document_id: int = db.scan_prefix("")[0][0]  # E: expression has type "str", variable has type "int"
for refused_id, refused_payload, message in server.insert_many([]):  # E: Item "None" of "Optional[
    pass
server.insert_many_json([])[0]  # E: "Optional[List[Tuple[str, str, str]]]" is not indexable
size: str = server.queue_size  # E: expression has type "int", variable has type "str"
