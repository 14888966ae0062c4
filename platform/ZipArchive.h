#pragma once
// Reading ZIP archives (jars, modpacks) over zlib, the same code on every system: the central
// directory (ZIP64 included), stored and deflated entries, each checked against its CRC-32 and
// its announced size. Entries are streamed in pieces, never held whole, unless Read is asked.
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace lumivale {

// What an archive may announce before it is refused as a whole (zero: no limit). Sizes are the
// ones the central directory announces; extraction never writes more than announced.
struct ZipLimits {
    std::uint64_t maxTotalSize = 0;  // all entries' uncompressed sizes added up
    std::uint64_t maxRatio = 0;      // one entry's uncompressed size / its compressed size
    std::uint64_t ratioFrom = 0;     // entries announcing less than this are not held to maxRatio
};

enum class ZipRefusal {
    None,
    Unreadable,    // the file cannot be opened or read
    NotAZip,       // no (or a damaged) central directory
    TooLarge,      // more than ZipLimits::maxTotalSize
    RatioTooHigh,  // an entry beyond ZipLimits::maxRatio
};

class ZipArchive {
public:
    struct Entry {
        std::string name;  // as stored, "/" separated
        bool isDirectory = false;
        std::uint64_t size = 0;            // uncompressed, as announced
        std::uint64_t compressedSize = 0;  // as stored
    };

    // Nothing when the file is missing or not a ZIP archive, or beyond `limits`; `refusal`
    // (when given) says which.
    static std::optional<ZipArchive> Open(const std::filesystem::path& file, const ZipLimits& limits = {},
                                          ZipRefusal* refusal = nullptr);

    ZipArchive(ZipArchive&&) noexcept;
    ZipArchive& operator=(ZipArchive&&) noexcept;
    ~ZipArchive();

    std::uint64_t Count() const;
    // The uncompressed sizes of all entries added up, as announced.
    std::uint64_t TotalSize() const;
    // Nothing when the index is out of range.
    std::optional<Entry> At(std::uint64_t index) const;
    // Index of the first entry with exactly this name.
    std::optional<std::uint64_t> Find(const std::string& name) const;
    // Hands the entry's bytes to `sink` in pieces of at most 64 KiB. False for an unknown index,
    // an encrypted entry or one of another method than stored or deflate, damaged data, a size
    // or CRC-32 other than announced (found at the end: the pieces before went out), or when
    // `sink` returns false.
    bool Stream(std::uint64_t index, const std::function<bool(std::string_view)>& sink) const;
    // The entry's bytes in memory, for small entries (manifests); nothing on the failures of
    // Stream or when the entry announces more than `maxSize` bytes.
    std::optional<std::string> Read(std::uint64_t index, std::uint64_t maxSize = 64u << 20) const;
    // Streams the entry to `target` through a temporary file (AtomicFile), replacing an existing
    // file only once the whole entry was checked.
    bool ExtractTo(std::uint64_t index, const std::filesystem::path& target) const;

private:
    struct Handle;
    explicit ZipArchive(std::unique_ptr<Handle> handle);
    std::unique_ptr<Handle> handle_;
};

}  // namespace lumivale
