#include "binding/process_owner.h"

#include <string>

#include "binding/errors.h"
#include "util/format.h"

namespace quorvane::binding {

void raise_opened_in_another_process(const ProcessOwner& owner, const char* class_name) {
  const std::string pid = std::to_string(owner.pid());
  raise_runtime_error(format_message(
      "This {} was opened in another process (pid {}); open the database again in this process",
      {class_name, pid}));
}

}  // namespace quorvane::binding
