// DBEngine's bulk inserts; the single-record writes are shared with DBEngineWebServer
// (methods/single_writes.h). The bulk inserts prepare and send one record at a time with the
// GIL held; the first record that fails ends the call with its message, and the records sent
// before it stay queued.
#include <string>
#include <utility>
#include <vector>

#include "binding/records.h"
#include "db_engine/db_engine_class.h"
#include "methods/write_steps.h"

namespace quorvane::db_engine {

namespace {

constexpr methods::RefusalMessage kBulkEncodeMessage{"Failed to serialize dict for {}.{}", true};
constexpr methods::RefusalMessage kBulkValidationMessage{"Invalid json in payload for id {}.{}",
                                                         true};

bool send(DBEngine& engine, WriteOp op) {
  if (engine.send(std::move(op))) return true;
  methods::raise_send_failure(methods::kSendFailedPattern);
  return false;
}

}  // namespace

PyObject* DBEngineClass::InsertMany::call(DBEngineObject& self, const binding::Arguments<1>& args) {
  std::vector<binding::DictRecord> records;
  if (!binding::extract_dict_records(args[0], "records", records)) return nullptr;
  if (!methods::worker_running(self.engine.worker_alive())) return nullptr;
  for (binding::DictRecord& record : records) {
    document::DocBytes doc;
    if (!methods::accept_or_raise(
            methods::encode_payload(record.dict.get(), record.id, kBulkEncodeMessage, doc))) {
      return nullptr;
    }
    if (!send(self.engine, WriteOp::insert(std::move(record.id), std::move(doc)))) {
      return nullptr;
    }
  }
  Py_RETURN_NONE;
}

PyObject* DBEngineClass::InsertManyJson::call(DBEngineObject& self,
                                              const binding::Arguments<1>& args) {
  std::vector<binding::JsonRecord> records;
  if (!binding::extract_json_records(args[0], "records", records)) return nullptr;
  if (!methods::worker_running(self.engine.worker_alive())) return nullptr;
  for (binding::JsonRecord& record : records) {
    if (!methods::accept_or_raise(
            methods::check_json_payload(record.text.view(), record.id, kBulkValidationMessage))) {
      return nullptr;
    }
    if (!send(self.engine, WriteOp::insert(std::move(record.id), std::move(record.text)))) {
      return nullptr;
    }
  }
  Py_RETURN_NONE;
}

}  // namespace quorvane::db_engine
