#include "Paths.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>

namespace lumivale {

std::filesystem::path ExecutableFolder() {
    std::error_code error;
    const auto exe = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error || !exe.has_parent_path()) return ".";
    return exe.parent_path();
}

std::optional<std::string> EnvironmentValue(const char* name) {
    const char* value = std::getenv(name);
    if (value == nullptr || *value == '\0') return std::nullopt;
    return std::string(value);
}

std::filesystem::path TempFolder() {
    std::string folder = EnvironmentValue("TMPDIR").value_or("/tmp");
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    return Utf8Path(folder);
}

namespace {

// $<variable>, or the home folder's <fallback> when it is unset.
std::filesystem::path XdgFolder(const char* variable, const char* fallback) {
    if (auto xdg = EnvironmentValue(variable)) return Utf8Path(*xdg);
    std::optional<std::string> home = EnvironmentValue("HOME");
    if (!home) {
        if (const passwd* entry = getpwuid(getuid()); entry != nullptr && entry->pw_dir != nullptr) {
            home = entry->pw_dir;
        }
    }
    const std::filesystem::path base = home ? Utf8Path(*home) : TempFolder();
    return base / fallback;
}

}  // namespace

std::filesystem::path UserDataFolder() {
    return XdgFolder("XDG_DATA_HOME", ".local/share") / "LumivaleLauncher";
}

std::filesystem::path UserCacheFolder() { return XdgFolder("XDG_CACHE_HOME", ".cache") / "LumivaleLauncher"; }

}  // namespace lumivale
