#pragma once
// Folders of a pack that earlier imports left directly in versions/ as <pack name><folder>
// (versions/Pconfig beside versions/P) are moved to their place inside the version folder.
#include <array>
#include <string>

namespace lumivale {

inline constexpr std::array<const char*, 15> kLegacyFolderNames{
    "config",          "defaultconfigs", "mods",       "resourcepacks", "shaderpacks",
    "scripts",         "kubejs",         "packmenu",   "patchouli_books", "schematics",
    "structures",      "global_packs",   "local",      "journeymap",    "ftbquests"};

// For each name in order: versions/<pack><name> moves to versions/<pack>/<name> unless that place
// is taken. Never fails; each outcome is a console line.
void MigrateLegacyFolders(const std::string& gameDir, const std::string& packName);

}  // namespace lumivale
