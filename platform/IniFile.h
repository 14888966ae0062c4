#pragma once
// An INI file held in memory: read whole, changed, written back whole. Texts are UTF-8 bytes on
// every platform; section and key names compare without regard to ASCII letter case.
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

namespace lumivale {

class IniFile {
public:
    IniFile();
    ~IniFile();
    IniFile(const IniFile&) = delete;
    IniFile& operator=(const IniFile&) = delete;

    // False when the file is missing or unreadable; the content is then empty.
    bool Load(const std::filesystem::path& file);
    // Writes through a temporary file moved into place.
    bool Save(const std::filesystem::path& file) const;

    std::optional<std::string> Get(const std::string& section, const std::string& key) const;
    std::string GetText(const std::string& section, const std::string& key,
                        const std::string& fallback) const;
    // A present key yields its leading decimal integer (sign allowed), 0 when it has none;
    // a missing key yields `fallback`.
    std::int32_t GetInt(const std::string& section, const std::string& key,
                        std::int32_t fallback) const;

    void Set(const std::string& section, const std::string& key, const std::string& value);
    // True when the key was there.
    bool Remove(const std::string& section, const std::string& key);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace lumivale
