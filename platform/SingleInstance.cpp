#include "SingleInstance.h"

#include <cstdint>

#include "Paths.h"

namespace lumivale {

std::string InstanceKey(const std::filesystem::path& programFolder) {
    std::error_code error;
    const auto canonical = std::filesystem::weakly_canonical(programFolder, error);
    std::string text = PathUtf8(error ? programFolder : canonical);
    // "folder" and "folder/" are one folder (weakly_canonical keeps what follows a missing part).
    while (text.size() > 1 && (text.back() == '/' || text.back() == '\\')) text.pop_back();
#if defined(_WIN32)
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
#endif
    std::uint64_t hash = 1469598103934665603ull;  // FNV-1a
    for (unsigned char c : text) {
        hash ^= c;
        hash *= 1099511628211ull;
    }
    return std::to_string(hash);
}

}  // namespace lumivale
