#include "Rsa.h"

#include "RsaBlob.h"

#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/param_build.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>

#include <algorithm>
#include <array>

namespace lumivale {

using Bytes = std::vector<std::uint8_t>;

struct RsaKey::Impl {
    EVP_PKEY* key = nullptr;
    bool hasPrivate = false;
    ~Impl() { EVP_PKEY_free(key); }
};

namespace {

struct BnFree {
    void operator()(BIGNUM* number) const { BN_clear_free(number); }
};
using BnPtr = std::unique_ptr<BIGNUM, BnFree>;

struct PkeyFree {
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
using PkeyPtr = std::unique_ptr<EVP_PKEY, PkeyFree>;

struct PkeyCtxFree {
    void operator()(EVP_PKEY_CTX* context) const { EVP_PKEY_CTX_free(context); }
};
using PkeyCtxPtr = std::unique_ptr<EVP_PKEY_CTX, PkeyCtxFree>;

struct ParamBldFree {
    void operator()(OSSL_PARAM_BLD* builder) const { OSSL_PARAM_BLD_free(builder); }
};
struct ParamFree {
    void operator()(OSSL_PARAM* params) const { OSSL_PARAM_free(params); }
};

BnPtr ToBignum(std::span<const std::uint8_t> bytes) {
    return BnPtr(BN_bin2bn(bytes.data(), static_cast<int>(bytes.size()), nullptr));
}

BnPtr GetBn(const EVP_PKEY* key, const char* name) {
    BIGNUM* number = nullptr;
    if (EVP_PKEY_get_bn_param(key, name, &number) != 1) return nullptr;
    return BnPtr(number);
}

// Appends the number big-endian, left-padded with zeros to `size` bytes.
bool AppendPadded(Bytes& out, const BIGNUM* number, std::size_t size) {
    const std::size_t at = out.size();
    out.resize(at + size);
    return BN_bn2binpad(number, out.data() + at, static_cast<int>(size)) == static_cast<int>(size);
}

Bytes ToBytes(const BIGNUM* number) {
    Bytes out(static_cast<std::size_t>(BN_num_bytes(number)));
    if (!out.empty()) BN_bn2bin(number, out.data());
    return out;
}

// Builds a key from named numbers; selection is EVP_PKEY_KEYPAIR or EVP_PKEY_PUBLIC_KEY.
PkeyPtr KeyFromNumbers(const std::vector<std::pair<const char*, const BIGNUM*>>& numbers,
                       int selection) {
    std::unique_ptr<OSSL_PARAM_BLD, ParamBldFree> builder(OSSL_PARAM_BLD_new());
    if (!builder) return nullptr;
    for (const auto& [name, number] : numbers) {
        if (OSSL_PARAM_BLD_push_BN(builder.get(), name, number) != 1) return nullptr;
    }
    std::unique_ptr<OSSL_PARAM, ParamFree> params(OSSL_PARAM_BLD_to_param(builder.get()));
    if (!params) return nullptr;
    PkeyCtxPtr context(EVP_PKEY_CTX_new_from_name(nullptr, "RSA", nullptr));
    if (!context || EVP_PKEY_fromdata_init(context.get()) != 1) return nullptr;
    EVP_PKEY* key = nullptr;
    if (EVP_PKEY_fromdata(context.get(), &key, selection, params.get()) != 1) return nullptr;
    return PkeyPtr(key);
}

PkeyCtxPtr SignatureContext(EVP_PKEY* key, bool forSigning) {
    PkeyCtxPtr context(EVP_PKEY_CTX_new_from_pkey(nullptr, key, nullptr));
    if (!context) return nullptr;
    const int init = forSigning ? EVP_PKEY_sign_init(context.get()) : EVP_PKEY_verify_init(context.get());
    if (init != 1) return nullptr;
    if (EVP_PKEY_CTX_set_rsa_padding(context.get(), RSA_PKCS1_PADDING) <= 0) return nullptr;
    if (EVP_PKEY_CTX_set_signature_md(context.get(), EVP_sha256()) <= 0) return nullptr;
    return context;
}

}  // namespace

Bytes Sha256Digest(std::span<const std::uint8_t> data) {
    std::array<unsigned char, EVP_MAX_MD_SIZE> digest{};
    unsigned int length = 0;
    if (EVP_Digest(data.data(), data.size(), digest.data(), &length, EVP_sha256(), nullptr) != 1 ||
        length != 32) {
        return {};
    }
    return Bytes(digest.begin(), digest.begin() + length);
}

std::optional<RsaKey> RsaKey::Generate(unsigned bits) {
    PkeyCtxPtr context(EVP_PKEY_CTX_new_from_name(nullptr, "RSA", nullptr));
    if (!context || EVP_PKEY_keygen_init(context.get()) != 1) return std::nullopt;
    if (EVP_PKEY_CTX_set_rsa_keygen_bits(context.get(), static_cast<int>(bits)) <= 0) return std::nullopt;
    EVP_PKEY* key = nullptr;
    if (EVP_PKEY_generate(context.get(), &key) != 1 || key == nullptr) return std::nullopt;
    auto impl = std::make_shared<Impl>();
    impl->key = key;
    impl->hasPrivate = true;
    return RsaKey(std::move(impl));
}

std::optional<RsaKey> RsaKey::FromFullPrivateBlob(std::span<const std::uint8_t> blob) {
    const auto header = ReadRsaBlobHeader(blob);
    if (!header || header->magic != kRsaFullPrivateBlobMagic) return std::nullopt;
    if (header->cbPrime1 == 0 || header->cbPrime2 == 0) return std::nullopt;
    if (blob.size() != RsaFullPrivateBlobSize(*header)) return std::nullopt;

    std::size_t at = kRsaBlobHeaderSize;
    auto take = [&](std::uint32_t size) {
        BnPtr number = ToBignum(blob.subspan(at, size));
        at += size;
        return number;
    };
    BnPtr e = take(header->cbPublicExp);
    BnPtr n = take(header->cbModulus);
    BnPtr p = take(header->cbPrime1);
    BnPtr q = take(header->cbPrime2);
    BnPtr dp = take(header->cbPrime1);
    BnPtr dq = take(header->cbPrime2);
    BnPtr qinv = take(header->cbPrime1);
    BnPtr d = take(header->cbModulus);
    if (!e || !n || !p || !q || !dp || !dq || !qinv || !d) return std::nullopt;
    if (BN_is_zero(e.get()) || BN_is_zero(n.get()) || BN_is_zero(d.get())) return std::nullopt;

    PkeyPtr key = KeyFromNumbers({{OSSL_PKEY_PARAM_RSA_N, n.get()},
                                  {OSSL_PKEY_PARAM_RSA_E, e.get()},
                                  {OSSL_PKEY_PARAM_RSA_D, d.get()},
                                  {OSSL_PKEY_PARAM_RSA_FACTOR1, p.get()},
                                  {OSSL_PKEY_PARAM_RSA_FACTOR2, q.get()},
                                  {OSSL_PKEY_PARAM_RSA_EXPONENT1, dp.get()},
                                  {OSSL_PKEY_PARAM_RSA_EXPONENT2, dq.get()},
                                  {OSSL_PKEY_PARAM_RSA_COEFFICIENT1, qinv.get()}},
                                 EVP_PKEY_KEYPAIR);
    if (!key) return std::nullopt;
    // The numbers must belong together (n = p*q, d and the CRT values match e).
    PkeyCtxPtr check(EVP_PKEY_CTX_new_from_pkey(nullptr, key.get(), nullptr));
    if (!check || EVP_PKEY_pairwise_check(check.get()) != 1) return std::nullopt;

    auto impl = std::make_shared<Impl>();
    impl->key = key.release();
    impl->hasPrivate = true;
    return RsaKey(std::move(impl));
}

std::optional<RsaKey> RsaKey::FromPublicBlob(std::span<const std::uint8_t> blob) {
    const auto header = ReadRsaBlobHeader(blob);
    if (!header || header->magic != kRsaPublicBlobMagic) return std::nullopt;
    if (blob.size() != RsaPublicBlobSize(*header)) return std::nullopt;
    BnPtr e = ToBignum(blob.subspan(kRsaBlobHeaderSize, header->cbPublicExp));
    BnPtr n = ToBignum(blob.subspan(kRsaBlobHeaderSize + header->cbPublicExp, header->cbModulus));
    if (!e || !n || BN_is_zero(e.get()) || BN_is_zero(n.get())) return std::nullopt;
    PkeyPtr key = KeyFromNumbers({{OSSL_PKEY_PARAM_RSA_N, n.get()}, {OSSL_PKEY_PARAM_RSA_E, e.get()}},
                                 EVP_PKEY_PUBLIC_KEY);
    if (!key) return std::nullopt;
    auto impl = std::make_shared<Impl>();
    impl->key = key.release();
    impl->hasPrivate = false;
    return RsaKey(std::move(impl));
}

bool RsaKey::HasPrivateKey() const { return impl_ && impl_->hasPrivate; }

unsigned RsaKey::Bits() const {
    if (!impl_) return 0;
    const int bits = EVP_PKEY_get_bits(impl_->key);
    return bits > 0 ? static_cast<unsigned>(bits) : 0;
}

Bytes RsaKey::ExportFullPrivateBlob() const {
    if (!HasPrivateKey()) return {};
    const EVP_PKEY* key = impl_->key;
    BnPtr n = GetBn(key, OSSL_PKEY_PARAM_RSA_N);
    BnPtr e = GetBn(key, OSSL_PKEY_PARAM_RSA_E);
    BnPtr d = GetBn(key, OSSL_PKEY_PARAM_RSA_D);
    BnPtr p = GetBn(key, OSSL_PKEY_PARAM_RSA_FACTOR1);
    BnPtr q = GetBn(key, OSSL_PKEY_PARAM_RSA_FACTOR2);
    BnPtr dp = GetBn(key, OSSL_PKEY_PARAM_RSA_EXPONENT1);
    BnPtr dq = GetBn(key, OSSL_PKEY_PARAM_RSA_EXPONENT2);
    BnPtr qinv = GetBn(key, OSSL_PKEY_PARAM_RSA_COEFFICIENT1);
    if (!n || !e || !d || !p || !q || !dp || !dq || !qinv) return {};

    const auto bits = static_cast<std::uint32_t>(BN_num_bits(n.get()));
    const std::uint32_t cbModulus = (bits + 7) / 8;
    const auto cbPublicExp = static_cast<std::uint32_t>(BN_num_bytes(e.get()));
    // Each prime gets half the modulus, as the Windows provider writes it.
    const std::uint32_t half = (bits / 2 + 7) / 8;
    const std::uint32_t cbPrime1 = std::max(half, static_cast<std::uint32_t>(BN_num_bytes(p.get())));
    const std::uint32_t cbPrime2 = std::max(half, static_cast<std::uint32_t>(BN_num_bytes(q.get())));

    Bytes blob;
    blob.reserve(kRsaBlobHeaderSize + cbPublicExp + 2 * cbModulus + 3 * cbPrime1 + 2 * cbPrime2);
    AppendLe32(blob, kRsaFullPrivateBlobMagic);
    AppendLe32(blob, bits);
    AppendLe32(blob, cbPublicExp);
    AppendLe32(blob, cbModulus);
    AppendLe32(blob, cbPrime1);
    AppendLe32(blob, cbPrime2);
    const bool ok = AppendPadded(blob, e.get(), cbPublicExp) && AppendPadded(blob, n.get(), cbModulus) &&
                    AppendPadded(blob, p.get(), cbPrime1) && AppendPadded(blob, q.get(), cbPrime2) &&
                    AppendPadded(blob, dp.get(), cbPrime1) && AppendPadded(blob, dq.get(), cbPrime2) &&
                    AppendPadded(blob, qinv.get(), cbPrime1) && AppendPadded(blob, d.get(), cbModulus);
    if (!ok) {
        std::fill(blob.begin(), blob.end(), std::uint8_t{0});
        return {};
    }
    return blob;
}

Bytes RsaKey::ExportPublicBlob() const {
    if (!impl_) return {};
    BnPtr n = GetBn(impl_->key, OSSL_PKEY_PARAM_RSA_N);
    BnPtr e = GetBn(impl_->key, OSSL_PKEY_PARAM_RSA_E);
    if (!n || !e) return {};
    const auto bits = static_cast<std::uint32_t>(BN_num_bits(n.get()));
    const std::uint32_t cbModulus = (bits + 7) / 8;
    const auto cbPublicExp = static_cast<std::uint32_t>(BN_num_bytes(e.get()));
    Bytes blob;
    AppendLe32(blob, kRsaPublicBlobMagic);
    AppendLe32(blob, bits);
    AppendLe32(blob, cbPublicExp);
    AppendLe32(blob, cbModulus);
    AppendLe32(blob, 0);
    AppendLe32(blob, 0);
    if (!AppendPadded(blob, e.get(), cbPublicExp) || !AppendPadded(blob, n.get(), cbModulus)) return {};
    return blob;
}

Bytes RsaKey::PublicKeyDer() const {
    if (!impl_) return {};
    unsigned char* der = nullptr;
    const int length = i2d_PUBKEY(impl_->key, &der);
    if (length <= 0 || der == nullptr) return {};
    Bytes out(der, der + length);
    OPENSSL_free(der);
    return out;
}

Bytes RsaKey::Modulus() const {
    if (!impl_) return {};
    BnPtr n = GetBn(impl_->key, OSSL_PKEY_PARAM_RSA_N);
    return n ? ToBytes(n.get()) : Bytes{};
}

Bytes RsaKey::PublicExponent() const {
    if (!impl_) return {};
    BnPtr e = GetBn(impl_->key, OSSL_PKEY_PARAM_RSA_E);
    return e ? ToBytes(e.get()) : Bytes{};
}

Bytes RsaKey::SignSha256Digest(std::span<const std::uint8_t> digest) const {
    if (!HasPrivateKey() || digest.size() != 32) return {};
    PkeyCtxPtr context = SignatureContext(impl_->key, true);
    if (!context) return {};
    std::size_t length = 0;
    if (EVP_PKEY_sign(context.get(), nullptr, &length, digest.data(), digest.size()) != 1 || length == 0) {
        return {};
    }
    Bytes signature(length);
    if (EVP_PKEY_sign(context.get(), signature.data(), &length, digest.data(), digest.size()) != 1) return {};
    signature.resize(length);
    return signature;
}

bool RsaKey::VerifySha256Digest(std::span<const std::uint8_t> digest,
                                std::span<const std::uint8_t> signature) const {
    if (!impl_ || digest.size() != 32 || signature.empty()) return false;
    PkeyCtxPtr context = SignatureContext(impl_->key, false);
    if (!context) return false;
    return EVP_PKEY_verify(context.get(), signature.data(), signature.size(), digest.data(),
                           digest.size()) == 1;
}

}  // namespace lumivale
