"""An embedded, persistent store of JSON documents in one SQLite database file, with a
secondary index of every scalar value by its dotted path."""

from collections.abc import Sequence
from typing import Any, Literal, SupportsIndex, final

__all__ = ["DBEngine", "DBEngineWebServer"]

# A document as the store takes it: a dict with str keys whose values are what the encoder
# converts (None, bool, int, float, str, lists, tuples, dicts, mappings, dataclasses).
_Payload = dict[str, Any]
# A document as the store gives it back: a new dict of JSON values (None, bool, int, float,
# str, list, dict).
_Document = dict[str, Any]

@final
class DBEngine:
    """A store of JSON documents with one background thread that applies the writes in
    batches; writes are queued and return at once, reads see what is committed."""

    def __init__(self, path: str) -> None:
        """Opens the store in the file at path (created when missing) and locks the file."""
    def close_engine(self) -> None:
        """Stops the background thread once the writes queued before it are applied; reads
        go on working, writes are refused."""
    def insert(self, id: str, payload: _Payload) -> None:
        """Queues storing payload under id, replacing a stored document."""
    def insert_json(self, id: str, json_payload: str) -> None:
        """Queues storing the JSON text json_payload under id, after validating it."""
    def insert_many(self, records: Sequence[tuple[str, _Payload]]) -> None:
        """Queues one insert per (id, payload) record, in order, until one fails to encode."""
    def insert_many_json(self, records: Sequence[tuple[str, str]]) -> None:
        """Queues one insert per (id, JSON text) record, in order, until one fails to
        validate."""
    def get(self, id: str) -> _Document | None:
        """The document stored under id, or None when there is none."""
    def get_many(self, ids: Sequence[str]) -> list[tuple[str, _Document | None]]:
        """(id, document or None) for each of ids, in their order (a str is refused)."""
    def delete(self, id: str) -> None:
        """Queues removing the document stored under id."""
    def scan_prefix(self, prefix: str) -> list[tuple[str, _Document]]:
        """(id, document) for every id that starts with prefix, in ascending id order."""
    def upsert(self, id: str, payload: _Payload) -> None:
        """Queues storing payload under id, dropping the replaced version's index entries."""
    def filter_by_metadata(self, index_key: str, index_value: str) -> list[tuple[str, _Document]]:
        """(id, document) for every id indexed under index_key + "." + index_value (a dotted
        path and the scalar at it), in ascending id order."""

@final
class DBEngineWebServer:
    """A store of JSON documents that writes every queued write to a write-ahead log
    (path.wal) before applying it, with an optional activity log (path.jsonl) and backups on
    request or on a schedule; a context manager that closes it on exit."""

    def __init__(
        self,
        path: str,
        backup_time: str | None = None,
        backup_dir: str | None = None,
        enable_logging: bool = False,
    ) -> None:
        """Opens the store at path, replays its write-ahead log and starts the writers; with
        both backup_time ("HH:MM") and backup_dir, backs the store up into backup_dir on a
        schedule from that time of day; enable_logging records the writes in path.jsonl."""
    def __enter__(self) -> DBEngineWebServer:
        """Returns the instance itself."""
    def __exit__(self, _exc_type: object, _exc_value: object, _traceback: object) -> Literal[False]:
        """Closes the instance as close_engine does; an exception of the block propagates."""
    def close_engine(self) -> None:
        """Stops the background threads once the writes queued before it are handled; reads
        go on working, writes are refused."""
    @property
    def queue_size(self) -> int:
        """The number of operations waiting in the queues or being applied."""
    def insert(self, id: str, payload: _Payload) -> None:
        """Queues storing payload under id, replacing a stored document."""
    def insert_json(self, id: str, json_payload: str) -> None:
        """Queues storing the JSON text json_payload under id, after validating it."""
    def insert_many(
        self, records: Sequence[tuple[str, _Payload]]
    ) -> list[tuple[str, _Payload, str]] | None:
        """Queues every (id, payload) record that encodes; None when all did, else
        (id, payload, message) for each one refused."""
    def insert_many_json(
        self, records: Sequence[tuple[str, str]]
    ) -> list[tuple[str, str, str]] | None:
        """Queues every (id, JSON text) record that validates; None when all did, else
        (id, JSON text, message) for each one refused."""
    def get(self, id: str) -> _Document | None:
        """The document stored under id, or None when there is none."""
    def get_many(self, ids: Sequence[str]) -> list[tuple[str, _Document | None]]:
        """(id, document or None) for each of ids, in their order (a str is refused)."""
    def delete(self, id: str) -> None:
        """Queues removing the document stored under id."""
    def scan_prefix(self, prefix: str) -> list[tuple[str, _Document]]:
        """(id, document) for every id that starts with prefix, in ascending id order."""
    def upsert(self, id: str, payload: _Payload) -> None:
        """Queues storing payload under id, dropping the replaced version's index entries."""
    def filter_by_metadata(
        self,
        index_key: str,
        index_value: str,
        limit: SupportsIndex | None,
        offset: SupportsIndex | None,
    ) -> list[tuple[str, _Document]]:
        """(id, document) for the ids indexed under index_key + "." + index_value, in
        ascending id order, paged over the index entries: limit entries (None: all) from
        position offset (None: 0)."""
    def trigger_backup(self, target_path: str) -> None:
        """Queues a backup of the store into a database file at target_path, taken once the
        writes queued before it are committed."""
