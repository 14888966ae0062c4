#include "SystemReports.h"

#include <algorithm>

#include "App.h"
#include "JavaSelection.h"
#include "JsonFields.h"
#include "SystemInfo.h"
#include "VersionRules.h"

namespace lumivale {

std::string JavaListEvent(const std::vector<JavaInstall>& javaList) {
    std::string event = R"({"type":"sys:java","list":[)";
    for (std::size_t i = 0; i < javaList.size(); ++i) {
        if (i > 0) event += ',';
        event += R"({"name":")" + EscapeJsonBasic(javaList[i].name) + R"(","value":")" +
                 EscapeJsonBasic(javaList[i].exe) + R"("})";
    }
    return event + "]}";
}

std::string CoreListEvent(const std::vector<CoreEntry>& cores) {
    std::string event = R"({"type":"sys:cores","list":[)";
    for (std::size_t i = 0; i < cores.size(); ++i) {
        if (i > 0) event += ',';
        event += R"({"name":")" + EscapeJsonBasic(cores[i].name) + R"(","value":")" +
                 EscapeJsonBasic(cores[i].folder) + R"(","real":")" +
                 EscapeJsonBasic(cores[i].realVersion) + R"("})";
    }
    return event + "]}";
}

std::string MemoryEvent(std::uint64_t totalBytes) {
    const auto totalGB = static_cast<std::int64_t>(static_cast<double>(totalBytes) / 1073741824.0 + 0.5);
    const std::int64_t recommendedG = std::clamp<std::int64_t>(totalGB / 2, 2, 16);
    return R"({"type":"sys:memory","totalGB":)" + std::to_string(totalGB) + R"(,"recommendedG":)" +
           std::to_string(recommendedG) + "}";
}

std::string ConfigEvent(const Settings& settings) {
    return R"({"type":"sys:config","process_priority":")" + EscapeJsonText(settings.processPriority) +
           R"(","gc_preset":")" + EscapeJsonText(settings.gcPreset) + R"(","custom_jvm_args":")" +
           EscapeJsonText(settings.customJvmArgs) + R"(","server_address":")" +
           EscapeJsonText(settings.serverAddress) + R"(","server_port":)" +
           std::to_string(settings.serverPort) + "}";
}

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
