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
// lists the accepted ids (auto_log_batch), offered at once on a sending end of the log queue
// of their own, before the GIL is taken back: the commit at the interpreter's end, which may
// come first, then finds it queued (unless it closed the log in the moment between the last
// send and the offer).
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

// The activity log entry of a bulk insert: the ids accepted, and the log queue to offer them
// on (none when logging is off).
struct BatchLog {
  std::optional<channel::Sender<activity_log::LogOp>> queue;
  std::vector<std::string> ids;
};

// Offers one LogOp::Batch of the accepted ids when logging is on and there are any; lost when
// the log queue is full or its writer has gone. Touches no Python object.
void auto_log_batch(BatchLog log) {
  if (log.queue && !log.ids.empty()) {
    (void)log.queue->try_send(
        activity_log::LogOp::batch(activity_log::kInsertAction, std::move(log.ids)));
  }
}

// Sends `ops` in order, each with a blocking send that waits while the queue is full, and
// stops at the first send that fails (the queue's receiver has gone, or it is closed): that
// operation and the later ones are dropped, the earlier ones stay queued. When every one was
// sent, offers `log`. False when a send failed. Runs with the GIL released; the sending ends
// and the operations are released before it returns.
bool send_batch(channel::Sender<WriteOp> queue, std::vector<WriteOp> ops, BatchLog log) {
  for (WriteOp& op : ops) {
    if (!queue.send(std::move(op))) return false;
  }
  auto_log_batch(std::move(log));
  return true;
}

struct RefusedText {
  std::string id;
  document::DocBytes text;
  std::string message;
};

struct JsonBatchOutcome {
  bool sent = true;
  std::vector<RefusedText> refused;
};

// Validates every record, then sends the accepted ones as send_batch does, with `log` for the
// ids it accepts. Touches no Python object: runs with the GIL released.
JsonBatchOutcome send_json_batch(channel::Sender<WriteOp> queue,
                                 std::vector<binding::JsonRecord> records, BatchLog log) {
  JsonBatchOutcome outcome;
  std::vector<WriteOp> prepared;
  prepared.reserve(records.size());
  if (log.queue) log.ids.reserve(records.size());
  for (binding::JsonRecord& record : records) {
    if (std::optional<std::string> refusal =
            methods::check_json_payload(record.text.view(), record.id, kBulkValidationMessage)) {
      outcome.refused.push_back(
          RefusedText{std::move(record.id), std::move(record.text), std::move(*refusal)});
      continue;
    }
    if (log.queue) log.ids.push_back(record.id);
    prepared.push_back(WriteOp::insert(std::move(record.id), std::move(record.text)));
  }
  outcome.sent = send_batch(std::move(queue), std::move(prepared), std::move(log));
  return outcome;
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

  BatchLog log{server.log_sender(), {}};
  std::vector<WriteOp> prepared;
  prepared.reserve(records.size());
  if (log.queue) log.ids.reserve(records.size());
  std::vector<RefusedDict> refused;
  for (binding::DictRecord& record : records) {
    document::DocBytes doc;
    if (std::optional<std::string> refusal =
            methods::encode_payload(record.dict.get(), record.id, kBulkEncodeMessage, doc)) {
      if (methods::interrupted()) return nullptr;  // nothing of the call is sent
      refused.push_back(
          RefusedDict{std::move(record.id), std::move(record.dict), std::move(*refusal)});
      continue;
    }
    if (log.queue) log.ids.push_back(record.id);
    prepared.push_back(WriteOp::insert(std::move(record.id), std::move(doc)));
    record.dict = binding::PyRef();
  }
  records.clear();

  channel::Sender<WriteOp> queue = server.write_sender();
  const bool sent = binding::without_gil(
      [&] { return send_batch(std::move(queue), std::move(prepared), std::move(log)); });
  if (!sent) {
    methods::raise_send_failure(kInsertManySendFailed);
    return nullptr;
  }
  return refusals_or_none(refused, [](RefusedDict& r) { return std::move(r.dict); });
}

PyObject* WebServerClass::InsertManyJson::call(DBEngineWebServerObject& self,
                                               const binding::Arguments<1>& args) {
  std::vector<binding::JsonRecord> records;
  if (!binding::extract_json_records(args[0], "records", records)) return nullptr;
  DBEngineWebServer& server = self.engine;
  if (!methods::worker_running(server.worker_alive())) return nullptr;

  channel::Sender<WriteOp> queue = server.write_sender();
  BatchLog log{server.log_sender(), {}};
  JsonBatchOutcome outcome = binding::without_gil(
      [&] { return send_json_batch(std::move(queue), std::move(records), std::move(log)); });
  if (!outcome.sent) {
    methods::raise_send_failure(kInsertManyJsonSendFailed);
    return nullptr;
  }
  return refusals_or_none(outcome.refused, [](RefusedText& r) { return new_str(r.text.view()); });
}

}  // namespace quorvane::db_engine_web_server
