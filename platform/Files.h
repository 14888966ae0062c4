#pragma once
// Small file operations the core needs with exact guarantees.
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace lumivale {

enum class FileAccess { Shared, OwnerOnly };

// Writes `bytes` to target + ".tmp", flushes it to disk and moves it over `target`.
// On a failed write the old file stays untouched and the .tmp file is removed; on a failed
// move the .tmp file is left behind. OwnerOnly files are created readable by the user alone.
bool WriteFileAtomically(const std::filesystem::path& target, std::string_view bytes,
                         FileAccess access = FileAccess::Shared);

// Reads a whole file; false when it cannot be opened or read.
bool ReadWholeFile(const std::filesystem::path& file, std::string& out);

// Appends `bytes` with a single write, creating the file when missing; `truncate` empties it first.
bool AppendToFile(const std::filesystem::path& file, std::string_view bytes, bool truncate);

struct FileStatus {
    bool exists = false;
    std::uint64_t size = 0;
    std::int64_t modifiedUnixSeconds = 0;
};
FileStatus StatFile(const std::filesystem::path& file);

// Creates the folder (and its parents) and makes it accessible to the user alone.
bool MakeOwnerOnlyFolder(const std::filesystem::path& folder);

}  // namespace lumivale
