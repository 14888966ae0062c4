#pragma once
// Which loader versions exist for a game version, and where a loader's files come from: Fabric
// (meta v2, mirrored), Quilt (meta v3, its own host only: the mirror's copy is not dependable),
// Forge (the mirror's per-game list, else the Maven metadata of Forge's repository) and NeoForge
// (the mirror's per-game list, else NeoForge's Maven metadata). Every list is newest first.
#include <string>
#include <vector>

#include "Endpoints.h"

namespace lumivale {

enum class LoaderKind { None, Fabric, Quilt, Forge, NeoForge };

// "", "fabric", "quilt", "forge", "neoforge"; false for any other text.
bool ParseLoaderKind(const std::string& text, LoaderKind& kind);
const char* LoaderKindName(LoaderKind kind);

struct LoaderVersionLists {
    std::vector<std::string> fabric;
    std::vector<std::string> quilt;
    std::vector<std::string> forge;     // the Maven coordinate after "<game>-": "47.2.0", "10.13.4.1614-1.7.10"
    std::vector<std::string> neoforge;  // the Maven version: "21.1.77", "1.20.1-47.1.106"
};

// The answers of each source, as they are published.
// Fabric and Quilt loader lists for a game: loader.version of each row, in the answer's order.
std::vector<std::string> ParseFabricStyleLoaders(const std::string& text);
// The mirror's Forge builds of a game: version, "-" + branch when there is one; builds that list
// files but no installer jar are left out.
std::vector<std::string> ParseMirrorForgeList(const std::string& text);
// The <version> texts inside <versions> of a Maven metadata file, in file order.
std::vector<std::string> ParseMavenVersions(const std::string& xml);
// Forge coordinates "<game>-<rest>" of this game (the whole game part must match), as <rest>.
std::vector<std::string> ForgeVersionsOfGame(const std::vector<std::string>& coordinates, const std::string& game);
// The mirror's NeoForge builds: the Maven version its installerPath names, else its version.
std::vector<std::string> ParseMirrorNeoForgeList(const std::string& text);
// The game a NeoForge version belongs to: 21.1.77 -> 1.21.1, 21.0.3-beta -> 1.21, 26.1.0.9+pre-1 ->
// 26.1-pre-1, 0.25w14craftmine.5-beta -> 25w14craftmine; the old "forge" artifact -> 1.20.1.
std::string NeoForgeGameOf(const std::string& version);

// Newest first by the parts of each text (numbers as numbers), a leading `ignoredPrefix` left out
// of the comparison; equal texts once.
void SortNewestFirst(std::vector<std::string>& versions, const std::string& ignoredPrefix = {});

// All four lists of `game`; a source that fails gives an empty list and holds up no other.
LoaderVersionLists FetchLoaderVersions(const Endpoints& endpoints, const std::string& game);

// Where the Fabric or Quilt profile JSON of a loader version is asked for, in order.
std::vector<std::string> LoaderProfileUrls(const Endpoints& endpoints, LoaderKind kind, const std::string& game,
                                           const std::string& loaderVersion);
// The official address of a Forge or NeoForge installer (the download engine tries the mirror's
// form first).
std::string LoaderInstallerUrl(const Endpoints& endpoints, LoaderKind kind, const std::string& game,
                               const std::string& loaderVersion);

}  // namespace lumivale
