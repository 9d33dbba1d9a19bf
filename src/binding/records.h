// The sequence parameters of both classes, converted as a whole before a method does anything
// else: `ids` (a sequence of str) and the `records` of the bulk inserts (a sequence of
// (str, dict) or (str, str) tuples).
//
// Each converter follows the same rules: a str is refused with TypeError
// "Can't extract `str` to `Vec`"; any other object must pass the interpreter's sequence check
// (else the type-check TypeError for 'Sequence'); len() is asked once to size the list; the
// object is iterated; each record must be a tuple (or subclass) of exactly two items (TypeError
// for 'tuple', or ValueError "expected tuple of length 2, but got tuple of length <n>"); ids
// and texts must be str (or subclass) and are taken as UTF-8, payloads must be dict (or
// subclass). The first failure ends the conversion with that exception, noted
// "while processing '<parameter>'", and the converter returns false with `out` unspecified.
#pragma once

#include <string>
#include <vector>

#include "binding/py_ref.h"
#include "binding/python.h"
#include "document/doc_bytes.h"

namespace quorvane::binding {

bool extract_ids(PyObject* obj, const char* parameter, std::vector<std::string>& out);

struct DictRecord {
  std::string id;
  PyRef dict;  // the caller's own dict, not a copy; released (with the GIL) with the record
};

bool extract_dict_records(PyObject* obj, const char* parameter, std::vector<DictRecord>& out);

// Holds no Python object, so records may be validated, sent and released without the GIL.
struct JsonRecord {
  std::string id;
  document::DocBytes text;  // the caller's JSON text, byte for byte
};

bool extract_json_records(PyObject* obj, const char* parameter, std::vector<JsonRecord>& out);

}  // namespace quorvane::binding
