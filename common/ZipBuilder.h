#pragma once
// Builds a zip archive in memory: each entry deflated (or stored when that is not smaller), names
// in UTF-8, no ZIP64, so the whole archive must stay below 4 GiB.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace lumivale {

class ZipBuilder {
public:
    // Every entry carries this moment (seconds since 1970, UTC) as its time.
    explicit ZipBuilder(std::int64_t unixSeconds);

    // False, adding nothing, when the name is empty, absolute or climbs with "..", or when the
    // archive would pass the 4 GiB limit.
    bool Add(std::string_view name, std::string_view bytes);

    // The archive: local entries, central directory and its end record.
    std::string Finish() const;

    std::size_t Count() const { return entries_.size(); }

private:
    struct Entry {
        std::string name;
        std::uint32_t crc = 0;
        std::uint32_t size = 0;
        std::uint32_t storedSize = 0;
        std::uint16_t method = 0;
        std::uint32_t offset = 0;
    };
    std::uint16_t dosTime_ = 0;
    std::uint16_t dosDate_ = 0;
    std::string body_;
    std::vector<Entry> entries_;
};

}  // namespace lumivale
