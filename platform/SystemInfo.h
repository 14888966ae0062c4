#pragma once
#include <cstdint>

namespace lumivale {

// Installed physical memory in bytes; 0 when the system does not say.
std::uint64_t TotalPhysicalMemoryBytes();

}  // namespace lumivale
