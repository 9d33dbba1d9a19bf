// The encoder walks the Python value depth first and writes JSON bytes straight into one
// growing buffer. Objects are written with their members in the dict's own order, so that
// conversion (and therefore the first refusal) follows that order; each member's key and byte
// span are kept on a stack shared by every level, and once an object is complete its region
// is rewritten in key order. Nothing is allocated per node: the member stack is reused for the
// whole document, and an object is reordered within the output buffer itself.
//
// Exact dict, list, tuple, str, int, float, bool and None take fast paths; every other type
// goes through the full order of tests. Python code can run during a conversion (a mapping's
// keys(), a sequence's __getitem__), so every item taken from a mutable container is held by
// a strong reference while it is converted.
#include "document/python/encoder.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

#include "binding/errors.h"
#include "binding/park_thread.h"
#include "binding/py_ref.h"
#include "document/float_text.h"
#include "document/string_escape.h"

namespace quorvane::document::python {

namespace {

using binding::PyRef;

constexpr int kMaxNesting = 127;
// Room set aside up front: most documents fit, and larger ones grow by doubling.
constexpr size_t kOutputReserve = 512;
constexpr const char* kNestingText = "recursion limit exceeded: more than 127 nested levels";

// One member of an object being written. Sorted by key; the key's text stays valid through
// the reference that the member stack holds.
struct Member {
  uint64_t prefix;  // the key's first 8 bytes, big-endian, zero-padded: most keys differ here
  const char* key_utf8;
  size_t key_size;
  size_t start;   // offset of the member's first byte (its key's quote) in the output
  size_t end;     // one past its last byte
  PyObject* key;  // owned by the MemberStack
};

// The members of every object still open, innermost object last. Owns one reference to each
// member's key. The first kInline members live in the stack itself, so that an ordinary
// document allocates nothing for them.
class MemberStack {
 public:
  MemberStack() = default;
  MemberStack(const MemberStack&) = delete;
  MemberStack& operator=(const MemberStack&) = delete;
  ~MemberStack() { truncate(0); }

  size_t size() const { return size_; }
  Member* begin() { return data_; }
  Member* end() { return data_ + size_; }
  Member& back() { return data_[size_ - 1]; }

  // Adds a member; takes a new reference to `key`.
  void push(const Member& member) {
    if (size_ == capacity_) grow();
    Py_INCREF(member.key);
    data_[size_++] = member;
  }

  // Drops the members from `size` on, with their key references.
  void truncate(size_t size) {
    while (size_ > size) Py_DECREF(data_[--size_].key);
  }

 private:
  static constexpr size_t kInline = 32;

  void grow() {
    const bool was_inline = data_ == inline_.data();
    heap_.resize(capacity_ * 2);
    if (was_inline) std::copy(inline_.begin(), inline_.end(), heap_.begin());
    data_ = heap_.data();
    capacity_ = heap_.size();
  }

  std::array<Member, kInline> inline_;
  std::vector<Member> heap_;
  Member* data_ = inline_.data();
  size_t size_ = 0;
  size_t capacity_ = kInline;
};

uint64_t key_prefix(const char* key, size_t size) {
  unsigned char bytes[8] = {};
  std::memcpy(bytes, key, std::min<size_t>(size, 8));
  uint64_t prefix = 0;
  for (unsigned char b : bytes) prefix = (prefix << 8) | b;
  return prefix;
}

// Byte order of the keys (a proper beginning first); of a repeated key, the later member last.
bool key_less(const Member& a, const Member& b) {
  if (a.prefix != b.prefix) return a.prefix < b.prefix;
  const int c = std::memcmp(a.key_utf8, b.key_utf8, std::min(a.key_size, b.key_size));
  if (c != 0) return c < 0;
  if (a.key_size != b.key_size) return a.key_size < b.key_size;
  return a.start < b.start;
}

bool same_key(const Member& a, const Member& b) {
  return a.prefix == b.prefix && a.key_size == b.key_size &&
         std::memcmp(a.key_utf8, b.key_utf8, a.key_size) == 0;
}

class Encoder {
 public:
  explicit Encoder(std::string& out) : out_(out) {}

  // Appends the JSON text of `obj` (`depth` containers enclose it). False with failure_ set.
  bool value(PyObject* obj, int depth);

  std::string& failure() { return failure_; }

 private:
  bool general_value(PyObject* obj, int depth);

  bool int_value(PyObject* obj);
  bool int_out_of_range(PyObject* obj, bool negative);
  bool float_value(PyObject* obj);
  bool string_value(PyObject* obj);

  bool exact_list(PyObject* obj, int depth);
  bool exact_tuple(PyObject* obj, int depth);
  bool sequence_by_index(PyObject* obj, int depth);
  bool set_value(PyObject* obj, int depth);

  bool exact_dict(PyObject* obj, int depth);
  bool mapping_value(PyObject* obj, int depth);
  // Converts `count` members from two parallel lists, starting at `from`.
  bool members_from_lists(PyObject* keys, PyObject* values, Py_ssize_t from, int depth,
                          size_t first);
  bool dataclass_value(PyObject* obj, PyObject* fields, int depth);

  // Opens an array or object at `depth`, refusing the level past the bound.
  bool open(char bracket, int depth);
  // Writes the key of the next member of the object whose members start at `first`.
  bool member_key(PyObject* key, size_t first);
  void close_member() { members_.back().end = out_.size(); }
  // Closes the object opened at `start` whose members are members_[first..].
  void close_object(size_t start, size_t first);

  // Looks up `__dataclass_fields__`: 1 found (in `fields`), 0 absent, -1 failure_ set.
  int dataclass_fields(PyObject* obj, PyRef& fields);
  // isinstance(obj, collections.abc.<name>): 1 yes, 0 no (an error there counts as "no"), -1
  // when the error is one to leave pending (see fail_with_pending).
  int is_abc_instance(PyObject* obj, PyRef& abc, const char* name);

  // A dict whose members are being read straight from the dict. Its keys and values are to be
  // read out once, as two lists: that matters only once Python code can run during the
  // conversion (a mapping's keys(), a sequence's __getitem__...), which could change the dict.
  // So before any such code runs, snapshot_live_dicts() takes the two lists of every dict still
  // read straight, and each goes on from the lists at the member where it stands.
  struct LiveDict {
    PyObject* dict = nullptr;
    Py_ssize_t taken = 0;  // members taken so far
    PyRef keys, values;    // set once snapshotted
  };
  bool snapshot_live_dicts();

  bool fail(std::string text) {
    failure_ = std::move(text);
    return false;
  }
  // The pending exception becomes the failure's text, unless it is not an Exception: a
  // KeyboardInterrupt or SystemExit that a signal handler raised while Python code of the
  // payload's ran is the program's, and is left pending for the call to end with.
  bool fail_with_pending() {
    if (leaves_pending()) return false;
    return fail(binding::take_pending_error_text());
  }
  static bool leaves_pending() {
    return PyErr_Occurred() != nullptr && !PyErr_ExceptionMatches(PyExc_Exception);
  }

  std::string& out_;
  MemberStack members_;
  std::vector<LiveDict*> live_dicts_;
  std::string failure_;
  PyRef collections_abc_;
  PyRef sequence_abc_;
  PyRef mapping_abc_;
};

bool Encoder::value(PyObject* obj, int depth) {
  PyTypeObject* type = Py_TYPE(obj);
  if (type == &PyUnicode_Type) return string_value(obj);
  if (type == &PyLong_Type) return int_value(obj);
  if (type == &PyFloat_Type) return float_value(obj);
  if (type == &PyDict_Type) return exact_dict(obj, depth);
  if (type == &PyList_Type) return exact_list(obj, depth);
  if (obj == Py_None) {
    out_.append("null", 4);
    return true;
  }
  if (obj == Py_True) {
    out_.append("true", 4);
    return true;
  }
  if (obj == Py_False) {
    out_.append("false", 5);
    return true;
  }
  if (type == &PyTuple_Type) return exact_tuple(obj, depth);
  return general_value(obj, depth);
}

// Every type the fast paths did not take, tested in the order of the conversion table.
bool Encoder::general_value(PyObject* obj, int depth) {
  // What follows may run Python code.
  if (!snapshot_live_dicts()) return false;
  if (PyLong_Check(obj)) return int_value(obj);
  if (PyList_Check(obj) || PyTuple_Check(obj)) return sequence_by_index(obj, depth);
  if (PyDict_Check(obj)) return mapping_value(obj, depth);
  if (PyUnicode_Check(obj)) return string_value(obj);
  if (PyBytes_Check(obj)) return fail("invalid type: byte array, expected any valid JSON value");
  if (PyByteArray_Check(obj))
    return fail("unexpected type: " + binding::type_check_text(obj, "bytes"));
  if (PyFloat_Check(obj)) return float_value(obj);
  if (PyAnySet_Check(obj)) return set_value(obj, depth);
  switch (is_abc_instance(obj, sequence_abc_, "Sequence")) {
    case 1:
      return sequence_by_index(obj, depth);
    case -1:
      return false;
    default:
      break;
  }
  switch (is_abc_instance(obj, mapping_abc_, "Mapping")) {
    case 1:
      return mapping_value(obj, depth);
    case -1:
      return false;
    default:
      break;
  }
  PyRef fields;
  switch (dataclass_fields(obj, fields)) {
    case 1:
      return dataclass_value(obj, fields.get(), depth);
    case -1:
      return false;
    default:
      break;
  }
  return fail("unsupported type " +
              binding::type_qualname(reinterpret_cast<PyObject*>(Py_TYPE(obj))));
}

// --- scalars ---------------------------------------------------------------------------

template <class T>
void append_integer(std::string& out, T v) {
  char digits[24];
  const auto result = std::to_chars(digits, digits + sizeof digits, v);
  out.append(digits, static_cast<size_t>(result.ptr - digits));
}

bool Encoder::int_value(PyObject* obj) {
  int overflow = 0;
  const long long v = PyLong_AsLongLongAndOverflow(obj, &overflow);
  if (overflow == 0) {
    if (v == -1 && PyErr_Occurred()) return fail_with_pending();
    append_integer(out_, v);
    return true;
  }
  if (overflow < 0) return int_out_of_range(obj, true);
  const unsigned long long u = PyLong_AsUnsignedLongLong(obj);
  if (u == static_cast<unsigned long long>(-1) && PyErr_Occurred()) {
    PyErr_Clear();
    return int_out_of_range(obj, false);
  }
  append_integer(out_, u);
  return true;
}

// An int outside both 64-bit ranges. Within the 128-bit ranges (-2^127 <= v < 2^128) it is
// "JSON number out of range"; beyond them the interpreter's own OverflowError, taken from
// int.to_bytes (called on int itself, so a subclass cannot change the answer).
bool Encoder::int_out_of_range(PyObject* obj, bool negative) {
  PyRef to_bytes =
      PyRef::steal(PyObject_GetAttrString(reinterpret_cast<PyObject*>(&PyLong_Type), "to_bytes"));
  if (!to_bytes) return fail_with_pending();
  PyRef args = PyRef::steal(Py_BuildValue("(Ois)", obj, 16, "little"));
  PyRef kwargs = PyRef::steal(Py_BuildValue("{s:O}", "signed", negative ? Py_True : Py_False));
  if (!args || !kwargs) return fail_with_pending();
  PyRef bytes = PyRef::steal(PyObject_Call(to_bytes.get(), args.get(), kwargs.get()));
  if (!bytes) return fail_with_pending();
  return fail("JSON number out of range");
}

bool Encoder::float_value(PyObject* obj) {
  const double v = PyFloat_AsDouble(obj);
  if (v == -1.0 && PyErr_Occurred()) return fail_with_pending();
  if (!std::isfinite(v)) {
    out_.append("null", 4);
  } else {
    append_json_float(out_, v);
  }
  return true;
}

bool Encoder::string_value(PyObject* obj) {
  Py_ssize_t size = 0;
  const char* utf8 = PyUnicode_AsUTF8AndSize(obj, &size);
  if (!utf8) return fail_with_pending();
  append_json_string(out_, std::string_view(utf8, static_cast<size_t>(size)));
  return true;
}

// --- arrays ----------------------------------------------------------------------------

bool Encoder::open(char bracket, int depth) {
  if (depth >= kMaxNesting) return fail(kNestingText);
  out_.push_back(bracket);
  return true;
}

bool Encoder::exact_list(PyObject* obj, int depth) {
  if (!open('[', depth)) return false;
  const Py_ssize_t size = PyList_Size(obj);
  for (Py_ssize_t i = 0; i < size; ++i) {
    // Held while converted: Python code run by the conversion may change the list.
    PyRef item = PyRef::borrow(PyList_GetItem(obj, i));
    if (!item) return fail_with_pending();
    if (i > 0) out_.push_back(',');
    if (!value(item.get(), depth + 1)) return false;
  }
  out_.push_back(']');
  return true;
}

bool Encoder::exact_tuple(PyObject* obj, int depth) {
  if (!open('[', depth)) return false;
  const Py_ssize_t size = PyTuple_Size(obj);
  for (Py_ssize_t i = 0; i < size; ++i) {
    // A tuple cannot change, and it is kept alive by whoever holds it.
    PyObject* item = PyTuple_GetItem(obj, i);
    if (!item) return fail_with_pending();
    if (i > 0) out_.push_back(',');
    if (!value(item, depth + 1)) return false;
  }
  out_.push_back(']');
  return true;
}

// Measured once with len(), then read by position.
bool Encoder::sequence_by_index(PyObject* obj, int depth) {
  if (!open('[', depth)) return false;
  const Py_ssize_t size = binding::calling_python([&] { return PyObject_Size(obj); });
  if (size < 0) return fail_with_pending();
  for (Py_ssize_t i = 0; i < size; ++i) {
    PyRef item = PyRef::steal(binding::calling_python([&] { return PySequence_GetItem(obj, i); }));
    if (!item) return fail_with_pending();
    if (i > 0) out_.push_back(',');
    if (!value(item.get(), depth + 1)) return false;
  }
  out_.push_back(']');
  return true;
}

bool Encoder::set_value(PyObject* obj, int depth) {
  if (!open('[', depth)) return false;
  PyRef iter = PyRef::steal(binding::calling_python([&] { return PyObject_GetIter(obj); }));
  if (!iter) return fail_with_pending();
  bool first = true;
  while (PyRef item =
             PyRef::steal(binding::calling_python([&] { return PyIter_Next(iter.get()); }))) {
    if (!first) out_.push_back(',');
    first = false;
    if (!value(item.get(), depth + 1)) return false;
  }
  if (PyErr_Occurred()) return fail_with_pending();
  out_.push_back(']');
  return true;
}

// --- objects ---------------------------------------------------------------------------

bool Encoder::member_key(PyObject* key, size_t first) {
  if (!PyUnicode_Check(key))
    return fail("unexpected type: " + binding::type_check_text(key, "str"));
  Py_ssize_t size = 0;
  const char* utf8 = PyUnicode_AsUTF8AndSize(key, &size);
  if (!utf8) return fail_with_pending();
  if (members_.size() > first) out_.push_back(',');
  const size_t start = out_.size();
  const std::string_view text(utf8, static_cast<size_t>(size));
  append_json_string(out_, text);
  out_.push_back(':');
  members_.push(Member{key_prefix(utf8, text.size()), utf8, text.size(), start, start, key});
  return true;
}

void Encoder::close_object(size_t start, size_t first) {
  Member* const begin = members_.begin() + first;
  Member* const end = members_.end();
  bool sorted = true;
  for (Member* it = begin; it != end && it + 1 != end; ++it) {
    if (!key_less(*it, *(it + 1)) || same_key(*it, *(it + 1))) {
      sorted = false;
      break;
    }
  }
  if (!sorted) {
    std::sort(begin, end, key_less);
    // The members in key order are appended after the region, then moved over it; of a
    // repeated key only the last member stays.
    const size_t region = start + 1;
    const size_t sorted_start = out_.size();
    out_.reserve(sorted_start + (sorted_start - region));
    bool first_written = true;
    for (Member* it = begin; it != end; ++it) {
      if (it + 1 != end && same_key(*it, *(it + 1))) continue;
      if (!first_written) out_.push_back(',');
      first_written = false;
      out_.append(out_.data() + it->start, it->end - it->start);
    }
    out_.erase(region, sorted_start - region);
  }
  out_.push_back('}');
  members_.truncate(first);
}

bool Encoder::exact_dict(PyObject* obj, int depth) {
  if (!open('{', depth)) return false;
  const size_t start = out_.size() - 1;
  const size_t first = members_.size();
  LiveDict live;
  live.dict = obj;
  live_dicts_.push_back(&live);
  Py_ssize_t pos = 0;
  PyObject* key = nullptr;
  PyObject* item = nullptr;
  bool ok = true;
  while (ok && !live.keys && PyDict_Next(obj, &pos, &key, &item)) {
    // Held while converted: the dict may lose it once Python code runs.
    PyRef held = PyRef::borrow(item);
    ++live.taken;
    ok = member_key(key, first) && value(held.get(), depth + 1);
    if (ok) close_member();
  }
  live_dicts_.pop_back();
  if (ok && live.keys)
    ok = members_from_lists(live.keys.get(), live.values.get(), live.taken, depth, first);
  if (!ok) return false;
  close_object(start, first);
  return true;
}

bool Encoder::snapshot_live_dicts() {
  for (LiveDict* live : live_dicts_) {
    if (live->keys) continue;
    live->keys = PyRef::steal(PyDict_Keys(live->dict));
    if (!live->keys) return fail_with_pending();
    live->values = PyRef::steal(PyDict_Values(live->dict));
    if (!live->values) return fail_with_pending();
  }
  return true;
}

bool Encoder::members_from_lists(PyObject* keys, PyObject* values, Py_ssize_t from, int depth,
                                 size_t first) {
  const Py_ssize_t size = PyList_Size(keys);
  for (Py_ssize_t i = from; i < size; ++i) {
    PyRef key = PyRef::borrow(PyList_GetItem(keys, i));
    if (!key) return fail_with_pending();
    if (!member_key(key.get(), first)) return false;
    PyRef item = PyRef::borrow(PyList_GetItem(values, i));
    if (!item) return fail_with_pending();
    if (!value(item.get(), depth + 1)) return false;
    close_member();
  }
  return true;
}

// A dict subclass or another mapping: a dataclass first; otherwise its keys() and values()
// read once, as two lists, and the pairs converted in that order.
bool Encoder::mapping_value(PyObject* obj, int depth) {
  PyRef fields;
  switch (dataclass_fields(obj, fields)) {
    case 1:
      return dataclass_value(obj, fields.get(), depth);
    case -1:
      return false;
    default:
      break;
  }
  if (!open('{', depth)) return false;
  const size_t start = out_.size() - 1;
  const size_t first = members_.size();
  PyRef keys = PyRef::steal(binding::calling_python([&] { return PyMapping_Keys(obj); }));
  if (!keys) return fail_with_pending();
  PyRef values = PyRef::steal(binding::calling_python([&] { return PyMapping_Values(obj); }));
  if (!values) return fail_with_pending();
  if (!members_from_lists(keys.get(), values.get(), 0, depth, first)) return false;
  close_object(start, first);
  return true;
}

// One member per key of __dataclass_fields__, in that order, valued from the instance's
// __dict__.
bool Encoder::dataclass_value(PyObject* obj, PyObject* fields, int depth) {
  if (!open('{', depth)) return false;
  const size_t start = out_.size() - 1;
  const size_t first = members_.size();
  PyRef names = PyRef::steal(binding::calling_python([&] { return PyMapping_Keys(fields); }));
  if (!names) return fail_with_pending();
  PyRef instance_dict;
  const Py_ssize_t size = PyList_Size(names.get());
  for (Py_ssize_t i = 0; i < size; ++i) {
    PyRef name = PyRef::borrow(PyList_GetItem(names.get(), i));
    if (!name) return fail_with_pending();
    if (!member_key(name.get(), first)) return false;
    if (!instance_dict) {
      instance_dict = PyRef::steal(
          binding::calling_python([&] { return PyObject_GetAttrString(obj, "__dict__"); }));
      if (!instance_dict) return fail_with_pending();
    }
    PyRef item = PyRef::steal(
        binding::calling_python([&] { return PyObject_GetItem(instance_dict.get(), name.get()); }));
    if (!item) return fail_with_pending();
    if (!value(item.get(), depth + 1)) return false;
    close_member();
  }
  close_object(start, first);
  return true;
}

int Encoder::dataclass_fields(PyObject* obj, PyRef& fields) {
  fields = PyRef::steal(
      binding::calling_python([&] { return PyObject_GetAttrString(obj, "__dataclass_fields__"); }));
  if (fields) return 1;
  if (PyErr_ExceptionMatches(PyExc_AttributeError)) {
    PyErr_Clear();
    return 0;
  }
  fail_with_pending();
  return -1;
}

int Encoder::is_abc_instance(PyObject* obj, PyRef& abc, const char* name) {
  if (!abc) {
    if (!collections_abc_) {
      collections_abc_ = PyRef::steal(
          binding::calling_python([] { return PyImport_ImportModule("collections.abc"); }));
    }
    if (collections_abc_) abc = PyRef::steal(PyObject_GetAttrString(collections_abc_.get(), name));
  }
  const int result =
      abc ? binding::calling_python([&] { return PyObject_IsInstance(obj, abc.get()); }) : -1;
  if (result >= 0) return result;
  if (leaves_pending()) return -1;
  PyErr_Clear();
  return 0;
}

}  // namespace

bool encode_document(PyObject* payload, DocBytes& out, std::string& failure) {
  std::string buffer;
  buffer.reserve(kOutputReserve);
  Encoder encoder(buffer);
  if (!encoder.value(payload, 0)) {
    failure = std::move(encoder.failure());
    return false;
  }
  if (buffer.capacity() < buffer.size() + kDocPadding) buffer.reserve(buffer.size() + kDocPadding);
  out = DocBytes::adopt(std::move(buffer));
  return true;
}

}  // namespace quorvane::document::python
