#pragma once
// Installing a game version as a new core versions/<name>: the vanilla version JSON (checked
// against the manifest's SHA-1), its client jar, libraries, natives, asset index and every asset
// object, each checked against the SHA-1 its JSON declares; then, when asked, a loader on top:
// Fabric and Quilt as a profile JSON inheriting from the vanilla version (which is installed as
// versions/<game version> when missing), Forge and NeoForge by running their installer.
//
// An existing version folder is never written into: the new core's name must be free, and a
// vanilla parent that is already there is only read. What the install made goes again when it
// fails or is cancelled; libraries and assets it fetched stay, they are shared by every core.
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "DownloadEngine.h"
#include "Endpoints.h"
#include "GameFileCompletion.h"
#include "LoaderVersions.h"

namespace lumivale {

struct VersionInstallRequest {
    std::string id;             // the game version, as the manifest names it
    std::string loader;         // "", "fabric", "quilt", "forge", "neoforge"
    std::string loaderVersion;  // as the loader lists give it
    std::string name;           // the new core's folder name
};

struct VersionInstallContext {
    std::string gameDir;
    std::string programDir;  // cache/ (version list, installers) and log/ (installer output)
    std::string javaPath;    // runs Forge and NeoForge installers
    CancelCheck cancelled;   // may be empty
    Endpoints endpoints = GetEndpoints();
};

// Where an install stands: the phase ("json", "client", "libraries", "assets", "loader"), the files
// of the current step done and in all, the bytes of the files done, and a line for the player.
struct VersionProgress {
    std::string phase;
    int done = 0;
    int total = 0;
    std::int64_t bytes = 0;
    std::string text;
};
using VersionProgressSink = std::function<void(const VersionProgress&)>;

// How often progress is reported while files move or an installer runs.
inline constexpr std::chrono::milliseconds kVersionProgressInterval{250};

inline constexpr const char* kInstallCancelledMessage = "已取消安装";
inline constexpr const char* kVersionNameExistsMessage = "已存在同名版本，安装不会覆盖它：";
inline constexpr const char* kUnusableVersionNameMessage = "版本名称不能用作文件夹名：";

// One file to fetch into the game folder.
struct InstallFile {
    std::string url;
    std::string target;  // full path
    std::string label;   // what the player is told: the path inside the game folder
    std::string phase;   // "client", "libraries", "assets", "loader"
    ExpectedFile expected;
};

// Every file that is not present yet (by its declared size) through the download engine, 64 at a
// time, progress every kVersionProgressInterval. The first failure stops the rest and its reason
// names the file and whether the network, the checksum or the disk failed. Files present count
// as done. The one place where installs move files, as one batch of the download engine.
bool DownloadInstallFiles(const std::vector<InstallFile>& files, const VersionProgressSink& progress,
                          const CancelCheck& cancelled, std::string& error);

// The files the libraries of one version JSON need here: class-path jars (also those named only
// by coordinates, with a url base or the official libraries host) and natives, with the SHA-1 and
// size each declares. Paths that would leave libraries/ are left out.
std::vector<InstallFile> LibraryInstallFiles(const nlohmann::json& versionJson, const std::string& gameDir,
                                             const std::string& phase, const Endpoints& endpoints);

// The Fabric or Quilt profile JSON of a loader version for `game`; null with `error` set when no
// source gives one.
nlohmann::json FetchLoaderProfile(const Endpoints& endpoints, LoaderKind kind, const std::string& game,
                                  const std::string& loaderVersion, std::string& error);

// The whole install. False with a reason the player understands (kInstallCancelledMessage after
// a cancel); nothing of the new core is left then.
bool InstallVersion(const VersionInstallRequest& request, const VersionInstallContext& context,
                    const VersionProgressSink& progress, std::string& error);

}  // namespace lumivale
