#pragma once
#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace lumivale {

// A fresh random UUID as 36 lower-case characters (8-4-4-4-12); nothing when the system has no
// source of randomness.
std::optional<std::string> NewUuid();

// Fills `bytes` from the system's cryptographic random source; false when it fails.
bool SystemRandomBytes(std::span<std::uint8_t> bytes);

}  // namespace lumivale
