#pragma once
// The game cores: version folders of the game folder that hold a client jar.
#include <string>
#include <vector>

#include "GameTypes.h"

namespace lumivale {

struct Settings;

// Folders of <gameDir>/versions that hold a jar above 10 MiB (the first such jar enumerated), in
// the order the file system lists them. Nothing when there is no versions folder.
std::vector<CoreEntry> ListCores(const std::string& gameDir, bool& versionsFolderFound);

// Rebuilds settings.cores; an empty selectedCore takes the first core. Writes a console line.
void ScanCores(Settings& settings);

// The game version a core is based on: "clientVersion", else "id" of its version JSON (named
// after the jar, else after the folder), else the number in the folder name, else empty.
std::string RealVersion(const std::string& folder, const std::string& jarFileName,
                        const std::string& folderName);

}  // namespace lumivale
