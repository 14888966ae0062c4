#pragma once
// Where the launcher keeps its files: the program folder, the log and temporary folders,
// and the per-user folder of the credential store.
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace lumivale {

// UTF-8 text <-> path, the same on every platform.
std::filesystem::path Utf8Path(std::string_view utf8);
std::string PathUtf8(const std::filesystem::path& path);

// Folder of the running executable; "." when it cannot be found.
std::filesystem::path ExecutableFolder();

// The program folder holds config.ini, log/, cache/ and the default game folder. It is the
// executable's folder unless the entry named another (--home DIR or LUMIVALE_HOME).
void SetProgramFolder(const std::filesystem::path& folder);
std::filesystem::path ProgramFolder();

// Temporary folder without a trailing separator.
std::filesystem::path TempFolder();

// Per-user data folder of the launcher: $XDG_DATA_HOME (or ~/.local/share) + "/LumivaleLauncher";
// on Windows %LOCALAPPDATA% (or %USERPROFILE%\AppData\Local) + "\LumivaleLauncher".
std::filesystem::path UserDataFolder();

// Per-user cache folder of the launcher (the web views' data): $XDG_CACHE_HOME (or ~/.cache)
// + "/LumivaleLauncher"; on Windows UserDataFolder() + "\Cache".
std::filesystem::path UserCacheFolder();

// An environment variable, or nothing when it is unset or empty.
std::optional<std::string> EnvironmentValue(const char* name);

}  // namespace lumivale
