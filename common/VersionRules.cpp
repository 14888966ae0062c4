#include "VersionRules.h"

#include <limits>

#include "Files.h"
#include "Paths.h"

namespace lumivale {

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// A run of digits as a 32-bit number; an absurdly long run saturates instead of overflowing.
int ReadNumber(std::string_view text, std::size_t& at) {
    long long value = 0;
    while (at < text.size() && IsDigit(text[at])) {
        value = value * 10 + (text[at] - '0');
        if (value > std::numeric_limits<int>::max()) value = std::numeric_limits<int>::max();
        ++at;
    }
    return static_cast<int>(value);
}

}  // namespace

bool ParseVersion(std::string_view text, VersionTriple& out) {
    out = {};
    std::size_t at = 0;
    while (at < text.size() && !IsDigit(text[at])) ++at;
    if (at == text.size()) return false;
    out.major = ReadNumber(text, at);
    if (at < text.size() && text[at] == '.') {
        ++at;
        out.minor = ReadNumber(text, at);
        if (at < text.size() && text[at] == '.') {
            ++at;
            out.patch = ReadNumber(text, at);
        }
    }
    return out.major > 0 || out.minor > 0;
}

int RequiredJavaMajor(std::string_view gameVersion) {
    VersionTriple v;
    ParseVersion(gameVersion, v);
    if (v.major < 1) return 17;
    if (v.major >= 2) return 21;
    if (v.minor < 17) return 8;
    if (v.minor <= 19) return 17;
    if (v.minor == 20) return v.patch < 6 ? 17 : 21;
    return 21;
}

int JavaMajorOf(std::string_view javaName) {
    VersionTriple v;
    ParseVersion(javaName, v);
    return v.major < 2 ? v.minor : v.major;
}

bool ReadTextFile(const std::string& path, std::string& out) {
    if (!ReadWholeFile(Utf8Path(path), out)) return false;
    if (out.starts_with("\xEF\xBB\xBF")) out.erase(0, 3);
    return true;
}

}  // namespace lumivale
