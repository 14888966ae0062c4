// SHA-1 and SHA-256 through Windows CNG (BCrypt).
#include "Hash.h"

#include <windows.h>
#include <bcrypt.h>

#include <vector>

#include "Rsa.h"
#include "Text.h"

namespace lumivale {

namespace {

// One hash object of `algorithm`, fed by `feed`, finished into `size` bytes; empty on failure.
template <typename Feed>
std::vector<std::uint8_t> Digest(const wchar_t* algorithm, std::size_t size, Feed&& feed) {
    BCRYPT_ALG_HANDLE provider = nullptr;
    if (BCryptOpenAlgorithmProvider(&provider, algorithm, nullptr, 0) < 0) return {};
    std::vector<std::uint8_t> digest(size);
    BCRYPT_HASH_HANDLE hash = nullptr;
    bool ok = BCryptCreateHash(provider, &hash, nullptr, 0, nullptr, 0, 0) >= 0;
    ok = ok && feed([hash](const void* data, std::size_t length) {
             return BCryptHashData(hash, static_cast<PUCHAR>(const_cast<void*>(data)), static_cast<ULONG>(length),
                                   0) >= 0;
         });
    ok = ok && BCryptFinishHash(hash, digest.data(), static_cast<ULONG>(digest.size()), 0) >= 0;
    if (hash != nullptr) BCryptDestroyHash(hash);
    BCryptCloseAlgorithmProvider(provider, 0);
    if (!ok) digest.clear();
    return digest;
}

}  // namespace

std::vector<std::uint8_t> Sha256Digest(std::span<const std::uint8_t> data) {
    return Digest(BCRYPT_SHA256_ALGORITHM, 32, [&data](auto&& add) {
        // BCryptHashData takes at most 4 GiB at a time.
        for (std::size_t at = 0; at < data.size(); at += 1u << 30) {
            if (!add(data.data() + at, std::min<std::size_t>(data.size() - at, 1u << 30))) return false;
        }
        return true;
    });
}

std::string Sha1HexOfFile(const std::string& utf8Path) {
    win32::Handle file(CreateFileW(win32::Wide(utf8Path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                   nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file.Valid()) return {};
    const auto digest = Digest(BCRYPT_SHA1_ALGORITHM, 20, [&file](auto&& add) {
        std::vector<char> block(65536);
        for (;;) {
            DWORD got = 0;
            if (!ReadFile(file.Get(), block.data(), static_cast<DWORD>(block.size()), &got, nullptr)) return false;
            if (got == 0) return true;
            if (!add(block.data(), got)) return false;
        }
    });
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string hex;
    for (const std::uint8_t byte : digest) {
        hex += kDigits[byte >> 4];
        hex += kDigits[byte & 0x0F];
    }
    return hex;
}

}  // namespace lumivale
