// encode_document: a Python dict (or another mapping) converted into the stored document,
// compact JSON with the keys of every object in ascending byte order, written straight into
// one buffer (no intermediate tree). Runs with the GIL held.
//
// The conversion follows the table of accepted Python values in its order of tests, so that
// the first refusal reported is the one a caller expects; its texts (for example
// "JSON number out of range", "unsupported type datetime") are the conversion failure's text.
// Nesting deeper than 127 arrays and objects is refused as a conversion failure as well, which
// also ends a value that contains itself.
#pragma once

#include <string>

#include "binding/python.h"
#include "document/doc_bytes.h"

namespace quorvane::document::python {

// On success fills `out` (padded, see DocBytes) and returns true. On failure returns false
// with the conversion's text in `failure` and no Python exception pending; or, when Python
// code the conversion ran raised an exception that is not an Exception (a KeyboardInterrupt
// or SystemExit from a signal handler), with that exception pending and `failure` empty.
bool encode_document(PyObject* payload, DocBytes& out, std::string& failure);

}  // namespace quorvane::document::python
