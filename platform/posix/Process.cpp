#include "Process.h"

#include <unistd.h>

namespace lumivale {

std::int64_t CurrentProcessId() { return static_cast<std::int64_t>(::getpid()); }

}  // namespace lumivale
