#pragma once
// The events that tell the page about Java runtimes, game cores, memory and launch options.
#include <string>

#include "SystemEvents.h"

namespace lumivale {

class App;

void ReportJava(App& app);
void ReportCores(App& app);
void ReportMemory(App& app);
void ReportConfig(App& app);

// "sys:core_info" for the core whose folder is `coreValue`: its game version, the Java major it
// needs and the Java that "auto" takes for it. Nothing is chosen or saved: "auto" stays "auto", so
// the launch takes the Java the page shows. UI thread.
void ReportCoreInfo(App& app, const std::string& coreValue);

}  // namespace lumivale
