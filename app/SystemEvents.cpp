#include "SystemEvents.h"

#include <algorithm>

#include "JsonFields.h"
#include "Settings.h"

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
           std::to_string(settings.serverPort) + R"(,"memory_mb":)" + std::to_string(settings.memoryMb) +
           R"(,"selected_java":")" + EscapeJsonText(settings.selectedJava) + R"(","selected_core":")" +
           EscapeJsonText(settings.selectedCore) + R"("})";
}

}  // namespace lumivale
