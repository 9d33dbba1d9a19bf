// DBEngineWebServer's bulk inserts. The single-record writes are shared with DBEngine
// (methods/single_writes.h); once their operation is queued they offer one activity log entry
// without waiting (WebServerClass::log_written).
//
// The bulk inserts are best effort: a record that cannot be encoded or validated (or is too
// large for one store record) does not fail the call but is handed back, with its message,
// in a list of (id, dict or JSON text, message) tuples, while the others are queued in their
// order. insert_many encodes with the GIL held, then sends with it released (send_batch);
// insert_many_json also validates without it (send_json_batch). Both send on a sending end of
// their own, so nothing of the instance is touched while the GIL is released; the shared
// borrow keeps close_engine out meanwhile. When every operation was queued, one log entry
// lists the accepted ids (auto_log_batch).
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "binding/gil.h"
#include "binding/py_ref.h"
#include "binding/records.h"
#include "channel/channel.h"
#include "db_engine_web_server/activity_log/log_op.h"
#include "db_engine_web_server/db_engine_web_server_class.h"
#include "db_engine_web_server/write_op.h"
#include "methods/write_steps.h"

namespace quorvane::db_engine_web_server {

namespace {

constexpr methods::RefusalMessage kBulkEncodeMessage{"Python dict parsing error {}", false};
constexpr methods::RefusalMessage kBulkValidationMessage{"Invalid JSON structure {}", false};
constexpr const char* kInsertManySendFailed = "Write queue is full or closed. {}";
constexpr const char* kInsertManyJsonSendFailed = "Write queue is full or closed {}";

// Sends `ops` in order, each with a blocking send that waits while the queue is full, and
// stops at the first send that fails (the queue's receiver has gone): that operation and the
// later ones are dropped, the earlier ones stay queued. False when a send failed. Runs with the
// GIL released; the sending end and the operations are released before it returns.
bool send_batch(channel::Sender<WriteOp> queue, std::vector<WriteOp> ops) {
  for (WriteOp& op : ops) {
    if (!queue.send(std::move(op))) return false;
  }
  return true;
}

struct RefusedText {
  std::string id;
  document::DocBytes text;
  std::string message;
};

struct JsonBatchOutcome {
  bool sent = true;
  std::vector<std::string> accepted_ids;  // kept only when they will be logged
  std::vector<RefusedText> refused;
};

// Validates every record, then sends the accepted ones as send_batch does. Touches no Python
// object: runs with the GIL released.
JsonBatchOutcome send_json_batch(channel::Sender<WriteOp> queue,
                                 std::vector<binding::JsonRecord> records, bool keep_ids) {
  JsonBatchOutcome outcome;
  std::vector<WriteOp> prepared;
  prepared.reserve(records.size());
  if (keep_ids) outcome.accepted_ids.reserve(records.size());
  for (binding::JsonRecord& record : records) {
    if (std::optional<std::string> refusal =
            methods::check_json_payload(record.text.view(), record.id, kBulkValidationMessage)) {
      outcome.refused.push_back(
          RefusedText{std::move(record.id), std::move(record.text), std::move(*refusal)});
      continue;
    }
    if (keep_ids) outcome.accepted_ids.push_back(record.id);
    prepared.push_back(WriteOp::insert(std::move(record.id), std::move(record.text)));
  }
  outcome.sent = send_batch(std::move(queue), std::move(prepared));
  return outcome;
}

// Offers one LogOp::Batch of the accepted ids when logging is on and there are any; lost when
// the log queue is full or its writer has gone.
void auto_log_batch(DBEngineWebServer& server, std::vector<std::string> accepted_ids) {
  if (server.enable_logging() && !accepted_ids.empty()) {
    server.offer_log(
        activity_log::LogOp::batch(activity_log::kInsertAction, std::move(accepted_ids)));
  }
}

binding::PyRef new_str(std::string_view text) {
  return binding::PyRef::steal(
      PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "replace"));
}

// The result of a bulk insert: None when nothing was refused, else a new list of
// (id, value, message) tuples in record order; `value(refused)` gives each tuple's second item.
template <class Refused, class Value>
PyObject* refusals_or_none(std::vector<Refused>& refused, Value&& value) {
  if (refused.empty()) Py_RETURN_NONE;
  binding::PyRef list = binding::PyRef::steal(PyList_New(static_cast<Py_ssize_t>(refused.size())));
  if (!list) return nullptr;
  for (size_t i = 0; i < refused.size(); ++i) {
    binding::PyRef id = new_str(refused[i].id);
    if (!id) return nullptr;
    binding::PyRef second = value(refused[i]);
    if (!second) return nullptr;
    binding::PyRef message = new_str(refused[i].message);
    if (!message) return nullptr;
    PyObject* tuple = PyTuple_Pack(3, id.get(), second.get(), message.get());
    if (!tuple) return nullptr;
    PyList_SetItem(list.get(), static_cast<Py_ssize_t>(i), tuple);
  }
  return list.release();
}

struct RefusedDict {
  std::string id;
  binding::PyRef dict;  // the caller's own object
  std::string message;
};

}  // namespace

PyObject* WebServerClass::InsertMany::call(DBEngineWebServerObject& self,
                                           const binding::Arguments<1>& args) {
  std::vector<binding::DictRecord> records;
  if (!binding::extract_dict_records(args[0], "records", records)) return nullptr;
  DBEngineWebServer& server = self.engine;
  if (!methods::worker_running(server.worker_alive())) return nullptr;

  const bool keep_ids = server.enable_logging();
  std::vector<WriteOp> prepared;
  prepared.reserve(records.size());
  std::vector<std::string> accepted_ids;
  if (keep_ids) accepted_ids.reserve(records.size());
  std::vector<RefusedDict> refused;
  for (binding::DictRecord& record : records) {
    document::DocBytes doc;
    if (std::optional<std::string> refusal =
            methods::encode_payload(record.dict.get(), record.id, kBulkEncodeMessage, doc)) {
      refused.push_back(
          RefusedDict{std::move(record.id), std::move(record.dict), std::move(*refusal)});
      continue;
    }
    if (keep_ids) accepted_ids.push_back(record.id);
    prepared.push_back(WriteOp::insert(std::move(record.id), std::move(doc)));
    record.dict = binding::PyRef();
  }
  records.clear();

  channel::Sender<WriteOp> queue = server.write_sender();
  const bool sent =
      binding::without_gil([&] { return send_batch(std::move(queue), std::move(prepared)); });
  if (!sent) {
    methods::raise_send_failure(kInsertManySendFailed);
    return nullptr;
  }
  auto_log_batch(server, std::move(accepted_ids));
  return refusals_or_none(refused, [](RefusedDict& r) { return std::move(r.dict); });
}

PyObject* WebServerClass::InsertManyJson::call(DBEngineWebServerObject& self,
                                               const binding::Arguments<1>& args) {
  std::vector<binding::JsonRecord> records;
  if (!binding::extract_json_records(args[0], "records", records)) return nullptr;
  DBEngineWebServer& server = self.engine;
  if (!methods::worker_running(server.worker_alive())) return nullptr;

  const bool keep_ids = server.enable_logging();
  channel::Sender<WriteOp> queue = server.write_sender();
  JsonBatchOutcome outcome = binding::without_gil(
      [&] { return send_json_batch(std::move(queue), std::move(records), keep_ids); });
  if (!outcome.sent) {
    methods::raise_send_failure(kInsertManyJsonSendFailed);
    return nullptr;
  }
  auto_log_batch(server, std::move(outcome.accepted_ids));
  return refusals_or_none(outcome.refused, [](RefusedText& r) { return new_str(r.text.view()); });
}

}  // namespace quorvane::db_engine_web_server
