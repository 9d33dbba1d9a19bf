// The classes the execution step adds after DBEngine. A failure while adding one of these is
// dropped and the import still succeeds without it.
#pragma once

#include <vector>

#include "binding/python.h"
#include "db_engine_web_server/db_engine_web_server_object.h"

namespace quorvane {

struct ExtraClass {
  const char* name;
  PyObject* (*factory)();  // the class object (borrowed), or null with an exception set
};

inline std::vector<ExtraClass> extra_classes() {
  return {{"DBEngineWebServer", web_server::db_engine_web_server_type}};
}

}  // namespace quorvane
