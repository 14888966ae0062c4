#pragma once
// Folders of a pack that earlier imports left directly in versions/ as <pack name><folder>
// (versions/Pconfig beside versions/P) are moved to their place inside the version folder.
#include <array>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

namespace lumivale {

inline constexpr std::array<const char*, 15> kLegacyFolderNames{
    "config",          "defaultconfigs", "mods",       "resourcepacks", "shaderpacks",
    "scripts",         "kubejs",         "packmenu",   "patchouli_books", "schematics",
    "structures",      "global_packs",   "local",      "journeymap",    "ftbquests"};

// Where a legacy folder was and where it went.
using MovedFolders = std::vector<std::pair<std::filesystem::path, std::filesystem::path>>;

// For each name in order: versions/<pack><name> moves to versions/<pack>/<name> unless that place
// is taken. Never fails; each outcome is a console line. Returns what moved.
MovedFolders MigrateLegacyFolders(const std::string& gameDir, const std::string& packName);

// Moves folders back to where they were (an import that failed gives the player's folders back
// before it removes what it made).
void RestoreLegacyFolders(const MovedFolders& moved);

}  // namespace lumivale
