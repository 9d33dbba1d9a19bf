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
        print("closed")


if __name__ == "__main__":
    main()
