#include "LaunchFiles.h"

#include <algorithm>
#include <chrono>
#include <filesystem>

#include <nlohmann/json.hpp>

#include "Files.h"
#include "JsonDocument.h"
#include "Paths.h"
#include "Process.h"
#include "Resources.h"
#include "Uuid.h"
#include "ZipArchive.h"

namespace lumivale {

namespace {

bool IsNativeLibrary(const std::string& name) {
    const auto dot = name.rfind('.');
    if (dot == std::string::npos) return false;
    const std::string extension = name.substr(dot);
    return extension == ".dll" || extension == ".so" || extension == ".dylib" ||
           extension == ".jnilib";
}

// Where an entry may be written: inside `folder` and nowhere else. Absolute names, drive
// letters and ".." steps that climb out are refused.
std::optional<std::filesystem::path> TargetInside(const std::filesystem::path& folder,
                                                  const std::string& entryName) {
    std::string relative = entryName;
    for (char& c : relative) {
        if (c == '\\') c = '/';
    }
    const std::filesystem::path inner = Utf8Path(relative).lexically_normal();
    if (inner.empty() || inner.has_root_path() || relative.find(':') != std::string::npos) {
        return std::nullopt;
    }
    const auto first = *inner.begin();
    if (first == ".." || first == ".") return std::nullopt;
    return folder / inner;
}

}  // namespace

int extractNatives(const std::string& jarPath, const std::string& nativesFolder,
                   const std::vector<std::string>& exclude) {
    const auto archive = ZipArchive::Open(Utf8Path(jarPath));
    if (!archive) return 0;
    const auto folder = Utf8Path(nativesFolder);
    int written = 0;
    for (std::uint64_t i = 0; i < archive->Count(); ++i) {
        const auto entry = archive->At(i);
        if (!entry || entry->isDirectory) continue;
        if (entry->name.starts_with("META-INF/")) continue;
        if (std::any_of(exclude.begin(), exclude.end(),
                        [&](const std::string& prefix) { return entry->name.starts_with(prefix); })) {
            continue;
        }
        if (!IsNativeLibrary(entry->name)) continue;
        const auto target = TargetInside(folder, entry->name);
        if (!target) continue;
        std::error_code ignored;
        std::filesystem::create_directories(target->parent_path(), ignored);
        if (archive->ExtractTo(i, *target)) ++written;
    }
    return written;
}

std::string prepareGameAssets(const std::string& gameRoot, const std::string& gameDirectory,
                              const std::string& indexId) {
    namespace fs = std::filesystem;
    const fs::path assets = Utf8Path(gameRoot) / "assets";
    std::string text;
    nlohmann::json index;
    if (!indexId.empty() && indexId.find_first_of("/\\") == std::string::npos && indexId != ".." &&
        ReadWholeFile(assets / "indexes" / Utf8Path(indexId + ".json"), text)) {
        index = ParseJsonDocument(text);
    }
    const auto flag = [&index](const char* key) {
        const auto found = index.is_object() ? index.find(key) : index.end();
        return index.is_object() && found != index.end() && found->is_boolean() && found->get<bool>();
    };
    const auto objects = index.is_object() ? index.find("objects") : index.end();
    fs::path folder;
    if (flag("map_to_resources")) {
        folder = Utf8Path(gameDirectory) / "resources";
    } else if (flag("virtual")) {
        folder = assets / "virtual" / Utf8Path(indexId);
    } else {
        return PathUtf8(assets);
    }
    if (objects != index.end() && objects->is_object()) {
        for (const auto& [name, object] : objects->items()) {
            const auto hash = object.is_object() ? object.find("hash") : object.end();
            if (!object.is_object() || hash == object.end() || !hash->is_string()) continue;
            const std::string sha1 = hash->get<std::string>();
            const auto target = TargetInside(folder, name);
            if (sha1.size() < 2 || sha1.find_first_of("/\\.") != std::string::npos || !target) continue;
            const fs::path source = assets / "objects" / sha1.substr(0, 2) / sha1;
            std::error_code error;
            const auto size = fs::file_size(source, error);
            if (error) continue;  // not downloaded: the game goes without it
            std::error_code ignored;
            if (fs::file_size(*target, ignored) == size && !ignored) continue;
            fs::create_directories(target->parent_path(), ignored);
            CopyFileReplacing(source, *target);
        }
    }
    return PathUtf8(folder);
}

bool writeAgentJar(int resourceId, const std::string& targetPath) {
    const auto bytes = GetResource(resourceId);
    if (bytes.empty()) return false;
    return WriteFileAtomically(
        Utf8Path(targetPath),
        std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

std::string makeLaunchId() {
    if (auto uuid = NewUuid()) return *uuid;
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(
                             std::chrono::system_clock::now().time_since_epoch())
                             .count();
    return "lv-" + std::to_string(CurrentProcessId()) + "-" + std::to_string(seconds);
}

}  // namespace lumivale
