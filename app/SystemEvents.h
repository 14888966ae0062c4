#pragma once
// The events that tell the page about Java runtimes, game cores, memory and launch options, built
// from what the launcher found: valid JSON whatever bytes a folder name or path holds.
#include <cstdint>
#include <string>
#include <vector>

#include "GameTypes.h"

namespace lumivale {

struct Settings;

std::string JavaListEvent(const std::vector<JavaInstall>& javaList);
std::string CoreListEvent(const std::vector<CoreEntry>& cores);
// Total in GiB rounded half up; half of it recommended, kept within 2..16.
std::string MemoryEvent(std::uint64_t totalBytes);
std::string ConfigEvent(const Settings& settings);

}  // namespace lumivale
