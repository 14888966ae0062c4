#pragma once
// Bytes as lower-case hex: how the java.exe stand-in reports its arguments, and how the tests read them.
#include <string>

inline std::string Hex(const std::string& bytes) {
    static const char kDigits[] = "0123456789abcdef";
    std::string hex;
    for (const unsigned char c : bytes) (hex += kDigits[c >> 4]) += kDigits[c & 15];
    return hex;
}
