#include "binding/park_thread.h"

#include <unistd.h>

namespace quorvane::binding {

void park_thread_forever() noexcept {
  for (;;) ::pause();
}

}  // namespace quorvane::binding
