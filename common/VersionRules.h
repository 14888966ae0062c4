#pragma once
// The version rules shared by the core catalogue, Java selection and the modpack import.
#include <string>
#include <string_view>

namespace lumivale {

struct VersionTriple {
    int major = 0;
    int minor = 0;
    int patch = 0;
};

// Reads "major[.minor[.patch]]" from the first digit on. False when there is no digit, or when
// both major and minor are 0.
bool ParseVersion(std::string_view text, VersionTriple& out);

// The Java a game version needs: 8, 17 or 21.
int RequiredJavaMajor(std::string_view gameVersion);

// The major version in a Java's display name: "1.8.0_392" gives 8, "17.0.2" gives 17.
int JavaMajorOf(std::string_view javaName);

// A whole file as bytes without a leading UTF-8 byte order mark; false when it cannot be read.
bool ReadTextFile(const std::string& path, std::string& out);

}  // namespace lumivale
