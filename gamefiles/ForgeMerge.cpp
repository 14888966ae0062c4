#include "ForgeMerge.h"

#include <map>
#include <vector>

namespace lumivale {

namespace {

using json = nlohmann::json;

bool IsEmptyValue(const json& value) {
    if (value.is_string()) return value.get_ref<const std::string&>().empty();
    return value.is_null() || ((value.is_array() || value.is_object()) && value.empty());
}

std::vector<std::string> SplitColons(const std::string& text) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (true) {
        const std::size_t end = text.find(':', start);
        parts.push_back(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
        if (end == std::string::npos) break;
        start = end + 1;
    }
    return parts;
}

void AddLibraries(json& merged, std::map<std::string, std::size_t>& positions, const json& source) {
    if (!source.is_object()) return;
    const auto libraries = source.find("libraries");
    if (libraries == source.end() || !libraries->is_array()) return;
    for (const json& library : *libraries) {
        const auto name = library.is_object() ? library.find("name") : library.end();
        if (!library.is_object() || name == library.end() || !name->is_string()) {
            merged.push_back(library);
            continue;
        }
        const std::string key = LibraryMergeKey(name->get<std::string>());
        const auto found = positions.find(key);
        if (found != positions.end()) {
            merged[found->second] = library;
        } else {
            positions.emplace(key, merged.size());
            merged.push_back(library);
        }
    }
}

json ArgumentList(const json& versionJson, const char* kind) {
    if (!versionJson.is_object()) return json::array();
    const auto arguments = versionJson.find("arguments");
    if (arguments == versionJson.end() || !arguments->is_object()) return json::array();
    const auto list = arguments->find(kind);
    return list != arguments->end() && list->is_array() ? *list : json::array();
}

}  // namespace

std::string LibraryMergeKey(const std::string& name) {
    const std::vector<std::string> parts = SplitColons(name);
    if (parts.size() < 2) return name;
    std::string key = parts[0] + ":" + parts[1];
    if (parts.size() >= 4) key += ":" + parts[3];
    return key;
}

json MergeForgeVersionJson(const json& vanilla, const json& forge, const std::string& id) {
    json result = vanilla.is_object() ? vanilla : json::object();

    json libraries = json::array();
    std::map<std::string, std::size_t> positions;
    AddLibraries(libraries, positions, vanilla);
    AddLibraries(libraries, positions, forge);

    json arguments = json::object();
    for (const char* kind : {"game", "jvm"}) {
        json list = ArgumentList(vanilla, kind);
        for (const json& item : ArgumentList(forge, kind)) list.push_back(item);
        if (!list.empty()) arguments[kind] = std::move(list);
    }
    if (!arguments.empty()) result["arguments"] = std::move(arguments);

    if (forge.is_object()) {
        static const char* const kKept[] = {"id", "inheritsFrom", "_comment_", "libraries",
                                            "arguments", "time", "releaseTime"};
        for (const auto& [key, value] : forge.items()) {
            bool kept = false;
            for (const char* name : kKept) kept = kept || key == name;
            if (kept || IsEmptyValue(value)) continue;
            result[key] = value;
        }
    }

    result["libraries"] = std::move(libraries);
    // The id becomes the pack's name: "clientVersion" keeps the game version for the official
    // client jar check and the Java choice.
    if (const auto game = vanilla.is_object() ? vanilla.find("id") : vanilla.end();
        vanilla.is_object() && game != vanilla.end() && game->is_string() && !result.contains("clientVersion")) {
        result["clientVersion"] = *game;
    }
    result["id"] = id;
    result.erase("inheritsFrom");
    result.erase("_comment_");
    return result;
}

}  // namespace lumivale
