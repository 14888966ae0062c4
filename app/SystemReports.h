#pragma once
// The events that tell the page about Java runtimes, game cores, memory and launch options.
#include <cstdint>
#include <string>
#include <vector>

#include "GameTypes.h"

namespace lumivale {

class App;
struct Settings;

std::string JavaListEvent(const std::vector<JavaInstall>& javaList);
std::string CoreListEvent(const std::vector<CoreEntry>& cores);
// Total in GiB rounded half up; half of it recommended, kept within 2..16.
std::string MemoryEvent(std::uint64_t totalBytes);
std::string ConfigEvent(const Settings& settings);

void ReportJava(App& app);
void ReportCores(App& app);
void ReportMemory(App& app);
void ReportConfig(App& app);

// "sys:core_info" for the core whose folder is `coreValue`, then the automatic Java choice: while
// selected_java is empty or "auto", the first Java of the required major is chosen, the settings
// are saved and "sys:select_java" is sent. UI thread.
void ReportCoreInfo(App& app, const std::string& coreValue);

}  // namespace lumivale
