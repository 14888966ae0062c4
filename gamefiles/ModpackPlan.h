#pragma once
// What an import needs from a pack, read from the text of its manifest.json (CurseForge) or
// modrinth.index.json (Modrinth). The names that become folder and file names are checked here,
// before anything is written.
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "ModrinthIndex.h"
#include "ZipArchive.h"

namespace lumivale {

inline constexpr const char* kUnusablePackNameMessage = "整合包名称无法用作文件夹名：";
inline constexpr const char* kUnusableGameVersionMessage = "整合包的游戏版本无法用作文件夹名：";
inline constexpr const char* kUnusableForgeVersionMessage = "整合包的 Forge 版本无法用作文件名：";
inline constexpr const char* kUnusableLoaderVersionMessage = "整合包的加载器版本无法用作文件名：";
inline constexpr const char* kPackTooLargeMessage = "整合包解压后超过 8 GB，可能是恶意压缩包，已拒绝导入：";
inline constexpr const char* kPackRatioMessage = "整合包里有压缩比异常的大文件（解压后会膨胀上千倍），可能是恶意压缩包，已拒绝导入：";

// A pack is refused before anything is written when its entries add up to more than 8 GiB, or an
// entry of 16 MiB or more would grow over 200 times (real files rarely pass 20; deflate's limit is
// about 1,000, which only a made-up file of one repeated byte reaches).
inline constexpr ZipLimits kModpackZipLimits{8ull << 30, 200, 16u << 20};

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
    std::uint64_t unpackedSize = 0;  // all entries of the pack, unpacked
};

// The manifest.json and modrinth.index.json readers: false with the import's error text when the
// pack cannot be imported (this includes unusable names). Any text is safe to pass.
bool ReadCurseForgePlan(const std::string& text, ModpackPlan& plan, std::string& error);
bool ReadModrinthPlan(const std::string& text, ModpackPlan& plan, std::string& error);

// Reads manifest.json, or modrinth.index.json when there is no manifest. False with the
// import's error text when the pack cannot be imported (this includes unusable names).
bool ReadModpackPlan(const std::string& zipPath, ModpackPlan& plan, std::string& error);

// The pack's game version, or empty text when it cannot be read.
std::string PeekModpackGameVersion(const std::string& zipPath);

}  // namespace lumivale
