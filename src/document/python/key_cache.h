// KeyCache: the str objects made for recent dict keys, handed out again when the same key
// text comes back, so that decoding does not make (and hash) a new str for every key of
// every document. Stored documents of one kind repeat the same keys over and over.
//
// A direct-mapped table of short keys (at most kLongestKey bytes of UTF-8), each slot holding
// a copy of the key's bytes and one reference to its str. A str is immutable, so handing the
// same one to many dicts changes nothing a caller can see.
//
// Needs the GIL for everything, its destruction included. Safe against re-entry: Python code
// that runs while a str is being made (a garbage collection) may use the same cache; a slot
// is only changed once the new str exists.
//
// A list decoder keeps one for the documents of its call; an owner that lives longer (a store
// instance, whose reads decode one after another with the GIL held) can keep one across calls.
#pragma once

#include <cstdint>
#include <cstring>
#include <memory>
#include <string_view>

#include "binding/py_ref.h"
#include "binding/python.h"

namespace quorvane::document::python {

class KeyCache {
 public:
  KeyCache() : slots_(std::make_unique<Slot[]>(kSlots)) {}
  KeyCache(const KeyCache&) = delete;
  KeyCache& operator=(const KeyCache&) = delete;
  ~KeyCache() {
    for (size_t i = 0; i < kSlots; ++i) Py_XDECREF(slots_[i].object);
  }

  // Sets `out` to the str of the UTF-8 `text`, from the cache when it holds that key, else
  // made now (and kept when short enough). False with a Python exception set when the str
  // cannot be made.
  bool key(std::string_view text, binding::PyRef& out) {
    if (text.size() > kLongestKey) return make(text, out);
    Slot& slot = slots_[slot_of(text)];
    if (slot.object && slot.size == text.size() &&
        std::memcmp(slot.bytes, text.data(), text.size()) == 0) {
      out = binding::PyRef::borrow(slot.object);
      return true;
    }
    if (!make(text, out)) return false;
    // Python code may have run while the str was made; the slot is rewritten only now.
    PyObject* old = slot.object;
    std::memcpy(slot.bytes, text.data(), text.size());
    slot.size = static_cast<uint8_t>(text.size());
    slot.object = out.get();
    Py_INCREF(slot.object);
    Py_XDECREF(old);
    return true;
  }

 private:
  static constexpr size_t kLongestKey = 47;
  static constexpr unsigned kSlotBits = 7;
  static constexpr size_t kSlots = size_t{1} << kSlotBits;

  struct Slot {
    PyObject* object = nullptr;  // owned
    uint8_t size = 0;
    char bytes[kLongestKey];
  };

  static bool make(std::string_view text, binding::PyRef& out) {
    out = binding::PyRef::steal(
        PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), nullptr));
    return static_cast<bool>(out);
  }

  static unsigned slot_of(std::string_view text) {
    uint32_t h = static_cast<uint32_t>(text.size());
    if (!text.empty()) {
      h = h * 31 + static_cast<unsigned char>(text.front());
      h = h * 31 + static_cast<unsigned char>(text[text.size() / 2]);
      h = h * 31 + static_cast<unsigned char>(text.back());
    }
    return (h * 2654435761u) >> (32 - kSlotBits);
  }

  std::unique_ptr<Slot[]> slots_;
};

}  // namespace quorvane::document::python
