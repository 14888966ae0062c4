// The Java and core lists reach the page whatever bytes a folder name or path holds: the event is
// valid JSON, and names that are UTF-8 arrive unchanged. The input is a list of texts separated by
// zero bytes, taken in turn as names, paths and versions.
#include <nlohmann/json.hpp>

#include "FuzzTarget.h"
#include "SystemEvents.h"

using namespace lumivale;
using lumivale::fuzz::FuzzCheck;
using lumivale::fuzz::IsUtf8;

LUMIVALE_FUZZ_TARGET(Events) {
    std::vector<std::string> texts;
    const std::string input = fuzz::AsText(data, size);
    for (std::size_t at = 0;;) {
        const std::size_t end = input.find('\0', at);
        texts.push_back(input.substr(at, end == std::string::npos ? end : end - at));
        if (end == std::string::npos) break;
        at = end + 1;
    }
    texts.resize((texts.size() + 2) / 3 * 3);
    std::vector<JavaInstall> javas;
    std::vector<CoreEntry> cores;
    for (std::size_t i = 0; i < texts.size(); i += 3) {
        javas.push_back(JavaInstall{texts[i], texts[i + 1]});
        CoreEntry core;
        core.name = texts[i];
        core.folder = texts[i + 1];
        core.realVersion = texts[i + 2];
        cores.push_back(core);
    }
    const std::string javaEvent = JavaListEvent(javas), coreEvent = CoreListEvent(cores);
    FuzzCheck(nlohmann::json::accept(javaEvent), "sys:java is valid JSON");
    FuzzCheck(nlohmann::json::accept(coreEvent), "sys:cores is valid JSON");
    const auto list = nlohmann::json::parse(coreEvent)["list"];
    FuzzCheck(list.size() == cores.size(), "every core is listed");
    for (std::size_t i = 0; i < cores.size(); ++i) {
        if (IsUtf8(cores[i].folder)) FuzzCheck(list[i]["value"] == cores[i].folder, "a UTF-8 folder arrives unchanged");
    }
    return 0;
}
