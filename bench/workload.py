"""The documents and ids every store in the benchmark is given."""

import random

GROUPS = 100  # "group" takes one of 100 values: a filter on one matches 1 % of documents
BUCKETS = 100  # ids start with one of 100 bucket prefixes: a prefix scan matches 1 %


def doc_id(i: int) -> str:
    return f"b{i % BUCKETS:02d}:{i:08d}"


def make_document(i: int) -> dict:
    rng = random.Random(i)
    return {
        "name": f"user {i}",
        "email": f"user{i}@example.com",
        "age": 18 + i % 60,
        "group": f"g{i % GROUPS:02d}",
        "active": i % 3 != 0,
        "score": round(rng.random() * 1000, 3),
        "tags": [f"t{rng.randrange(50)}", f"t{rng.randrange(50)}", "common"],
        "address": {"street": f"{i % 997} Long Street", "zip": f"{10000 + i % 89999}",
                    "country": "NL"},
        "created": f"2026-{1 + i % 12:02d}-{1 + i % 28:02d}T10:00:00Z",
        "note": "x" * (20 + i % 40),
    }


def index_keys(node, path="", out=None):
    """The index keys the store derives: dotted path, '.', value text, per scalar leaf."""
    if out is None:
        out = []
    if isinstance(node, dict):
        for k, v in node.items():
            index_keys(v, k if not path else f"{path}.{k}", out)
    elif isinstance(node, list):
        for n, v in enumerate(node):
            index_keys(v, str(n) if not path else f"{path}.{n}", out)
    elif node is None:
        pass
    elif isinstance(node, bool):
        out.append(f"{path}.{'true' if node else 'false'}")
    elif isinstance(node, float):
        text = repr(node)
        if text.endswith(".0"):
            text = text[:-2]
        out.append(f"{path}.{text}")
    else:
        out.append(f"{path}.{node}")
    return out


def records(n: int, start: int = 0):
    return [(doc_id(i), make_document(i)) for i in range(start, start + n)]
