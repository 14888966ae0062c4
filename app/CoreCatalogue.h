#pragma once
// The game cores: version folders of the game folder that hold a client jar.
#include <string>
#include <vector>

#include "GameTypes.h"

namespace lumivale {

struct Settings;

// Folders of <gameDir>/versions that are cores, in the order the file system lists them: a folder
// holding a jar above 10 MiB (the first such jar enumerated) is one; so is a folder whose version
// JSON <name>.json resolves (every parent its inheritsFrom chain names is there), with its own
// <name>.jar of any size, else the jar of the first ancestor that has one. Nothing when there is
// no versions folder.
std::vector<CoreEntry> ListCores(const std::string& gameDir, bool& versionsFolderFound);

// Rebuilds settings.cores; an empty selectedCore takes the first core. Writes a console line.
void ScanCores(Settings& settings);

// The game version a core is based on: "clientVersion", else "id" of its version JSON (named
// after the jar, else after the folder), else the number in the folder name, else empty. (ListCores
// takes the game version of the last ancestor for a core that inherits and names no clientVersion.)
std::string RealVersion(const std::string& folder, const std::string& jarFileName,
                        const std::string& folderName);

}  // namespace lumivale
