// DBEngineWebServer's filter_by_metadata: pages over the index entries filed under the key
// (limit and offset count entries, not documents) and parses with the strict parser, as
// DBEngine's filter does. The other reads are shared with DBEngine (methods/read_steps.h).
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "binding/args.h"
#include "db_engine_web_server/db_engine_web_server_class.h"
#include "document/python/decoder.h"
#include "methods/read_steps.h"
#include "store/reads.h"

namespace quorvane::db_engine_web_server {

PyObject* WebServerClass::FilterByMetadata::call(DBEngineWebServerObject& self,
                                                 const binding::Arguments<4>& args) {
  std::string_view index_key, index_value;
  std::optional<uint64_t> limit, offset;
  if (!binding::extract_str(args[0], "index_key", index_key)) return nullptr;
  if (!binding::extract_str(args[1], "index_value", index_value)) return nullptr;
  if (!binding::extract_optional_u64(args[2], "limit", limit)) return nullptr;
  if (!binding::extract_optional_u64(args[3], "offset", offset)) return nullptr;
  const std::string key = methods::metadata_key(index_key, index_value);

  auto found = methods::read_without_gil(self.engine.db_handle(), [&](store::Store& db) {
    return store::read_metadata_page(db, key, limit, offset);
  });
  return methods::decode_or_raise(found, document::python::decode_entries,
                                  document::python::Parser::Strict, document::python::kListMessages,
                                  &self.keys);
}

}  // namespace quorvane::db_engine_web_server
