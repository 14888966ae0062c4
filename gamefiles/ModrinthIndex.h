#pragma once
// modrinth.index.json, the heart of a Modrinth pack (.mrpack): the game version, the loader and
// the files to fetch, each with its place inside the version folder and its SHA-1.
#include <string>
#include <vector>

namespace lumivale {

inline constexpr const char* kModrinthIndexName = "modrinth.index.json";

// One file of the index that the client needs.
struct ModrinthFile {
    std::string path;  // as written in the index
    std::string url;   // the first download address
    std::string sha1;  // lower-case hex; empty when the index gives none
};

struct ModrinthIndex {
    std::string name;
    std::string gameVersion;
    std::string forgeVersion;   // empty without a "forge" dependency
    std::string loader;         // "fabric", "quilt" or "neoforge" (the first one named); empty: none
    std::string loaderVersion;  // that loader's version
    std::vector<ModrinthFile> files;
};

// False with `error` set when the text is not an index of formatVersion 1 for "minecraft".
bool ParseModrinthIndex(const std::string& text, ModrinthIndex& index, std::string& error);

}  // namespace lumivale
