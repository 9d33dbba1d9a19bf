// DBEngine's filter_by_metadata: every document filed under the key, without paging, parsed
// with the strict parser. The other reads are shared with DBEngineWebServer
// (methods/read_steps.h).
#include <string>
#include <string_view>

#include "binding/args.h"
#include "db_engine/db_engine_class.h"
#include "document/python/decoder.h"
#include "methods/read_steps.h"
#include "store/reads.h"

namespace quorvane::db_engine {

PyObject* DBEngineClass::FilterByMetadata::call(DBEngineObject& self,
                                                const binding::Arguments<2>& args) {
  std::string_view index_key, index_value;
  if (!binding::extract_str(args[0], "index_key", index_key)) return nullptr;
  if (!binding::extract_str(args[1], "index_value", index_value)) return nullptr;
  const std::string key = methods::metadata_key(index_key, index_value);

  auto found = methods::read_without_gil(self.engine.db_handle(), [&](store::Store& db) {
    return store::read_metadata_matches(db, key);
  });
  return methods::decode_or_raise(found, document::python::decode_entries,
                                  document::python::Parser::Strict, document::python::kListMessages,
                                  &self.keys);
}

}  // namespace quorvane::db_engine
