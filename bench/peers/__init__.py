"""One adapter per store. Each offers the same operations:

    open(path), bulk_load(records, chunk), insert_each(records), insert_batched(records),
    get(id), get_many(ids), filter(key, value), scan_prefix(prefix), close(), name, files(path)

bulk_load, insert_each and insert_batched return once the data is committed and visible to
readers. insert_each makes one insert call per record as an application would, each committed
on its own where the store commits per call; insert_batched makes the same calls inside one
transaction (where the store has one), so that a store that commits per call is also measured
the way a careful user would batch it.
"""
