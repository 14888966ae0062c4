// The message forms of signing, the same on every system: SHA-256 first, then the digest form.
#include "Rsa.h"

namespace lumivale {

std::vector<std::uint8_t> RsaKey::SignSha256(std::span<const std::uint8_t> message) const {
    const std::vector<std::uint8_t> digest = Sha256Digest(message);
    if (digest.size() != 32) return {};
    return SignSha256Digest(digest);
}

bool RsaKey::VerifySha256(std::span<const std::uint8_t> message, std::span<const std::uint8_t> signature) const {
    const std::vector<std::uint8_t> digest = Sha256Digest(message);
    if (digest.size() != 32) return false;
    return VerifySha256Digest(digest, signature);
}

}  // namespace lumivale
