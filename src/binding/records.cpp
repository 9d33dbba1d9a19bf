#include "binding/records.h"

#include <string_view>

#include "binding/args.h"
#include "binding/errors.h"

namespace quorvane::binding {

namespace {

// A record of a bulk insert: a tuple of exactly two items whose first is the id (as UTF-8).
bool unpack_record(PyObject* item, std::string_view& id, PyObject*& second) {
  PyObject* first = nullptr;
  return unpack_pair(item, first, second) && extract_str_item(first, id);
}

}  // namespace

bool extract_ids(PyObject* obj, const char* parameter, std::vector<std::string>& out) {
  out.clear();
  return for_each_sequence_item(
      obj, parameter, [&](size_t length) { out.reserve(length); },
      [&](PyObject* item) {
        std::string_view id;
        if (!extract_str_item(item, id)) return false;
        out.emplace_back(id);
        return true;
      });
}

bool extract_dict_records(PyObject* obj, const char* parameter, std::vector<DictRecord>& out) {
  out.clear();
  return for_each_sequence_item(
      obj, parameter, [&](size_t length) { out.reserve(length); },
      [&](PyObject* item) {
        std::string_view id;
        PyObject* second = nullptr;
        if (!unpack_record(item, id, second)) return false;
        if (!PyDict_Check(second)) {
          raise_type_check(second, "dict");
          return false;
        }
        out.push_back(DictRecord{std::string(id), PyRef::borrow(second)});
        return true;
      });
}

bool extract_json_records(PyObject* obj, const char* parameter, std::vector<JsonRecord>& out) {
  out.clear();
  return for_each_sequence_item(
      obj, parameter, [&](size_t length) { out.reserve(length); },
      [&](PyObject* item) {
        std::string_view id;
        PyObject* second = nullptr;
        if (!unpack_record(item, id, second)) return false;
        std::string_view text;
        if (!extract_str_item(second, text)) return false;
        out.push_back(JsonRecord{std::string(id), document::DocBytes::copy_of(text)});
        return true;
      });
}

}  // namespace quorvane::binding
