#include "RsaBlob.h"

#include "Rsa.h"

namespace lumivale {

namespace {

using Bytes = std::vector<std::uint8_t>;

// The largest blob numbers accepted: a 16384-bit modulus.
constexpr std::uint32_t kMaxModulusBytes = 2048;

std::uint32_t ReadLe32(std::span<const std::uint8_t> bytes, std::size_t offset) {
    return static_cast<std::uint32_t>(bytes[offset]) |
           (static_cast<std::uint32_t>(bytes[offset + 1]) << 8) |
           (static_cast<std::uint32_t>(bytes[offset + 2]) << 16) |
           (static_cast<std::uint32_t>(bytes[offset + 3]) << 24);
}

// A DER element: tag, definite length, content.
Bytes Der(std::uint8_t tag, const Bytes& content) {
    Bytes out{tag};
    const std::size_t size = content.size();
    if (size < 0x80) {
        out.push_back(static_cast<std::uint8_t>(size));
    } else {
        Bytes length;
        for (std::size_t rest = size; rest > 0; rest >>= 8) {
            length.insert(length.begin(), static_cast<std::uint8_t>(rest & 0xFF));
        }
        out.push_back(static_cast<std::uint8_t>(0x80 | length.size()));
        out.insert(out.end(), length.begin(), length.end());
    }
    out.insert(out.end(), content.begin(), content.end());
    return out;
}

// A positive INTEGER: a zero byte in front when the top bit is set.
Bytes DerUnsigned(std::span<const std::uint8_t> number) {
    Bytes value = WithoutLeadingZeros(number);
    if (value.empty() || (value.front() & 0x80) != 0) value.insert(value.begin(), 0);
    return Der(0x02, value);
}

// value mod modulus, both big-endian, bit by bit: r = 2r + bit, less the modulus when r reaches
// it. Words are 32-bit, least significant first; r has one word more than the modulus.
Bytes Mod(std::span<const std::uint8_t> value, std::span<const std::uint8_t> modulus) {
    std::vector<std::uint32_t> m((modulus.size() + 3) / 4 + 1, 0);
    for (std::size_t i = 0; i < modulus.size(); ++i) {
        const std::size_t bit = 8 * (modulus.size() - 1 - i);
        m[bit / 32] |= std::uint32_t{modulus[i]} << (bit % 32);
    }
    std::vector<std::uint32_t> r(m.size(), 0);
    for (const std::uint8_t byte : value) {
        for (int b = 7; b >= 0; --b) {
            std::uint32_t carry = (byte >> b) & 1u;
            for (std::uint32_t& word : r) {
                const std::uint32_t next = word >> 31;
                word = (word << 1) | carry;
                carry = next;
            }
            bool atLeast = true;  // r >= m, from the top word down
            for (std::size_t i = r.size(); i-- > 0;) {
                if (r[i] != m[i]) {
                    atLeast = r[i] > m[i];
                    break;
                }
            }
            if (!atLeast) continue;
            std::uint64_t borrow = 0;
            for (std::size_t i = 0; i < r.size(); ++i) {
                const std::uint64_t difference = std::uint64_t{r[i]} - m[i] - borrow;
                r[i] = static_cast<std::uint32_t>(difference);
                borrow = (difference >> 32) & 1u;
            }
        }
    }
    Bytes out;
    for (std::size_t i = r.size(); i-- > 0;) {
        for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<std::uint8_t>(r[i] >> shift));
    }
    return WithoutLeadingZeros(out);
}

Bytes MinusOne(std::span<const std::uint8_t> number) {
    Bytes out(number.begin(), number.end());
    for (std::size_t i = out.size(); i-- > 0;) {
        if (out[i]-- != 0) break;  // no borrow beyond this byte
    }
    return out;
}

Bytes Concat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const Bytes& part : parts) out.insert(out.end(), part.begin(), part.end());
    return out;
}

}  // namespace

std::optional<RsaBlobHeader> ReadRsaBlobHeader(std::span<const std::uint8_t> blob) {
    if (blob.size() < kRsaBlobHeaderSize) return std::nullopt;
    RsaBlobHeader header;
    header.magic = ReadLe32(blob, 0);
    header.bits = ReadLe32(blob, 4);
    header.cbPublicExp = ReadLe32(blob, 8);
    header.cbModulus = ReadLe32(blob, 12);
    header.cbPrime1 = ReadLe32(blob, 16);
    header.cbPrime2 = ReadLe32(blob, 20);
    if (header.cbPublicExp == 0 || header.cbPublicExp > kMaxModulusBytes) return std::nullopt;
    if (header.cbModulus == 0 || header.cbModulus > kMaxModulusBytes) return std::nullopt;
    if (header.cbPrime1 > kMaxModulusBytes || header.cbPrime2 > kMaxModulusBytes) return std::nullopt;
    // The announced bit length must fit the modulus field and need all of its bytes.
    if (header.bits == 0 || (static_cast<std::uint64_t>(header.bits) + 7) / 8 != header.cbModulus) {
        return std::nullopt;
    }
    return header;
}

std::uint64_t RsaPublicBlobSize(const RsaBlobHeader& header) {
    return kRsaBlobHeaderSize + std::uint64_t{header.cbPublicExp} + std::uint64_t{header.cbModulus};
}

std::uint64_t RsaFullPrivateBlobSize(const RsaBlobHeader& header) {
    return RsaPublicBlobSize(header) + std::uint64_t{header.cbModulus} +
           3 * std::uint64_t{header.cbPrime1} + 2 * std::uint64_t{header.cbPrime2};
}

void AppendLe32(Bytes& out, std::uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<std::uint8_t>(value >> shift));
}

bool RsaPrivateExponentMatches(std::span<const std::uint8_t> blob) {
    const auto header = ReadRsaBlobHeader(blob);
    if (!header || header->cbPrime1 == 0 || header->cbPrime2 == 0 || blob.size() != RsaFullPrivateBlobSize(*header)) {
        return false;
    }
    std::size_t at = RsaPublicBlobSize(*header);
    auto take = [&](std::uint32_t size) {
        const auto part = blob.subspan(at, size);
        at += size;
        return part;
    };
    const auto p = take(header->cbPrime1);
    const auto q = take(header->cbPrime2);
    const auto dp = take(header->cbPrime1);
    const auto dq = take(header->cbPrime2);
    take(header->cbPrime1);  // the coefficient
    const auto d = take(header->cbModulus);
    const Bytes pMinusOne = MinusOne(p);
    const Bytes qMinusOne = MinusOne(q);
    if (WithoutLeadingZeros(pMinusOne).empty() || WithoutLeadingZeros(qMinusOne).empty()) return false;
    return Mod(d, pMinusOne) == WithoutLeadingZeros(dp) && Mod(d, qMinusOne) == WithoutLeadingZeros(dq);
}

Bytes WithoutLeadingZeros(std::span<const std::uint8_t> number) {
    std::size_t first = 0;
    while (first < number.size() && number[first] == 0) ++first;
    return Bytes(number.begin() + static_cast<std::ptrdiff_t>(first), number.end());
}

Bytes RsaPublicKeyInfoDer(std::span<const std::uint8_t> modulus, std::span<const std::uint8_t> exponent) {
    // rsaEncryption, 1.2.840.113549.1.1.1
    static const Bytes kRsaOid = {0x06, 0x09, 0x2A, 0x86, 0x48, 0x86, 0xF7, 0x0D, 0x01, 0x01, 0x01};
    static const Bytes kNull = {0x05, 0x00};
    const Bytes algorithm = Der(0x30, Concat({kRsaOid, kNull}));
    const Bytes rsaPublicKey = Der(0x30, Concat({DerUnsigned(modulus), DerUnsigned(exponent)}));
    const Bytes bitString = Der(0x03, Concat({Bytes{0x00}, rsaPublicKey}));  // no unused bits
    return Der(0x30, Concat({algorithm, bitString}));
}

}  // namespace lumivale
