#include "methods/write_steps.h"

#include "binding/errors.h"
#include "channel/channel.h"
#include "document/python/encoder.h"
#include "document/validator.h"
#include "methods/record_size.h"
#include "util/format.h"

namespace quorvane::methods {

std::string RefusalMessage::format(std::string_view id, std::string_view text) const {
  return names_id ? format_message(pattern, {id, text}) : format_message(pattern, {text});
}

bool worker_running(bool alive) {
  if (alive) return true;
  binding::raise_runtime_error(kWorkerCrashedMessage);
  return false;
}

std::optional<std::string> encode_payload(PyObject* dict, std::string_view id,
                                          const RefusalMessage& message, document::DocBytes& out) {
  std::string failure;
  if (!document::python::encode_document(dict, out, failure)) {
    if (interrupted()) return std::string();
    return message.format(id, failure);
  }
  return record_size_refusal(id, out.size());
}

std::optional<std::string> check_json_payload(std::string_view text, std::string_view id,
                                              const RefusalMessage& message) {
  if (std::optional<std::string> error = document::validate_json(text)) {
    return message.format(id, *error);
  }
  return record_size_refusal(id, text.size());
}

bool accept_or_raise(const std::optional<std::string>& refusal) {
  if (!refusal) return true;
  if (!interrupted()) binding::raise_runtime_error(*refusal);
  return false;
}

void raise_send_failure(const char* pattern) {
  binding::raise_runtime_error(format_message(pattern, {channel::kDisconnectedText}));
}

}  // namespace quorvane::methods
