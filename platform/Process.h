#pragma once
// Child processes and the current process.
#include <cstdint>

namespace lumivale {

std::int64_t CurrentProcessId();

}  // namespace lumivale
