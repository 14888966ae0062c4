#include "SystemInfo.h"

#include <windows.h>

namespace lumivale {

std::uint64_t TotalPhysicalMemoryBytes() {
    MEMORYSTATUSEX status{};
    status.dwLength = sizeof status;
    if (!GlobalMemoryStatusEx(&status)) return 0;
    return status.ullTotalPhys;
}

}  // namespace lumivale
