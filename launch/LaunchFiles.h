#pragma once
// Files a launch writes just before the game starts: the natives, the authentication agent jar,
// and the id that tags one start.
#include <string>
#include <vector>

namespace lumivale {

// Extracts the native libraries (.dll .so .dylib .jnilib, exact case) of one natives jar into
// `nativesFolder`, keeping inner folders and skipping META-INF/ and every entry that begins with
// one of `exclude`. An entry that would land outside the folder is skipped. Returns how many files
// were written.
int extractNatives(const std::string& jarPath, const std::string& nativesFolder,
                   const std::vector<std::string>& exclude = {});

// The assets folder of ${game_assets}. The asset index assets/indexes/<indexId>.json of an old
// game asks for its objects by name: "map_to_resources" in <game directory>/resources, "virtual"
// in <game root>/assets/virtual/<indexId>. That folder is filled from assets/objects (each object
// present there and missing or of another size at its name is copied) and returned. For any
// other index, or one that cannot be read, <game root>/assets.
std::string prepareGameAssets(const std::string& gameRoot, const std::string& gameDirectory,
                              const std::string& indexId);

// Writes the resource `resourceId` to `targetPath`; false when the resource is empty or the
// write fails.
bool writeAgentJar(int resourceId, const std::string& targetPath);

// A fresh lower-case UUID text, or "lv-<pid>-<unix seconds>" when none can be made.
std::string makeLaunchId();

}  // namespace lumivale
