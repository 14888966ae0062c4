#pragma once
// The key blob layouts of Rsa.h read and written without a crypto provider, and the DER form of
// a public key, shared by the OpenSSL and the Windows (CNG) implementations.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace lumivale {

struct RsaBlobHeader {
    std::uint32_t magic = 0;
    std::uint32_t bits = 0;
    std::uint32_t cbPublicExp = 0;
    std::uint32_t cbModulus = 0;
    std::uint32_t cbPrime1 = 0;
    std::uint32_t cbPrime2 = 0;
};

// The header of a blob whose sizes are plausible (at most a 16384-bit modulus; the bit length
// needs every byte of the modulus field); nothing otherwise. The magic is not checked here.
std::optional<RsaBlobHeader> ReadRsaBlobHeader(std::span<const std::uint8_t> blob);

// The exact length a blob with this header has: public ("RSA1") or full private ("RSA3").
std::uint64_t RsaPublicBlobSize(const RsaBlobHeader& header);
std::uint64_t RsaFullPrivateBlobSize(const RsaBlobHeader& header);

void AppendLe32(std::vector<std::uint8_t>& out, std::uint32_t value);

// Whether the private exponent of a full private blob (of a checked size) agrees with its CRT
// exponents: d mod (p-1) = dp and d mod (q-1) = dq. Providers that sign with the CRT values
// alone would otherwise take a damaged d without noticing.
bool RsaPrivateExponentMatches(std::span<const std::uint8_t> fullPrivateBlob);

// Big-endian number without its leading zero bytes.
std::vector<std::uint8_t> WithoutLeadingZeros(std::span<const std::uint8_t> number);

// DER SubjectPublicKeyInfo (rsaEncryption, NULL parameters) of a modulus and public exponent,
// both big-endian.
std::vector<std::uint8_t> RsaPublicKeyInfoDer(std::span<const std::uint8_t> modulus,
                                              std::span<const std::uint8_t> exponent);

}  // namespace lumivale
