#pragma once
// What the launcher keeps between runs: launcher options in config.ini beside the program, the
// account in the credential store, and the built-in values the other parts read from here.
#include <cstdint>
#include <string>
#include <vector>

#include "GameTypes.h"
#include "OAuth.h"

namespace lumivale {

struct Settings {
    OAuthConfig oauth;
    std::vector<JavaInstall> javaList;
    std::vector<CoreEntry> cores;  // rebuilt by every scan, never stored
    std::string selectedJava;
    std::string selectedCore;
    std::int32_t memoryMb = 8192;
    std::string processPriority = "medium";
    std::string gcPreset = "g1_optimized";
    std::string customJvmArgs;
    std::string serverAddress;
    std::int32_t serverPort = 25565;
    std::string gameDir;
    std::string accessToken;
    std::string currentRole;
    std::string currentRoleId;
    std::string clientToken;
    std::string availableProfiles;
    std::string accountId;
    std::string accountName;
    std::string yggdrasilRoot;
    std::string privateKey;
    std::string serverUrl;
    std::string configPath;

    // Defaults; the game and config paths under the program folder. Touches no file.
    Settings();
    // Reads config.ini and the credential store (migrating older account keys first). Missing
    // files and keys leave the defaults.
    void Load();
    // Writes every stored field: config.ini and the credential store. False when config.ini could
    // not be written.
    bool Save();
    const std::string& ConfigPath() const { return configPath; }
};

// The least memory a game is given, in MB.
inline constexpr std::int64_t kLeastMemoryMb = 512;

// `requested` MB bounded to kLeastMemoryMb .. the machine's memory (no upper bound when the
// machine's memory is unknown, 0).
std::int32_t BoundedMemoryMb(std::int64_t requested, std::uint64_t machineBytes);

}  // namespace lumivale
