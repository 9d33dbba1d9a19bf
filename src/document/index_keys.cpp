#include "document/index_keys.h"

#include <simdjson.h>

#include <charconv>
#include <vector>

#include "document/float_text.h"

namespace quorvane::document {

static_assert(kDocPadding >= simdjson::SIMDJSON_PADDING);

// Above this size, the walk does not keep the memory a document needed.
constexpr size_t kLargeDocument = size_t{16} << 20;

struct IndexWalkBuffers::Impl {
  simdjson::dom::parser parser;
  std::string path;
  std::string key;
  IndexKeyCallback emit = nullptr;
  void* context = nullptr;

  void leaf_text_begin() {
    key.assign(path);
    key += '.';
  }

  void walk(simdjson::dom::element node) {
    using simdjson::dom::element_type;
    switch (node.type()) {
      case element_type::OBJECT: {
        const size_t base = path.size();
        for (auto field : simdjson::dom::object(node)) {
          if (base > 0) path += '.';
          path.append(field.key.data(), field.key.size());
          walk(field.value);
          path.resize(base);
        }
        break;
      }
      case element_type::ARRAY: {
        const size_t base = path.size();
        size_t position = 0;
        for (auto child : simdjson::dom::array(node)) {
          if (base > 0) path += '.';
          char digits[24];
          const auto r = std::to_chars(digits, digits + sizeof digits, position++);
          path.append(digits, static_cast<size_t>(r.ptr - digits));
          walk(child);
          path.resize(base);
        }
        break;
      }
      case element_type::STRING: {
        leaf_text_begin();
        const std::string_view s = std::string_view(node);
        key.append(s.data(), s.size());
        emit(context, key);
        break;
      }
      case element_type::INT64: {
        leaf_text_begin();
        char digits[24];
        const auto r = std::to_chars(digits, digits + sizeof digits, int64_t(node));
        key.append(digits, static_cast<size_t>(r.ptr - digits));
        emit(context, key);
        break;
      }
      case element_type::UINT64: {
        leaf_text_begin();
        char digits[24];
        const auto r = std::to_chars(digits, digits + sizeof digits, uint64_t(node));
        key.append(digits, static_cast<size_t>(r.ptr - digits));
        emit(context, key);
        break;
      }
      case element_type::DOUBLE:
        leaf_text_begin();
        append_plain_float(key, double(node));
        emit(context, key);
        break;
      case element_type::BOOL:
        leaf_text_begin();
        key += bool(node) ? "true" : "false";
        emit(context, key);
        break;
      case element_type::NULL_VALUE:
        break;
    }
  }
};

IndexWalkBuffers::IndexWalkBuffers() : impl_(std::make_unique<Impl>()) {}
IndexWalkBuffers::~IndexWalkBuffers() = default;

bool process_json_index(DocBytes& doc, IndexWalkBuffers& buffers, IndexKeyCallback emit,
                        void* context) {
  IndexWalkBuffers::Impl& walk = *buffers.impl_;
  // The parser keeps buffers sized for the largest document it has read; after a large one a
  // fresh parser lets the writer thread give that memory back.
  struct ShrinkAfterLargeDocument {
    IndexWalkBuffers::Impl& impl;
    size_t size;
    ~ShrinkAfterLargeDocument() {
      if (size > kLargeDocument) impl.parser = simdjson::dom::parser();
      if (impl.key.capacity() > kLargeDocument) impl.key = std::string();
      if (impl.path.capacity() > kLargeDocument) impl.path = std::string();
    }
  } shrink{walk, doc.size()};
  simdjson::dom::element root;
  if (walk.parser.parse(doc.data(), doc.size(), false).get(root) != simdjson::SUCCESS) {
    return false;
  }
  walk.emit = emit;
  walk.context = context;
  walk.path.clear();
  walk.walk(root);
  return true;
}

bool collect_index_keys(std::string_view json, IndexWalkBuffers& buffers,
                        std::vector<std::string>& keys) {
  DocBytes doc = DocBytes::copy_of(json);
  return process_json_index(
      doc, buffers,
      [](void* context, std::string_view key) {
        static_cast<std::vector<std::string>*>(context)->emplace_back(key);
      },
      &keys);
}

}  // namespace quorvane::document
