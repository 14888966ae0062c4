#pragma once
// RSA keys through the system's crypto provider: generation, the BCrypt key blob layouts the
// Windows build stores in orlu.json, SHA-256 digests and PKCS#1 v1.5 signatures.
//
// Blob layout (little-endian header of six 32-bit values, then big-endian numbers each
// left-padded with zeros to its announced size):
//   Magic, BitLength, cbPublicExp, cbModulus, cbPrime1, cbPrime2,
//   PublicExponent[cbPublicExp], Modulus[cbModulus],
//   and for the full private blob only:
//   Prime1[cbPrime1], Prime2[cbPrime2], Exponent1[cbPrime1], Exponent2[cbPrime2],
//   Coefficient[cbPrime1], PrivateExponent[cbModulus].
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <vector>

namespace lumivale {

inline constexpr std::uint32_t kRsaPublicBlobMagic = 0x31415352;       // "RSA1"
inline constexpr std::uint32_t kRsaFullPrivateBlobMagic = 0x33415352;  // "RSA3"
inline constexpr std::size_t kRsaBlobHeaderSize = 24;

// SHA-256 of the bytes (32 bytes); empty when the provider fails.
std::vector<std::uint8_t> Sha256Digest(std::span<const std::uint8_t> data);

// An RSA key: a full key pair, or a public key alone. Copies share the same immutable key;
// every operation is safe to call from several threads at once.
class RsaKey {
public:
    // A fresh key pair with public exponent 65537; nothing when the provider fails.
    static std::optional<RsaKey> Generate(unsigned bits = 2048);
    // A key pair from a full private blob ("RSA3"). Nothing for a wrong magic, a header whose
    // sizes do not add up to the blob's length, a truncated blob, or numbers that do not form
    // a consistent key pair.
    static std::optional<RsaKey> FromFullPrivateBlob(std::span<const std::uint8_t> blob);
    // A public key from a public blob ("RSA1"): header, exponent and modulus, nothing more.
    static std::optional<RsaKey> FromPublicBlob(std::span<const std::uint8_t> blob);

    bool HasPrivateKey() const;
    unsigned Bits() const;

    // The full private blob ("RSA3"); empty for a public key or when the provider fails.
    std::vector<std::uint8_t> ExportFullPrivateBlob() const;
    // The public blob ("RSA1", cbPrime1 = cbPrime2 = 0).
    std::vector<std::uint8_t> ExportPublicBlob() const;
    // DER SubjectPublicKeyInfo of the public half.
    std::vector<std::uint8_t> PublicKeyDer() const;
    // Big-endian modulus and public exponent without leading zero bytes.
    std::vector<std::uint8_t> Modulus() const;
    std::vector<std::uint8_t> PublicExponent() const;

    // PKCS#1 v1.5 signature of a SHA-256 digest (32 bytes); empty on failure or without the
    // private half.
    std::vector<std::uint8_t> SignSha256Digest(std::span<const std::uint8_t> digest) const;
    // The same over the SHA-256 of the message.
    std::vector<std::uint8_t> SignSha256(std::span<const std::uint8_t> message) const;
    // True when the signature is a valid PKCS#1 v1.5 SHA-256 signature of the digest/message.
    bool VerifySha256Digest(std::span<const std::uint8_t> digest,
                            std::span<const std::uint8_t> signature) const;
    bool VerifySha256(std::span<const std::uint8_t> message,
                      std::span<const std::uint8_t> signature) const;

    struct Impl;

private:
    explicit RsaKey(std::shared_ptr<const Impl> impl) : impl_(std::move(impl)) {}
    std::shared_ptr<const Impl> impl_;
};

}  // namespace lumivale
