// SHA-1 and SHA-256 through Windows CNG (BCrypt).
#include "Hash.h"

#include <windows.h>
#include <bcrypt.h>

#include <vector>

#include "Rsa.h"
#include "Text.h"

namespace lumivale {

struct Digest::State {
    BCRYPT_ALG_HANDLE provider = nullptr;
    BCRYPT_HASH_HANDLE hash = nullptr;
    ULONG size = 0;
    bool failed = false;
    ~State() {
        if (hash != nullptr) BCryptDestroyHash(hash);
        if (provider != nullptr) BCryptCloseAlgorithmProvider(provider, 0);
    }
    // The raw digest; empty on failure. Ends the digest.
    std::vector<std::uint8_t> Finish() {
        if (failed) return {};
        failed = true;  // finished: nothing more is fed
        std::vector<std::uint8_t> digest(size);
        if (BCryptFinishHash(hash, digest.data(), size, 0) < 0) return {};
        return digest;
    }
};

Digest::Digest(DigestKind kind) : state_(std::make_unique<State>()) {
    State& s = *state_;
    s.size = kind == DigestKind::Sha1 ? 20 : 32;
    s.failed = BCryptOpenAlgorithmProvider(&s.provider, kind == DigestKind::Sha1 ? BCRYPT_SHA1_ALGORITHM
                                                                                  : BCRYPT_SHA256_ALGORITHM,
                                           nullptr, 0) < 0 ||
               BCryptCreateHash(s.provider, &s.hash, nullptr, 0, nullptr, 0, 0) < 0;
}

Digest::~Digest() = default;
Digest::Digest(Digest&&) noexcept = default;
Digest& Digest::operator=(Digest&&) noexcept = default;

bool Digest::Update(std::string_view bytes) {
    if (!state_ || state_->failed) return false;
    // BCryptHashData takes at most 4 GiB at a time.
    for (std::size_t at = 0; at < bytes.size() && !state_->failed; at += 1u << 30) {
        const auto piece = bytes.substr(at, 1u << 30);
        state_->failed = BCryptHashData(state_->hash, reinterpret_cast<PUCHAR>(const_cast<char*>(piece.data())),
                                        static_cast<ULONG>(piece.size()), 0) < 0;
    }
    return !state_->failed;
}

std::string Digest::FinishHex() {
    if (!state_) return {};
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string hex;
    for (const std::uint8_t byte : state_->Finish()) {
        hex += kDigits[byte >> 4];
        hex += kDigits[byte & 0x0F];
    }
    return hex;
}

std::vector<std::uint8_t> Sha256Digest(std::span<const std::uint8_t> data) {
    BCRYPT_ALG_HANDLE provider = nullptr;
    if (BCryptOpenAlgorithmProvider(&provider, BCRYPT_SHA256_ALGORITHM, nullptr, 0) < 0) return {};
    std::vector<std::uint8_t> digest(32);
    const bool ok = data.size() <= 0xFFFFFFFFu &&
                    BCryptHash(provider, nullptr, 0, const_cast<PUCHAR>(data.data()), static_cast<ULONG>(data.size()),
                               digest.data(), 32) >= 0;
    BCryptCloseAlgorithmProvider(provider, 0);
    if (!ok) digest.clear();
    return digest;
}

namespace {

std::string HexOfFile(const std::string& utf8Path, DigestKind kind) {
    win32::Handle file(CreateFileW(win32::Wide(utf8Path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                   nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file.Valid()) return {};
    Digest digest(kind);
    std::vector<char> block(65536);
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(file.Get(), block.data(), static_cast<DWORD>(block.size()), &got, nullptr)) return {};
        if (got == 0) return digest.FinishHex();
        if (!digest.Update(std::string_view(block.data(), got))) return {};
    }
}

}  // namespace

std::string Sha1HexOfFile(const std::string& utf8Path) { return HexOfFile(utf8Path, DigestKind::Sha1); }

std::string Sha256HexOfFile(const std::string& utf8Path) { return HexOfFile(utf8Path, DigestKind::Sha256); }

}  // namespace lumivale
