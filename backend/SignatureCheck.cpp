#include "SignatureCheck.h"

#include <openssl/bio.h>
#include <openssl/decoder.h>
#include <openssl/evp.h>
#include <openssl/rsa.h>

#include <memory>
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

// Strict standard Base64 (whitespace skipped); nothing for any other character.
bool DecodeBase64(std::string_view text, std::vector<unsigned char>& out) {
    auto value = [](char c) -> int {
        if (c >= 'A' && c <= 'Z') return c - 'A';
        if (c >= 'a' && c <= 'z') return c - 'a' + 26;
        if (c >= '0' && c <= '9') return c - '0' + 52;
        if (c == '+') return 62;
        if (c == '/') return 63;
        return -1;
    };
    unsigned buffer = 0;
    int bits = 0;
    bool padding = false;
    for (char c : text) {
        if (c == ' ' || c == '\n' || c == '\r' || c == '\t') continue;
        if (c == '=') {
            padding = true;
            continue;
        }
        const int v = value(c);
        if (v < 0 || padding) return false;
        buffer = (buffer << 6) | static_cast<unsigned>(v);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out.push_back(static_cast<unsigned char>((buffer >> bits) & 0xFFu));
        }
    }
    return !out.empty();
}

}  // namespace

bool IsUsablePublicKeyPem(std::string_view pem) {
    PkeyPtr key = ReadPublicKey(pem);
    return key && EVP_PKEY_get_bits(key.get()) >= 1024;
}

bool VerifySignature(std::string_view pem, std::string_view message, std::string_view signatureBase64) {
    PkeyPtr key = ReadPublicKey(pem);
    if (!key) return false;
    std::vector<unsigned char> signature;
    if (signatureBase64.size() > 4096 || !DecodeBase64(signatureBase64, signature)) return false;
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
