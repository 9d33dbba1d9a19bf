"""A short tour of quorvane on a temporary database."""

import os
import tempfile

import quorvane


def main() -> None:
    with tempfile.TemporaryDirectory() as directory:
        path = os.path.join(directory, "demo.db")
        db = quorvane.DBEngine(path)
        print(f"opened {path}")
        db.close_engine()
        print("closed")


if __name__ == "__main__":
    main()
