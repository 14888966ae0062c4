#include "VersionList.h"

#include <filesystem>
#include <system_error>

#include "Files.h"
#include "JsonDocument.h"
#include "Log.h"
#include "MetadataFetch.h"
#include "ModpackZip.h"
#include "Paths.h"

namespace lumivale {

namespace {

using json = nlohmann::json;

std::string Text(const json& object, const char* key) {
    if (!object.is_object()) return {};
    const auto found = object.find(key);
    return found != object.end() && found->is_string() ? found->get<std::string>() : std::string();
}

}  // namespace

bool ParseGameVersionList(const std::string& text, GameVersionList& list) {
    const json manifest = ParseJsonDocument(text);
    const auto versions = manifest.is_object() ? manifest.find("versions") : manifest.end();
    if (!manifest.is_object() || versions == manifest.end() || !versions->is_array()) return false;
    list = GameVersionList{};
    if (const auto latest = manifest.find("latest"); latest != manifest.end()) {
        list.latestRelease = Text(*latest, "release");
        list.latestSnapshot = Text(*latest, "snapshot");
    }
    for (const json& entry : *versions) {
        GameVersionEntry version{Text(entry, "id"), Text(entry, "type"), Text(entry, "url"),
                                 Text(entry, "sha1"), Text(entry, "releaseTime")};
        // The id becomes a folder name when it is installed.
        if (!IsUsableFileName(version.id) || version.url.empty()) continue;
        list.versions.push_back(std::move(version));
    }
    return true;
}

bool LoadGameVersionList(const Endpoints& endpoints, const std::string& cacheFolder, GameVersionList& list,
                         std::string& error) {
    const std::string path = "mc/game/version_manifest_v2.json";
    const std::filesystem::path cache = Utf8Path(cacheFolder) / kVersionListCacheName;
    std::string why;
    for (const std::string& base : {endpoints.mirrorBase, endpoints.officialMetaBase}) {
        const MetadataAnswer answer = FetchMetadata({base + path});
        if (answer.ok && ParseGameVersionList(answer.body, list)) {
            std::error_code ignored;
            std::filesystem::create_directories(cache.parent_path(), ignored);
            if (!WriteFileAtomically(cache, answer.body)) ConsoleLog("版本列表缓存写入失败：" + PathUtf8(cache));
            return true;
        }
        why = answer.ok ? "版本列表格式无法识别：" + answer.url : answer.error;
        ConsoleLog("版本列表获取失败：" + why);
    }
    std::string cached;
    if (ReadWholeFile(cache, cached) && ParseGameVersionList(cached, list)) {
        ConsoleLog("版本列表获取失败，使用缓存：" + why);
        list.offline = true;
        return true;
    }
    error = kVersionListFailedMessage + why;
    return false;
}

const GameVersionEntry* FindGameVersion(const GameVersionList& list, const std::string& id) {
    for (const GameVersionEntry& entry : list.versions) {
        if (entry.id == id) return &entry;
    }
    return nullptr;
}

}  // namespace lumivale
