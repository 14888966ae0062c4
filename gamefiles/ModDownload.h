#pragma once
// Step 7 of a modpack import: every manifest "files" entry (a CurseForge project and file) into
// the core's mods, resourcepacks or shaderpacks folder. The link comes from CurseForge itself
// (with the API key the backend hands out), else from the backend; when there is no link or its
// download fails twice, the backend's own store copy is fetched. Eight entries at a time.
#include <cstdint>
#include <map>
#include <string>

#include <nlohmann/json.hpp>

#include "CloudClient.h"
#include "GameFileCompletion.h"

namespace lumivale {

inline constexpr int kModpackModsStep = 7;
inline constexpr int kModWorkers = 8;

// Result codes of one entry.
inline constexpr int kModDirect = 1;
inline constexpr int kModFromStore = 2;
inline constexpr int kModPresent = -2;
inline constexpr int kModFailed = 0;
inline constexpr int kModWithoutIds = -1;

struct ModCounters {
    std::int32_t total = 0;
    std::int32_t direct = 0;
    std::int32_t s3 = 0;
    std::int32_t skipped = 0;
    std::int32_t failed = 0;
};

struct StoreMod {
    std::string name;
    std::string type;
};
// Key "project:file" -> the store's copy, from the answer of /api/mod/list.
using ModCatalogue = std::map<std::string, StoreMod>;
ModCatalogue ParseModCatalogue(const std::string& answer);

// "resourcepack" -> resourcepacks, "shader" -> shaderpacks, anything else -> mods.
std::string FolderForModType(const std::string& type);
// 4471, 6552 -> "shader"; 12, 4195 -> "resourcepack"; anything else -> "mod".
std::string ModTypeForClassId(std::int64_t classId);

// The type of a project with this class id: known ids at once, else the client's class cache,
// else one CurseForge project request (remembered, also when it fails, as class 0).
std::string ResolveModType(CloudClient& client, const std::string& project, std::int64_t classId,
                           const std::string& apiKey);

// {"success":true,"url":…,"name":…,"type":…} built from the CurseForge file answer, or the
// backend's /api/curseforge/download answer as it came.
std::string ResolveModLink(CloudClient& client, const std::string& project, const std::string& file);

// The text of a JSON number or string id; empty when `value` is neither.
std::string ModIdText(const nlohmann::json& value);

// One entry into its folder below `versionFolder`: one of the result codes above.
int ResolveAndDownloadMod(CloudClient& client, const ModCatalogue& catalogue,
                          const nlohmann::json& entry, const std::string& versionFolder);

void DownloadMods(const nlohmann::json& files, const std::string& versionFolder,
                  CloudClient& client, const ModpackProgress& progress, ModCounters& counters);

}  // namespace lumivale
