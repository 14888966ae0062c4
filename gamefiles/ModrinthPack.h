#pragma once
// Modrinth packs (.mrpack): a zip with modrinth.index.json, "overrides/" and "client-overrides/".
// The index names the game version, the loader and files to fetch, each with its place inside
// the version folder and its SHA-1.
#include <string>
#include <vector>

#include "GameFileCompletion.h"
#include "ModrinthIndex.h"
#include "ModDownload.h"

namespace lumivale {

// Step 7 for a Modrinth pack: each file from its first address to its path inside the version
// folder, verified by SHA-1 (a file that does not match is not kept). A path that would leave the
// folder is refused. direct = fetched, skipped = already present and matching, failed = the rest.
void DownloadModrinthFiles(const std::vector<ModrinthFile>& files, const std::string& versionFolder,
                           const ModpackProgress& progress, ModCounters& counters);

}  // namespace lumivale
