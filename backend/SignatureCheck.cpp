#include "SignatureCheck.h"

#include <openssl/bio.h>
#include <openssl/decoder.h>
#include <openssl/evp.h>
#include <openssl/rsa.h>

#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <vector>

namespace lumivale::backend {

namespace {

struct PkeyFree {
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
struct MdCtxFree {
    void operator()(EVP_MD_CTX* ctx) const { EVP_MD_CTX_free(ctx); }
};
struct DecoderFree {
    void operator()(OSSL_DECODER_CTX* ctx) const { OSSL_DECODER_CTX_free(ctx); }
};
using PkeyPtr = std::unique_ptr<EVP_PKEY, PkeyFree>;

PkeyPtr ReadPublicKey(std::string_view pem) {
    if (pem.empty() || pem.size() > 16384) return nullptr;
    EVP_PKEY* key = nullptr;
    std::unique_ptr<OSSL_DECODER_CTX, DecoderFree> ctx(OSSL_DECODER_CTX_new_for_pkey(
        &key, "PEM", nullptr, "RSA", OSSL_KEYMGMT_SELECT_PUBLIC_KEY, nullptr, nullptr));
    if (!ctx) return nullptr;
    const auto* data = reinterpret_cast<const unsigned char*>(pem.data());
    std::size_t length = pem.size();
    if (OSSL_DECODER_from_data(ctx.get(), &data, &length) != 1) {
        EVP_PKEY_free(key);
        return nullptr;
    }
    return PkeyPtr(key);
}

// Registered keys as parsed once: reading a PEM costs several times what a verification does.
// Parsed keys are only read from then on, which OpenSSL allows from several threads at once.
std::shared_ptr<EVP_PKEY> CachedPublicKey(std::string_view pem) {
    static constexpr std::size_t kMaxKeys = 4096;  // then the cache starts over: its memory stays bounded
    static std::mutex mutex;
    static std::unordered_map<std::string, std::shared_ptr<EVP_PKEY>> keys;
    {
        std::lock_guard lock(mutex);
        if (const auto found = keys.find(std::string(pem)); found != keys.end()) return found->second;
    }
    std::shared_ptr<EVP_PKEY> key(ReadPublicKey(pem).release(), PkeyFree());
    if (!key) return nullptr;
    std::lock_guard lock(mutex);
    if (keys.size() >= kMaxKeys) keys.clear();
    keys.emplace(std::string(pem), key);
    return key;
}

}  // namespace

bool IsUsablePublicKeyPem(std::string_view pem) {
    PkeyPtr key = ReadPublicKey(pem);
    return key && EVP_PKEY_get_bits(key.get()) >= 1024;
}

std::optional<std::vector<unsigned char>> DecodeCanonicalBase64(std::string_view text) {
    if (text.empty() || text.size() % 4 != 0 || text.size() > 4096) return std::nullopt;
    std::vector<unsigned char> bytes(text.size() / 4 * 3);
    const int decoded = EVP_DecodeBlock(bytes.data(), reinterpret_cast<const unsigned char*>(text.data()),
                                        static_cast<int>(text.size()));
    if (decoded < 0) return std::nullopt;
    // EVP_DecodeBlock counts padding as zero bytes and forgives white space and stray bits:
    // the padding is taken off, and the bytes must encode back to exactly the text received.
    std::size_t size = static_cast<std::size_t>(decoded);
    for (std::size_t i = text.size(); i > 0 && text[i - 1] == '=' && size > 0; --i) --size;
    bytes.resize(size);
    std::string again(4 * ((size + 2) / 3) + 1, '\0');
    EVP_EncodeBlock(reinterpret_cast<unsigned char*>(again.data()), bytes.data(), static_cast<int>(size));
    again.pop_back();
    if (bytes.empty() || again != text) return std::nullopt;
    return bytes;
}

std::string HexOf(const std::vector<unsigned char>& bytes) {
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string out;
    out.reserve(bytes.size() * 2);
    for (unsigned char byte : bytes) {
        out += kDigits[byte >> 4];
        out += kDigits[byte & 0x0F];
    }
    return out;
}

bool VerifySignature(std::string_view pem, std::string_view message, const std::vector<unsigned char>& signature) {
    const std::shared_ptr<EVP_PKEY> key = CachedPublicKey(pem);
    if (!key) return false;
    std::unique_ptr<EVP_MD_CTX, MdCtxFree> ctx(EVP_MD_CTX_new());
    if (!ctx) return false;
    EVP_PKEY_CTX* pkeyCtx = nullptr;
    if (EVP_DigestVerifyInit(ctx.get(), &pkeyCtx, EVP_sha256(), nullptr, key.get()) != 1) return false;
    if (EVP_PKEY_CTX_set_rsa_padding(pkeyCtx, RSA_PKCS1_PADDING) != 1) return false;
    return EVP_DigestVerify(ctx.get(), signature.data(), signature.size(),
                            reinterpret_cast<const unsigned char*>(message.data()), message.size()) == 1;
}

std::string NormalizePem(std::string_view pem) {
    std::string out;
    out.reserve(pem.size() + 1);
    for (char c : pem)
        if (c != '\r') out += c;
    while (!out.empty() && (out.back() == '\n' || out.back() == ' ')) out.pop_back();
    out += '\n';
    return out;
}

}  // namespace lumivale::backend
