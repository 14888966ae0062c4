#pragma once
// Compression for the zip files the launcher writes: raw deflate and the CRC-32 that zip
// entries carry.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace lumivale {

// CRC-32 (the zip and gzip polynomial) of `bytes`.
std::uint32_t Crc32(std::string_view bytes);

// `bytes` as a raw deflate stream (no zlib or gzip wrapper); nothing when compression fails.
std::optional<std::string> DeflateRaw(std::string_view bytes);

}  // namespace lumivale
