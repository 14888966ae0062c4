#include "Settings.h"

#include <algorithm>
#include <limits>

#include "CredentialStore.h"
#include "Endpoints.h"
#include "IniFile.h"
#include "Paths.h"
#include "Scrambled.h"

namespace lumivale {

namespace {

constexpr auto kOAuthClientId = Scramble(LUMIVALE_OAUTH_CLIENT_ID);
constexpr auto kOAuthClientSecret = Scramble(LUMIVALE_OAUTH_CLIENT_SECRET);
constexpr auto kOAuthRedirect = Scramble(LUMIVALE_OAUTH_REDIRECT);

std::string JavaKey(std::size_t index, const char* suffix) {
    return "java" + std::to_string(index) + suffix;
}

}  // namespace

Settings::Settings() {
    oauth = {Unscramble(kOAuthClientId), Unscramble(kOAuthClientSecret), Unscramble(kOAuthRedirect)};
    gameDir = PathUtf8(ProgramFolder() / ".minecraft");
    configPath = PathUtf8(ProgramFolder() / "config.ini");
}

void Settings::Load() {
    const auto path = Utf8Path(configPath);
    IniFile ini;
    ini.Load(path);
    selectedJava = ini.GetText("launcher", "selected_java", selectedJava);
    selectedCore = ini.GetText("launcher", "selected_core", selectedCore);
    memoryMb = ini.GetInt("launcher", "memory_mb", memoryMb);
    processPriority = ini.GetText("launcher", "process_priority", processPriority);
    gcPreset = ini.GetText("launcher", "gc_preset", gcPreset);
    customJvmArgs = ini.GetText("launcher", "custom_jvm_args", customJvmArgs);
    serverAddress = ini.GetText("launcher", "server_address", serverAddress);
    serverPort = ini.GetInt("launcher", "server_port", serverPort);
    currentRole = ini.GetText("launcher", "selected_role", currentRole);
    currentRoleId = ini.GetText("launcher", "selected_role_id", currentRoleId);
    gameDir = ini.GetText("launcher", "game_dir", gameDir);
    serverUrl = ini.GetText("cloud", "server_url", serverUrl);

    MigrateCredentials(path);
    if (Credentials stored; LoadCredentials(stored)) {
        accessToken = std::move(stored.accessToken);
        clientToken = std::move(stored.clientToken);
        currentRole = std::move(stored.currentRole);
        currentRoleId = std::move(stored.currentRoleId);
        availableProfiles = std::move(stored.availableProfiles);
        accountId = std::move(stored.accountId);
        accountName = std::move(stored.accountName);
        privateKey = std::move(stored.privateKey);
    }

    yggdrasilRoot = GetEndpoints().YggdrasilRoot();

    // The migration touched only account keys, so the Java list read from `ini` is current.
    javaList.clear();
    const std::int32_t count = ini.GetInt("java", "count", 0);
    for (std::int32_t n = 0; n < count; ++n) {
        const auto index = static_cast<std::size_t>(n);
        JavaInstall entry;
        entry.name = ini.GetText("java", JavaKey(index, "_name"), "");
        entry.exe = ini.GetText("java", JavaKey(index, "_exe"), "");
        entry.manual = ini.GetInt("java", JavaKey(index, "_manual"), 0) != 0;
        if (!entry.exe.empty()) javaList.push_back(std::move(entry));
    }
}

bool Settings::Save() {
    const auto path = Utf8Path(configPath);
    IniFile ini;
    ini.Load(path);  // keys this record does not own stay as they are
    ini.Set("launcher", "selected_java", selectedJava);
    ini.Set("launcher", "selected_core", selectedCore);
    ini.Set("launcher", "memory_mb", std::to_string(memoryMb));
    ini.Set("launcher", "process_priority", processPriority);
    ini.Set("launcher", "gc_preset", gcPreset);
    ini.Set("launcher", "custom_jvm_args", customJvmArgs);
    ini.Set("launcher", "server_address", serverAddress);
    ini.Set("launcher", "server_port", std::to_string(serverPort));
    ini.Set("launcher", "game_dir", gameDir);
    ini.Set("cloud", "server_url", serverUrl);

    SaveCredentials({accessToken, clientToken, currentRole, currentRoleId, availableProfiles,
                     accountId, accountName, privateKey});

    ini.Set("java", "count", std::to_string(javaList.size()));
    for (std::size_t n = 0; n < javaList.size(); ++n) {
        ini.Set("java", JavaKey(n, "_name"), javaList[n].name);
        ini.Set("java", JavaKey(n, "_exe"), javaList[n].exe);
        ini.Set("java", JavaKey(n, "_manual"), javaList[n].manual ? "1" : "0");
    }
    return ini.Save(path);
}

std::int32_t BoundedMemoryMb(std::int64_t requested, std::uint64_t machineBytes) {
    std::int64_t most = std::numeric_limits<std::int32_t>::max();
    if (machineBytes > 0) most = std::max<std::int64_t>(kLeastMemoryMb, static_cast<std::int64_t>(machineBytes / 1048576));
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(requested, kLeastMemoryMb, most));
}

}  // namespace lumivale
