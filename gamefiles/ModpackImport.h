#pragma once
// A modpack zip becomes a launchable core versions/<pack name>: the vanilla files of its game
// version, the pack's own files (overrides), the loader the pack names (Forge, NeoForge, Fabric,
// Quilt), and its mods. Two
// kinds of pack: CurseForge (manifest.json) and Modrinth (modrinth.index.json, an .mrpack).
//
// Nothing is ever written outside the game folder: the pack name, the game version and the Forge
// version become folder names only when they are plain names, and zip entries and index paths
// stay inside the version folder.
#include <memory>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "CloudClient.h"
#include "GameFileCompletion.h"
#include "ModDownload.h"
#include "ModpackPlan.h"
#include "ModrinthPack.h"

namespace lumivale {

// Marks a versions/<game version> folder that an import made for the Forge installer: such a
// folder is removed again after the install (also when an earlier, failed import made it); a
// folder without it is the player's own core and is never touched.
inline constexpr const char* kImportParentMarker = ".lumivale-import-parent";

// An import never writes into a version folder that is already there.
inline constexpr const char* kVersionExistsMessage = "已存在同名版本，导入不会覆盖它（请先重命名或删除）：";

struct ModpackImportContext {
    std::string gameDir;
    std::string programDir;  // holds cache/ and log/
    std::string javaPath;    // runs the Forge installer
    std::shared_ptr<CloudClient> cloud;  // may be empty: no mods then
    CancelCheck cancelled;               // may be empty
};

// Makes versions/<pack name> (refused when it exists) and fills it. On any failure, a cancel
// included, what the import made goes again: the version folder, a game-version folder made for
// the Forge installer, and legacy folders it moved are moved back.
bool ImportModpack(const std::string& zipPath, const ModpackImportContext& context,
                   const ModpackProgress& progress, std::string& error, ModCounters& counters);

}  // namespace lumivale
