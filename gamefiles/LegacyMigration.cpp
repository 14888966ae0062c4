#include "LegacyMigration.h"

#include <filesystem>
#include <system_error>

#include "Log.h"
#include "Paths.h"

namespace lumivale {

MovedFolders MigrateLegacyFolders(const std::string& gameDir, const std::string& packName) {
    namespace fs = std::filesystem;
    MovedFolders moved;
    const fs::path versions = Utf8Path(gameDir) / "versions";
    for (const char* name : kLegacyFolderNames) {
        const fs::path legacy = versions / Utf8Path(packName + name);
        const fs::path proper = versions / Utf8Path(packName) / name;
        std::error_code error;
        // A link is not followed: only a real folder of that name moves.
        if (!fs::is_directory(fs::symlink_status(legacy, error))) continue;
        const std::string legacyText = PathUtf8(legacy);
        if (fs::exists(fs::symlink_status(proper, error))) {
            ConsoleLog("新旧目录同时存在，保留旧目录不动：" + legacyText);
            continue;
        }
        fs::rename(legacy, proper, error);
        if (!error) {
            moved.emplace_back(legacy, proper);
            ConsoleLog("已迁移历史遗留目录到正确位置：" + legacyText);
        } else {
            ConsoleLog("历史遗留目录迁移失败（保留原样）：" + legacyText);
        }
    }
    return moved;
}

void RestoreLegacyFolders(const MovedFolders& moved) {
    for (const auto& [legacy, proper] : moved) {
        std::error_code error;
        std::filesystem::rename(proper, legacy, error);
        if (error) ConsoleLog("历史遗留目录未能移回：" + PathUtf8(proper));
    }
}

}  // namespace lumivale
