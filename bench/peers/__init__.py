"""One adapter per store. Each offers the same operations:

    open(path), bulk_load(records, chunk), insert_each(records), get(id), get_many(ids),
    filter(key, value), scan_prefix(prefix), close(), name, files(path)

bulk_load and insert_each return once the data is durable and visible to readers.
"""
