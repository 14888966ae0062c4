#include "ModrinthIndex.h"

#include <cctype>
#include <cstdint>

#include "JsonDocument.h"

namespace lumivale {

namespace {

using json = nlohmann::json;

std::string StringOr(const json& object, const char* name) {
    if (!object.is_object()) return {};
    const auto found = object.find(name);
    return found != object.end() && found->is_string() ? found->get<std::string>() : std::string();
}

std::string Lowercase(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

}  // namespace

bool ParseModrinthIndex(const std::string& text, ModrinthIndex& index, std::string& error) {
    const json document = ParseJsonDocument(text);
    if (document.is_discarded()) {
        error = "modrinth.index.json 不是合法 JSON";
        return false;
    }
    const auto format = document.is_object() ? document.find("formatVersion") : document.end();
    if (!document.is_object() || format == document.end() || !format->is_number_integer() ||
        format->get<std::int64_t>() != 1 || StringOr(document, "game") != "minecraft") {
        error = "不支持的 modrinth.index.json 格式";
        return false;
    }
    index = ModrinthIndex{};
    index.name = StringOr(document, "name");
    const auto dependencies = document.find("dependencies");
    if (dependencies != document.end() && dependencies->is_object()) {
        index.gameVersion = StringOr(*dependencies, "minecraft");
        index.forgeVersion = StringOr(*dependencies, "forge");
        for (const auto& [dependency, loader] : {std::pair{"fabric-loader", "fabric"}, std::pair{"quilt-loader", "quilt"},
                                                 std::pair{"neoforge", "neoforge"}}) {
            const std::string version = StringOr(*dependencies, dependency);
            if (!version.empty() && index.loader.empty()) {
                index.loader = loader;
                index.loaderVersion = version;
            }
        }
    }
    const auto files = document.find("files");
    if (files != document.end() && files->is_array()) {
        for (const json& file : *files) {
            if (!file.is_object()) continue;
            const auto env = file.find("env");
            if (env != file.end() && StringOr(*env, "client") == "unsupported") continue;
            ModrinthFile entry;
            entry.path = StringOr(file, "path");
            const auto downloads = file.find("downloads");
            if (downloads != file.end() && downloads->is_array() && !downloads->empty() &&
                downloads->front().is_string()) {
                entry.url = downloads->front().get<std::string>();
            }
            const auto hashes = file.find("hashes");
            if (hashes != file.end()) entry.sha1 = Lowercase(StringOr(*hashes, "sha1"));
            index.files.push_back(std::move(entry));
        }
    }
    return true;
}

}  // namespace lumivale
