#pragma once
// Built-in addresses and client values are kept in the program scrambled, as 16-bit units mixed
// with a running key, and rebuilt when needed; the plain text never sits in the binary.
#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace lumivale {

template <std::size_t N>
struct ScrambledText {
    std::array<std::uint16_t, N> units{};  // the last one is the scrambled terminating zero
};

constexpr std::uint16_t ScrambleKey(std::size_t index) {
    return static_cast<std::uint16_t>(0x5A3Cu + 0x9E37u * static_cast<unsigned>(index + 1));
}

template <std::size_t N>
consteval ScrambledText<N> Scramble(const char (&plain)[N]) {
    ScrambledText<N> out;
    for (std::size_t i = 0; i < N; ++i) {
        out.units[i] = static_cast<std::uint16_t>(static_cast<unsigned char>(plain[i]) ^ ScrambleKey(i));
    }
    return out;
}

template <std::size_t N>
std::string Unscramble(const ScrambledText<N>& scrambled) {
    std::string plain;
    plain.reserve(N);
    for (std::size_t i = 0; i < N; ++i) {
        const auto unit = static_cast<std::uint16_t>(scrambled.units[i] ^ ScrambleKey(i));
        if (unit == 0) break;
        plain += static_cast<char>(unit);
    }
    return plain;
}

}  // namespace lumivale
