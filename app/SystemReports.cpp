#include "SystemReports.h"

#include <algorithm>

#include "App.h"
#include "JavaSelection.h"
#include "JsonFields.h"
#include "SystemInfo.h"
#include "VersionRules.h"

namespace lumivale {

void ReportCoreInfo(App& app, const std::string& coreValue) {
    app.TakeJavaScan();
    Settings& settings = app.settings;
    const auto core = std::find_if(settings.cores.begin(), settings.cores.end(),
                                   [&](const CoreEntry& c) { return c.folder == coreValue; });
    if (core == settings.cores.end()) return;
    // The same Java the launch takes on "auto"; the choice itself stays "auto".
    const int major = RequiredJavaForCore(*core);
    const auto java = std::find_if(settings.javaList.begin(), settings.javaList.end(),
                                   [&](const JavaInstall& j) { return JavaMajorOf(j.name) == major; });
    const std::string javaDisplay = java == settings.javaList.end() ? std::string() : java->name;
    PostUiEvent(app, R"({"type":"sys:core_info","realVersion":")" + EscapeJsonBasic(core->realVersion) +
                         R"(","javaMajor":)" + std::to_string(major) + R"(,"javaDisplay":")" +
                         EscapeJsonBasic(javaDisplay) + R"("})");
}

void ReportJava(App& app) { PostUiEvent(app, JavaListEvent(app.settings.javaList)); }
void ReportCores(App& app) { PostUiEvent(app, CoreListEvent(app.settings.cores)); }
void ReportMemory(App& app) { PostUiEvent(app, MemoryEvent(TotalPhysicalMemoryBytes())); }
void ReportConfig(App& app) { PostUiEvent(app, ConfigEvent(app.settings)); }

}  // namespace lumivale
