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
#include "ModrinthPack.h"

namespace lumivale {

// Marks a versions/<game version> folder that an import made for the Forge installer: such a
// folder is removed again after the install (also when an earlier, failed import made it); a
// folder without it is the player's own core and is never touched.
inline constexpr const char* kImportParentMarker = ".lumivale-import-parent";

inline constexpr const char* kUnusablePackNameMessage = "整合包名称无法用作文件夹名：";
inline constexpr const char* kUnusableGameVersionMessage = "整合包的游戏版本无法用作文件夹名：";
inline constexpr const char* kUnusableForgeVersionMessage = "整合包的 Forge 版本无法用作文件名：";
inline constexpr const char* kUnusableLoaderVersionMessage = "整合包的加载器版本无法用作文件名：";
// An import never writes into a version folder that is already there.
inline constexpr const char* kVersionExistsMessage = "已存在同名版本，导入不会覆盖它（请先重命名或删除）：";

// What the import needs from a pack, whichever kind it is.
struct ModpackPlan {
    std::string name;
    std::string gameVersion;
    std::string forgeVersion;               // empty: no Forge
    std::string loader;                     // "fabric", "quilt", "neoforge" (Modrinth packs); empty: none
    std::string loaderVersion;
    std::vector<std::string> overrides;     // zip prefixes, each ending in "/", extracted in order
    nlohmann::json curseForgeFiles = nlohmann::json::array();
    bool modrinth = false;
    std::vector<ModrinthFile> modrinthFiles;
};

// Reads manifest.json, or modrinth.index.json when there is no manifest. False with the
// import's error text when the pack cannot be imported (this includes unusable names).
bool ReadModpackPlan(const std::string& zipPath, ModpackPlan& plan, std::string& error);

// The pack's game version, or empty text when it cannot be read.
std::string PeekModpackGameVersion(const std::string& zipPath);

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
