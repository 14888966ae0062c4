#include "CoreCatalogue.h"

#include <cctype>
#include <filesystem>
#include <nlohmann/json.hpp>

#include "JsonDocument.h"
#include "Log.h"
#include "Paths.h"
#include "Settings.h"
#include "VersionManifest.h"
#include "VersionRules.h"

namespace lumivale {

namespace {

constexpr std::uintmax_t kCoreJarMinimum = 10'485'760;  // a jar must be larger than 10 MiB

bool EndsWithJar(const std::string& name) {
    if (name.size() <= 4) return false;
    std::string tail = name.substr(name.size() - 4);
    for (char& c : tail) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return tail == ".jar";
}

std::string FirstLargeJar(const std::filesystem::path& folder) {
    std::error_code error;
    for (std::filesystem::directory_iterator it(folder, error), end; !error && it != end;
         it.increment(error)) {
        const std::string name = PathUtf8(it->path().filename());
        if (!EndsWithJar(name)) continue;
        std::error_code sizeError;
        if (!it->is_regular_file(sizeError)) continue;
        const auto size = it->file_size(sizeError);
        if (!sizeError && size > kCoreJarMinimum) return name;
    }
    return {};
}

// The core's own <id>.jar of any size, else the jar of the first ancestor that has one.
std::string InheritedJar(const std::string& gameDir, const std::string& id, const std::vector<nlohmann::json>& chain) {
    std::vector<std::string> ids = {id};
    for (std::size_t i = 0; i + 1 < chain.size(); ++i) {
        const auto parent = chain[i].find("inheritsFrom");
        if (parent == chain[i].end() || !parent->is_string()) break;
        ids.push_back(parent->get<std::string>());
    }
    for (const std::string& candidate : ids) {
        const std::string jar = versionJarPath(gameDir, candidate);
        std::error_code error;
        const auto size = std::filesystem::file_size(Utf8Path(jar), error);
        if (!error && size > 0) return jar;
    }
    return {};
}

std::string GameVersionOf(const nlohmann::json& version) {
    for (const char* key : {"clientVersion", "id"}) {
        const auto found = version.find(key);
        if (found != version.end() && found->is_string()) return found->get<std::string>();
    }
    return {};
}

}  // namespace

std::string RealVersion(const std::string& folder, const std::string& jarFileName,
                        const std::string& folderName) {
    std::string base = jarFileName;
    if (EndsWithJar(base)) base.resize(base.size() - 4);
    auto jsonPath = Utf8Path(folder) / Utf8Path(base + ".json");
    std::error_code error;
    if (!std::filesystem::exists(jsonPath, error)) {
        jsonPath = Utf8Path(folder) / Utf8Path(folderName + ".json");
    }
    std::string text;
    if (ReadTextFile(PathUtf8(jsonPath), text)) {
        const auto document = ParseJsonDocument(text);
        if (document.is_object()) {
            if (const auto it = document.find("clientVersion"); it != document.end() && it->is_string()) {
                return it->get<std::string>();
            }
            if (const auto it = document.find("id"); it != document.end() && it->is_string()) {
                return it->get<std::string>();
            }
        }
    }
    VersionTriple v;
    if (!ParseVersion(folderName, v)) return {};
    std::string version = std::to_string(v.major) + "." + std::to_string(v.minor);
    if (v.patch > 0) version += "." + std::to_string(v.patch);
    return version;
}

std::vector<CoreEntry> ListCores(const std::string& gameDir, bool& versionsFolderFound) {
    const auto versions = Utf8Path(gameDir) / "versions";
    std::error_code error;
    versionsFolderFound = std::filesystem::exists(versions, error);
    std::vector<CoreEntry> cores;
    if (!versionsFolderFound) return cores;
    for (std::filesystem::directory_iterator it(versions, error), end; !error && it != end;
         it.increment(error)) {
        std::error_code typeError;
        if (!it->is_directory(typeError)) continue;
        const std::string name = PathUtf8(it->path().filename());
        const std::string folder = PathUtf8(it->path());
        bool resolves = false;
        const std::vector<nlohmann::json> chain = loadVersionChain(gameDir, name, resolves);

        std::string jarName = FirstLargeJar(it->path());
        std::string jarPath = jarName.empty() ? std::string() : PathUtf8(it->path() / Utf8Path(jarName));
        if (jarPath.empty() && resolves) {
            jarPath = InheritedJar(gameDir, name, chain);
            if (jarPath == versionJarPath(gameDir, name)) jarName = name + ".jar";
        }
        if (jarPath.empty()) continue;

        CoreEntry core{name, folder, jarPath, RealVersion(folder, jarName, name), declaredJavaMajor(chain)};
        // A loader's core that inherits its game: the game version is the last ancestor's.
        if (chain.size() > 1 && !chain.front().contains("clientVersion")) core.realVersion = GameVersionOf(chain.back());
        cores.push_back(std::move(core));
    }
    return cores;
}

void ScanCores(Settings& settings) {
    bool found = false;
    std::vector<CoreEntry> cores = ListCores(settings.gameDir, found);
    if (!found) {
        ConsoleLog("未找到 .minecraft\\versions 目录，跳过核心扫描");
        settings.cores.clear();
        return;
    }
    settings.cores = std::move(cores);
    if (!settings.cores.empty() && settings.selectedCore.empty()) {
        settings.selectedCore = settings.cores.front().folder;
    }
    ConsoleLog("扫描到 " + std::to_string(settings.cores.size()) + " 个游戏核心");
}

}  // namespace lumivale
