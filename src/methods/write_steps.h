// The steps of a write method that both classes share: the worker-alive test, preparing a
// payload (encoding a dict or validating a JSON text, then checking that the document fits
// one store record) and raising a failed send. Each method keeps its own message texts; the
// texts shared by the single-record methods of both classes are here.
//
// Everything here runs with the GIL held except check_json_payload(), which touches no
// Python object.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "binding/python.h"
#include "document/doc_bytes.h"

namespace quorvane::methods {

inline constexpr const char* kWorkerCrashedMessage = "Background write worker has crashed!";

// The message of a refused record: `pattern` holds a "{}" for the id first when `names_id`,
// then a "{}" for the failure's own text.
struct RefusalMessage {
  const char* pattern;
  bool names_id;

  std::string format(std::string_view id, std::string_view text) const;
};

// A dict that cannot be turned into a document, in insert and upsert of both classes.
inline constexpr RefusalMessage kSingleEncodeMessage{
    "Error converting dict to Rust bytes for {}.{}", true};
// insert_json, in both classes.
inline constexpr RefusalMessage kSingleValidationMessage{"Validation error at {}.{}", true};

// The send failure of the single-record methods and trigger_backup; the bulk inserts of
// DBEngineWebServer have texts of their own.
inline constexpr const char* kSendFailedPattern = "Write queue full or closed. {}";

// False, with RuntimeError "Background write worker has crashed!" set, when `alive` is false.
bool worker_running(bool alive);

// Encodes `dict` into `out`. nullopt when the document is ready to be queued under `id`;
// otherwise the refusal: `message` with the encoder's text, or the message for a document
// that one store record cannot hold with its id. No exception is left pending either way,
// but for an interrupted conversion (see encode_document): the refusal is then empty and the
// pending exception is what the call ends with (interrupted()).
std::optional<std::string> encode_payload(PyObject* dict, std::string_view id,
                                          const RefusalMessage& message, document::DocBytes& out);

// Validates `text` as one JSON value and checks that it fits one store record with `id`:
// nullopt, or the refusal (`message` with the parser's text, or the record size message).
std::optional<std::string> check_json_payload(std::string_view text, std::string_view id,
                                              const RefusalMessage& message);

// True when the conversion of a payload was interrupted: an exception is pending.
inline bool interrupted() { return PyErr_Occurred() != nullptr; }

// True when there is no refusal; otherwise raises it as RuntimeError (unless an exception is
// pending already: interrupted()) and returns false.
bool accept_or_raise(const std::optional<std::string>& refusal);

// Sets RuntimeError `pattern` filled with the queue's error text
// "sending on a disconnected channel".
void raise_send_failure(const char* pattern);

}  // namespace quorvane::methods
