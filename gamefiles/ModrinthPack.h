#pragma once
// Modrinth packs (.mrpack): a zip with modrinth.index.json, "overrides/" and "client-overrides/".
// The index names the game version, the loader and files to fetch, each with its place inside
// the version folder and its SHA-1.
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "GameFileCompletion.h"
#include "ModDownload.h"

namespace lumivale {

inline constexpr const char* kModrinthIndexName = "modrinth.index.json";

// One file of the index that the client needs.
struct ModrinthFile {
    std::string path;  // as written in the index
    std::string url;   // the first download address
    std::string sha1;  // lower-case hex; empty when the index gives none
};

struct ModrinthIndex {
    std::string name;
    std::string gameVersion;
    std::string forgeVersion;   // empty without a "forge" dependency
    std::string loader;         // "fabric", "quilt" or "neoforge" (the first one named); empty: none
    std::string loaderVersion;  // that loader's version
    std::vector<ModrinthFile> files;
};

// False with `error` set when the text is not an index of formatVersion 1 for "minecraft".
bool ParseModrinthIndex(const std::string& text, ModrinthIndex& index, std::string& error);

// Step 7 for a Modrinth pack: each file from its first address to its path inside the version
// folder, verified by SHA-1 (a file that does not match is not kept). A path that would leave the
// folder is refused. direct = fetched, skipped = already present and matching, failed = the rest.
void DownloadModrinthFiles(const std::vector<ModrinthFile>& files, const std::string& versionFolder,
                           const ModpackProgress& progress, ModCounters& counters);

}  // namespace lumivale
