#include "ModpackZip.h"

#include <filesystem>
#include <system_error>
#include <vector>

#include "Log.h"
#include "Paths.h"
#include "ZipArchive.h"

namespace lumivale {

namespace {

bool HasControlCharacter(std::string_view text) {
    for (const char c : text) {
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return true;
    }
    return false;
}

}  // namespace

bool IsUsableFileName(std::string_view name) {
    return !name.empty() && name != "." && name != ".." &&
           name.find_first_of("/\\") == std::string_view::npos && !HasControlCharacter(name);
}

bool SafeRelativePath(std::string_view name, std::string& normalised) {
    normalised.clear();
    if (name.empty() || HasControlCharacter(name)) return false;
    // "C:..." is a drive-relative name on Windows; a colon has no place in a pack's paths.
    if (name.find(':') != std::string_view::npos) return false;
    if (name.front() == '/' || name.front() == '\\') return false;
    std::vector<std::string_view> parts;
    std::size_t start = 0;
    while (start <= name.size()) {
        const std::size_t end = name.find_first_of("/\\", start);
        const std::string_view part =
            name.substr(start, end == std::string_view::npos ? std::string_view::npos : end - start);
        if (part == "..") return false;
        if (!part.empty() && part != ".") parts.push_back(part);
        if (end == std::string_view::npos) break;
        start = end + 1;
    }
    if (parts.empty()) return false;
    for (const std::string_view part : parts) {
        if (!normalised.empty()) normalised += '/';
        normalised += part;
    }
    return true;
}

bool ReadZipEntry(const std::string& zipPath, const std::string& entryName, std::string& bytes) {
    const auto archive = ZipArchive::Open(Utf8Path(zipPath));
    if (!archive) return false;
    const auto index = archive->Find(entryName);
    if (!index) return false;
    auto content = archive->Read(*index);
    if (!content) return false;
    bytes = std::move(*content);
    return true;
}

bool ExtractZipPrefix(const std::string& zipPath, const std::string& prefix,
                      const std::string& destination) {
    const auto archive = ZipArchive::Open(Utf8Path(zipPath));
    if (!archive || archive->Count() == 0) return false;
    const std::filesystem::path folder = Utf8Path(destination);
    bool extracted = false;
    for (std::uint64_t i = 0; i < archive->Count(); ++i) {
        const auto entry = archive->At(i);
        if (!entry || entry->isDirectory) continue;
        if (entry->name.size() <= prefix.size() || !entry->name.starts_with(prefix)) continue;
        const std::string rest = entry->name.substr(prefix.size());
        // Leading separators are dropped (a rooted rest is taken as relative); anything else
        // that could leave the folder is refused.
        const std::size_t first = rest.find_first_not_of("/\\");
        if (first == std::string::npos) continue;
        std::string relative;
        if (!SafeRelativePath(std::string_view(rest).substr(first), relative)) {
            ConsoleLog("跳过可疑压缩包条目：" + entry->name);
            continue;
        }
        const std::filesystem::path target = folder / Utf8Path(relative);
        std::error_code ignored;  // a folder that cannot be made fails the extraction below
        std::filesystem::create_directories(target.parent_path(), ignored);
        if (archive->ExtractTo(i, target)) {
            extracted = true;
        } else {
            ConsoleLog("压缩包条目解压失败：" + entry->name);
        }
    }
    return extracted;
}

}  // namespace lumivale
