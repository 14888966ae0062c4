#include "LaunchFiles.h"

#include <chrono>
#include <filesystem>

#include "Files.h"
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

int extractNatives(const std::string& jarPath, const std::string& nativesFolder) {
    const auto archive = ZipArchive::Open(Utf8Path(jarPath));
    if (!archive) return 0;
    const auto folder = Utf8Path(nativesFolder);
    int written = 0;
    for (std::uint64_t i = 0; i < archive->Count(); ++i) {
        const auto entry = archive->At(i);
        if (!entry || entry->isDirectory) continue;
        if (entry->name.starts_with("META-INF/")) continue;
        if (!IsNativeLibrary(entry->name)) continue;
        const auto target = TargetInside(folder, entry->name);
        if (!target) continue;
        std::error_code ignored;
        std::filesystem::create_directories(target->parent_path(), ignored);
        if (archive->ExtractTo(i, *target)) ++written;
    }
    return written;
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
