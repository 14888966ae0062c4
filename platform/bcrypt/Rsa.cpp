// RsaKey through Windows CNG: the key blobs are BCrypt's own (BCRYPT_RSAFULLPRIVATE_BLOB,
// BCRYPT_RSAPUBLIC_BLOB), signatures PKCS#1 v1.5 over SHA-256.
#include "Rsa.h"

#include <windows.h>
#include <bcrypt.h>

#include <mutex>

#include "RsaBlob.h"

namespace lumivale {

using Bytes = std::vector<std::uint8_t>;

struct RsaKey::Impl {
    BCRYPT_ALG_HANDLE provider = nullptr;
    BCRYPT_KEY_HANDLE key = nullptr;
    bool hasPrivate = false;
    mutable std::mutex mutex;  // one operation on the key handle at a time
    ~Impl() {
        if (key != nullptr) BCryptDestroyKey(key);
        if (provider != nullptr) BCryptCloseAlgorithmProvider(provider, 0);
    }
};

namespace {

std::shared_ptr<RsaKey::Impl> OpenProvider() {
    auto impl = std::make_shared<RsaKey::Impl>();
    if (BCryptOpenAlgorithmProvider(&impl->provider, BCRYPT_RSA_ALGORITHM, nullptr, 0) < 0) return nullptr;
    return impl;
}

Bytes Export(const RsaKey::Impl& impl, const wchar_t* type) {
    std::lock_guard lock(impl.mutex);
    ULONG size = 0;
    if (BCryptExportKey(impl.key, nullptr, type, nullptr, 0, &size, 0) < 0 || size == 0) return {};
    Bytes blob(size);
    if (BCryptExportKey(impl.key, nullptr, type, blob.data(), size, &size, 0) < 0) return {};
    blob.resize(size);
    return blob;
}

BCRYPT_PKCS1_PADDING_INFO Sha256Padding() { return BCRYPT_PKCS1_PADDING_INFO{BCRYPT_SHA256_ALGORITHM}; }

// The public blob's exponent and modulus, big-endian as stored.
std::pair<Bytes, Bytes> PublicNumbers(const Bytes& blob) {
    const auto header = ReadRsaBlobHeader(blob);
    if (!header || blob.size() < RsaPublicBlobSize(*header)) return {};
    const auto exponent = blob.begin() + static_cast<std::ptrdiff_t>(kRsaBlobHeaderSize);
    const auto modulus = exponent + header->cbPublicExp;
    return {Bytes(exponent, modulus), Bytes(modulus, modulus + header->cbModulus)};
}

}  // namespace

std::optional<RsaKey> RsaKey::Generate(unsigned bits) {
    auto impl = OpenProvider();
    if (!impl || BCryptGenerateKeyPair(impl->provider, &impl->key, bits, 0) < 0 ||
        BCryptFinalizeKeyPair(impl->key, 0) < 0) {
        return std::nullopt;
    }
    impl->hasPrivate = true;
    // A provider may write d in another form (mod phi or mod lambda) than it reads it back in;
    // going through the blob once makes the stored key export the same bytes ever after.
    return FromFullPrivateBlob(RsaKey(std::move(impl)).ExportFullPrivateBlob());
}

std::optional<RsaKey> RsaKey::FromFullPrivateBlob(std::span<const std::uint8_t> blob) {
    const auto header = ReadRsaBlobHeader(blob);
    if (!header || header->magic != kRsaFullPrivateBlobMagic || !RsaPrivateExponentMatches(blob)) {
        return std::nullopt;
    }
    auto impl = OpenProvider();
    if (!impl || BCryptImportKeyPair(impl->provider, nullptr, BCRYPT_RSAFULLPRIVATE_BLOB, &impl->key,
                                     const_cast<PUCHAR>(blob.data()), static_cast<ULONG>(blob.size()), 0) < 0) {
        return std::nullopt;
    }
    impl->hasPrivate = true;
    RsaKey key(std::move(impl));
    // CNG takes the numbers as they come; a signature that its own public half accepts shows
    // that they belong together.
    const Bytes probe(32, 0x5A);
    if (!key.VerifySha256Digest(probe, key.SignSha256Digest(probe))) return std::nullopt;
    return key;
}

std::optional<RsaKey> RsaKey::FromPublicBlob(std::span<const std::uint8_t> blob) {
    const auto header = ReadRsaBlobHeader(blob);
    if (!header || header->magic != kRsaPublicBlobMagic || blob.size() != RsaPublicBlobSize(*header)) {
        return std::nullopt;
    }
    auto impl = OpenProvider();
    if (!impl || BCryptImportKeyPair(impl->provider, nullptr, BCRYPT_RSAPUBLIC_BLOB, &impl->key,
                                     const_cast<PUCHAR>(blob.data()), static_cast<ULONG>(blob.size()), 0) < 0) {
        return std::nullopt;
    }
    return RsaKey(std::move(impl));
}

bool RsaKey::HasPrivateKey() const { return impl_ && impl_->hasPrivate; }

unsigned RsaKey::Bits() const {
    if (!impl_) return 0;
    const auto header = ReadRsaBlobHeader(ExportPublicBlob());
    return header ? header->bits : 0;
}

Bytes RsaKey::ExportFullPrivateBlob() const {
    if (!HasPrivateKey()) return {};
    return Export(*impl_, BCRYPT_RSAFULLPRIVATE_BLOB);
}

Bytes RsaKey::ExportPublicBlob() const {
    if (!impl_) return {};
    return Export(*impl_, BCRYPT_RSAPUBLIC_BLOB);
}

Bytes RsaKey::PublicKeyDer() const {
    const auto [exponent, modulus] = PublicNumbers(ExportPublicBlob());
    if (modulus.empty()) return {};
    return RsaPublicKeyInfoDer(modulus, exponent);
}

Bytes RsaKey::Modulus() const { return WithoutLeadingZeros(PublicNumbers(ExportPublicBlob()).second); }

Bytes RsaKey::PublicExponent() const { return WithoutLeadingZeros(PublicNumbers(ExportPublicBlob()).first); }

Bytes RsaKey::SignSha256Digest(std::span<const std::uint8_t> digest) const {
    if (!HasPrivateKey() || digest.size() != 32) return {};
    std::lock_guard lock(impl_->mutex);
    BCRYPT_PKCS1_PADDING_INFO padding = Sha256Padding();
    ULONG size = 0;
    auto* input = const_cast<PUCHAR>(digest.data());
    if (BCryptSignHash(impl_->key, &padding, input, 32, nullptr, 0, &size, BCRYPT_PAD_PKCS1) < 0 || size == 0) {
        return {};
    }
    Bytes signature(size);
    if (BCryptSignHash(impl_->key, &padding, input, 32, signature.data(), size, &size, BCRYPT_PAD_PKCS1) < 0) {
        return {};
    }
    signature.resize(size);
    return signature;
}

bool RsaKey::VerifySha256Digest(std::span<const std::uint8_t> digest, std::span<const std::uint8_t> signature) const {
    if (!impl_ || digest.size() != 32 || signature.empty()) return false;
    std::lock_guard lock(impl_->mutex);
    BCRYPT_PKCS1_PADDING_INFO padding = Sha256Padding();
    return BCryptVerifySignature(impl_->key, &padding, const_cast<PUCHAR>(digest.data()), 32,
                                 const_cast<PUCHAR>(signature.data()), static_cast<ULONG>(signature.size()),
                                 BCRYPT_PAD_PKCS1) >= 0;
}

}  // namespace lumivale
