"""A short tour of quorvane on a temporary database."""

import os
import tempfile

import quorvane


def main() -> None:
    with tempfile.TemporaryDirectory() as directory:
        path = os.path.join(directory, "demo.db")
        db = quorvane.DBEngine(path)
        print(f"opened {path}")

        db.insert("user:1", {"name": "Ada", "city": "London", "tags": ["math", "engines"]})
        db.insert("user:2", {"name": "Grace", "city": "New York", "rank": 2.0})
        db.insert_many([(f"user:{n}", {"name": f"guest {n}", "city": "London"}) for n in range(3, 6)])
        db.insert_json("note:1", '{"text": "stored byte for byte", "by": "user:1"}')
        db.upsert("user:2", {"name": "Grace", "city": "Arlington", "rank": 1})
        db.delete("user:5")

        # Writes are applied in the background; close_engine waits until they are committed.
        db.close_engine()

        print("get user:1        ", db.get("user:1"))
        print("get_many          ", db.get_many(["user:2", "missing"]))
        print("scan_prefix user: ", [id_ for id_, _ in db.scan_prefix("user:")])
        print("city is London    ", [id_ for id_, _ in db.filter_by_metadata("city", "London")])
        print("tags.0 is math    ", [id_ for id_, _ in db.filter_by_metadata("tags.0", "math")])
        del db  # releases the file's lock

        # DBEngineWebServer: every write goes through a write-ahead log first; bulk inserts
        # are best effort and hand back the records they refuse.
        with quorvane.DBEngineWebServer(path, enable_logging=True) as server:
            refused = server.insert_many([
                ("user:6", {"name": "Edsger", "city": "London"}),
                ("user:7", {"name": "bad", "photo": b"\x89PNG"}),  # bytes are not JSON
                ("user:8", {"name": "Barbara", "city": "London"}),
            ])
            print("refused           ", [(id_, message) for id_, _, message in refused])
        # Leaving the with-block waits until everything queued is committed.
        london = [id_ for id_, _ in server.filter_by_metadata("city", "London", None, None)]
        print("city is London    ", london)
        print("two per page      ",
              [[id_ for id_, _ in server.filter_by_metadata("city", "London", 2, offset)]
               for offset in range(0, len(london), 2)])
        with open(path + ".jsonl", encoding="utf-8") as log:
            print("activity log      ", len(log.readlines()), "lines")
        del server
        print("closed")


if __name__ == "__main__":
    main()
