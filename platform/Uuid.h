#pragma once
#include <optional>
#include <string>

namespace lumivale {

// A fresh random UUID as 36 lower-case characters (8-4-4-4-12); nothing when the system has no
// source of randomness.
std::optional<std::string> NewUuid();

}  // namespace lumivale
