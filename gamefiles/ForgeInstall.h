#pragma once
// Installing Forge (or NeoForge) for a modpack without any window: the official installer jar is
// fetched (and kept in <program folder>/cache), run with Java in client-install mode against the
// game folder, and the version it wrote (versions/<V>-forge-<F>, neoforge-<N>) is folded into the
// pack's core and removed.
#include <chrono>
#include <string>

#include <nlohmann/json.hpp>

#include "GameFileCompletion.h"
#include "LoaderVersions.h"

namespace lumivale {

inline constexpr int kModpackForgeStep = 6;

// The stub the installer insists on, written once when the game folder has none.
inline constexpr const char* kLauncherProfilesStub =
    R"({"profiles":{},"selectedProfile":"","clientToken":"","launcherVersion":{"format":1,"profilesFormat":2},"settings":{}})";

// Step 6 with Forge or NeoForge (`kind`): installer download (or the cached one), the run, the
// merged JSON written to versions/<packName>/<packName>.json, the patched jar moved onto
// <packName>.jar. False with `error` set when the core cannot be made.
bool InstallForgeForModpack(const std::string& gameDir, const std::string& programDir,
                            const std::string& gameVersion, const std::string& forgeVersion,
                            const std::string& packName, const std::string& javaPath,
                            const nlohmann::json& vanillaJson, const ModpackProgress& progress,
                            std::string& error, const CancelCheck& cancelled = nullptr,
                            LoaderKind kind = LoaderKind::Forge);

// The version id a Forge or NeoForge installer jar will write (its version.json "id", else its
// install profile's "version", "install.target" or "versionInfo.id"); empty when it names none
// usable as a folder name.
std::string InstallerVersionId(const std::string& installerJar);

// How long an installer may run before it is stopped with everything it started, and what ends
// it early. A hung installer must not keep an import busy for the rest of the session.
struct InstallerLimits {
    std::chrono::milliseconds timeLimit{std::chrono::minutes(10)};
    CancelCheck cancelled;  // may be empty
};

// Runs "java -jar installer --installClient gameDir" with its output in `logPath` (made anew).
// The stub launcher_profiles.json is written first when missing. True on exit code 0.
bool RunForgeInstaller(const std::string& javaPath, const std::string& installerPath,
                       const std::string& gameDir, const std::string& logPath, std::string& error,
                       const InstallerLimits& limits = {});

// Points every profile of <gameDir>/launcher_profiles.json at `versionId`; a file that cannot be
// read, or has no "profiles" object, is left alone.
void UpdateLauncherProfiles(const std::string& gameDir, const std::string& versionId);

// Deletes the folder with everything in it; true when it is gone (also when it never existed).
// Links inside are removed, never followed.
bool DeleteTree(const std::string& folder);

}  // namespace lumivale
