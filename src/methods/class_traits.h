// What the method bodies shared by DBEngine and DBEngineWebServer (write_steps.h,
// single_writes.h, read_steps.h) need to know of a class. Each class supplies one traits
// struct with these members:
//
//   using Engine = ...;                   the C++ engine behind the Python object
//   using Op = ...;                       its write operation, with static insert(id, doc),
//                                         upsert(id, doc) and remove(id)
//   static constexpr const char* kName;   the class name used in argument errors
//   static constexpr document::Parser kIdReadParser;   parser of get, get_many, scan_prefix
//   static const py::ProcessOwner& owner(PyObject* self);   checked first by every entry
//   static py::BorrowFlag& borrow(PyObject* self);
//   static Engine& engine(PyObject* self);
//   static document::KeyCache* key_cache(PyObject* self);   the instance's decoded-key cache
//   static Share store_share(Engine&);    what a read's storage step holds the store by,
//                                         dereferenced with *: a pointer, or a shared_ptr
//                                         taken with the GIL held and released in the step
//   static void log_written(Engine&, WriteAction, std::string_view id);
//                                         called once an operation is queued (may do nothing)
//
// The engine offers: bool worker_alive() const; bool send(Op) (blocking, false once the
// queue's receiver has gone); store::Store& db().
#pragma once

#include <cstdint>

namespace quorvane::methods {

// Which write a single-record method queued, for the classes that keep an activity log.
enum class WriteAction : uint8_t { Insert, Upsert, Delete };

}  // namespace quorvane::methods
