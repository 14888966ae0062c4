#pragma once
// Small file operations the core needs with exact guarantees.
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

namespace lumivale {

enum class FileAccess { Shared, OwnerOnly };

// A file written piece by piece to target + ".tmp" and moved over `target` by Commit, after it
// was flushed to disk. Destroyed without a Commit (a failed write, a refused entry) or after a
// failed one, the temporary file is removed and the target stays as it was. OwnerOnly files are made readable by the user alone (mode 0600 on Linux, a DACL that
// names only the user on Windows), also when an old .tmp file is reused.
class AtomicFile {
public:
    explicit AtomicFile(const std::filesystem::path& target, FileAccess access = FileAccess::Shared);
    ~AtomicFile();
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;

    bool IsOpen() const;
    bool Write(std::string_view bytes);
    bool Commit();

private:
    struct State;
    std::unique_ptr<State> state_;
};

// The whole of `bytes` through an AtomicFile.
bool WriteFileAtomically(const std::filesystem::path& target, std::string_view bytes,
                         FileAccess access = FileAccess::Shared);

// Copies `from` over `to`, replacing a file already there (on Windows through CopyFileW: the C++
// library of mingw refuses to overwrite with copy_file). False when the copy failed.
bool CopyFileReplacing(const std::filesystem::path& from, const std::filesystem::path& to);

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
