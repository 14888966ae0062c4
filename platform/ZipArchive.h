#pragma once
// Reading ZIP archives (jars, modpacks): list entries, read one into memory or into a file.
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

namespace lumivale {

class ZipArchive {
public:
    struct Entry {
        std::string name;  // as stored, "/" separated
        bool isDirectory = false;
        std::uint64_t size = 0;
    };

    // Nothing when the file is missing or not a ZIP archive.
    static std::optional<ZipArchive> Open(const std::filesystem::path& file);

    ZipArchive(ZipArchive&&) noexcept;
    ZipArchive& operator=(ZipArchive&&) noexcept;
    ~ZipArchive();

    std::uint64_t Count() const;
    // Nothing when the entry's record cannot be read.
    std::optional<Entry> At(std::uint64_t index) const;
    // Index of the entry with exactly this name.
    std::optional<std::uint64_t> Find(const std::string& name) const;
    // The entry's bytes; nothing on a read error or a damaged entry.
    std::optional<std::string> Read(std::uint64_t index) const;
    // Writes the entry to `target` through a temporary file, replacing an existing file.
    bool ExtractTo(std::uint64_t index, const std::filesystem::path& target) const;

private:
    struct Handle;
    explicit ZipArchive(std::unique_ptr<Handle> handle);
    std::unique_ptr<Handle> handle_;
};

}  // namespace lumivale
