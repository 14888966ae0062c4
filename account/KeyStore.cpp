#include "KeyStore.h"

#include <array>
#include <fstream>

#include "Log.h"
#include "Paths.h"

namespace lumivale {

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int Base64Value(char c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
}

std::span<const std::uint8_t> AsBytes(std::string_view text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

std::uint32_t ReadLe32(std::span<const std::uint8_t> bytes, std::size_t offset) {
    return static_cast<std::uint32_t>(bytes[offset]) |
           (static_cast<std::uint32_t>(bytes[offset + 1]) << 8) |
           (static_cast<std::uint32_t>(bytes[offset + 2]) << 16) |
           (static_cast<std::uint32_t>(bytes[offset + 3]) << 24);
}

void AppendDerLength(std::vector<std::uint8_t>& out, std::size_t length) {
    if (length < 128) {
        out.push_back(static_cast<std::uint8_t>(length));
    } else if (length < 256) {
        out.push_back(0x81);
        out.push_back(static_cast<std::uint8_t>(length));
    } else {
        out.push_back(0x82);
        out.push_back(static_cast<std::uint8_t>(length >> 8));
        out.push_back(static_cast<std::uint8_t>(length & 0xFF));
    }
}

void AppendDerInteger(std::vector<std::uint8_t>& out, std::span<const std::uint8_t> bigEndian) {
    while (bigEndian.size() > 1 && bigEndian.front() == 0) bigEndian = bigEndian.subspan(1);
    const bool pad = !bigEndian.empty() && (bigEndian.front() & 0x80) != 0;
    out.push_back(0x02);
    AppendDerLength(out, bigEndian.size() + (pad ? 1 : 0));
    if (pad) out.push_back(0x00);
    out.insert(out.end(), bigEndian.begin(), bigEndian.end());
}

const char* Flag(bool value) { return value ? "1" : "0"; }

}  // namespace

std::string Base64Encode(std::span<const std::uint8_t> bytes) {
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    std::size_t i = 0;
    for (; i + 3 <= bytes.size(); i += 3) {
        const std::uint32_t group = (std::uint32_t{bytes[i]} << 16) | (std::uint32_t{bytes[i + 1]} << 8) |
                                    std::uint32_t{bytes[i + 2]};
        out += kAlphabet[(group >> 18) & 0x3F];
        out += kAlphabet[(group >> 12) & 0x3F];
        out += kAlphabet[(group >> 6) & 0x3F];
        out += kAlphabet[group & 0x3F];
    }
    const std::size_t rest = bytes.size() - i;
    if (rest == 1) {
        const std::uint32_t group = std::uint32_t{bytes[i]} << 16;
        out += kAlphabet[(group >> 18) & 0x3F];
        out += kAlphabet[(group >> 12) & 0x3F];
        out += "==";
    } else if (rest == 2) {
        const std::uint32_t group = (std::uint32_t{bytes[i]} << 16) | (std::uint32_t{bytes[i + 1]} << 8);
        out += kAlphabet[(group >> 18) & 0x3F];
        out += kAlphabet[(group >> 12) & 0x3F];
        out += kAlphabet[(group >> 6) & 0x3F];
        out += '=';
    }
    return out;
}

std::vector<std::uint8_t> Base64Decode(std::string_view text) {
    std::vector<std::uint8_t> out;
    out.reserve(text.size() * 3 / 4);
    std::uint32_t buffer = 0;
    int bits = 0;
    for (const char c : text) {
        // Whitespace and padding are skipped; anything else outside the alphabet is ignored too.
        const int value = Base64Value(c);
        if (value < 0) continue;
        buffer = ((buffer << 6) | static_cast<std::uint32_t>(value)) & 0xFFFFFF;
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out.push_back(static_cast<std::uint8_t>((buffer >> bits) & 0xFF));
        }
    }
    return out;
}

KeyStore::~KeyStore() {
    std::lock_guard guard(lock_);
    key_.reset();
}

bool KeyStore::GenerateKey() {
    if (ready_) return true;
    std::lock_guard guard(lock_);
    if (ready_) return true;  // another thread got there first; a loaded key is never replaced
    auto key = RsaKey::Generate(2048);
    if (!key) return false;
    key_ = std::move(key);
    ready_ = true;
    return true;
}

bool KeyStore::ImportDecoded(const std::vector<std::uint8_t>& blob) {
    if (blob.empty()) return false;
    std::lock_guard guard(lock_);
    if (ready_) return true;
    auto key = RsaKey::FromFullPrivateBlob(blob);
    if (!key) return false;
    key_ = std::move(key);
    ready_ = true;
    return true;
}

bool KeyStore::ImportPrivateKey(std::string_view base64) {
    if (ready_) return true;
    if (base64.empty()) return false;
    return ImportDecoded(Base64Decode(base64));
}

bool KeyStore::MigrateLegacyKeyFile() { return MigrateLegacyKeyFile(ExecutableFolder()); }

bool KeyStore::MigrateLegacyKeyFile(const std::filesystem::path& folder) {
    if (ready_) return true;
    const std::filesystem::path file = folder / std::string(kLegacyKeyFileName);
    std::error_code error;
    if (!std::filesystem::is_regular_file(file, error)) return false;
    std::ifstream in(file, std::ios::binary);
    if (!in) return false;
    std::string text;
    std::array<char, 1024> chunk{};
    while (in) {
        in.read(chunk.data(), static_cast<std::streamsize>(chunk.size()));
        text.append(chunk.data(), static_cast<std::size_t>(in.gcount()));
    }
    if (in.bad()) return false;
    in.close();
    if (text.empty()) return false;
    return ImportDecoded(Base64Decode(text));
}

std::string KeyStore::ExportPrivateKeyBase64() {
    std::vector<std::uint8_t> blob;
    {
        std::lock_guard guard(lock_);
        if (!ready_ || !key_) return {};
        blob = key_->ExportFullPrivateBlob();
    }
    if (blob.empty()) return {};
    std::string text = Base64Encode(blob);
    std::fill(blob.begin(), blob.end(), std::uint8_t{0});
    return text;
}

std::string KeyStore::PublicKeyPem(std::span<const std::uint8_t> blob) {
    if (blob.size() < kRsaBlobHeaderSize) return {};
    const std::uint64_t cbPublicExp = ReadLe32(blob, 8);
    const std::uint64_t cbModulus = ReadLe32(blob, 12);
    if (cbPublicExp == 0 || cbModulus == 0) return {};
    if (blob.size() < kRsaBlobHeaderSize + cbPublicExp + cbModulus) return {};
    const auto exponent = blob.subspan(kRsaBlobHeaderSize, cbPublicExp);
    const auto modulus = blob.subspan(kRsaBlobHeaderSize + cbPublicExp, cbModulus);

    std::vector<std::uint8_t> content;
    AppendDerInteger(content, modulus);
    AppendDerInteger(content, exponent);
    std::vector<std::uint8_t> der;
    der.push_back(0x30);
    AppendDerLength(der, content.size());
    der.insert(der.end(), content.begin(), content.end());

    const std::string base64 = Base64Encode(der);
    std::string pem = "-----BEGIN RSA PUBLIC KEY-----\n";
    for (std::size_t at = 0; at < base64.size(); at += 64) {
        pem.append(base64, at, 64);
        pem += '\n';
    }
    pem += "-----END RSA PUBLIC KEY-----\n";
    return pem;
}

std::string KeyStore::SignLocked(std::string_view text) {
    // The caller holds the lock.
    if (!ready_ || !key_) return {};
    const std::vector<std::uint8_t> digest = Sha256Digest(AsBytes(text));
    if (digest.size() != 32) return {};
    const std::vector<std::uint8_t> signature = key_->SignSha256Digest(digest);
    if (signature.empty()) return {};
    return Base64Encode(signature);
}

std::string KeyStore::SignBase64(std::string_view text) {
    if (!ready_) return {};
    std::lock_guard guard(lock_);
    return SignLocked(text);
}

bool KeyStore::SignRegistration(std::int64_t timestamp, std::string_view playerId, std::string& signature,
                                std::string& pem) {
    std::lock_guard guard(lock_);
    if (!ready_ || !key_) return false;
    std::vector<std::uint8_t> blob = key_->ExportFullPrivateBlob();
    if (blob.empty()) return false;
    std::string publicPem = PublicKeyPem(blob);
    std::fill(blob.begin(), blob.end(), std::uint8_t{0});
    if (publicPem.empty()) return false;
    const std::string message = std::to_string(timestamp) + std::string(playerId);
    std::string signed64 = SignLocked(message);
    if (signed64.empty()) return false;
    signature = std::move(signed64);
    pem = std::move(publicPem);
    return true;
}

bool KeyStore::SelfTest() {
    if (!ready_) return false;
    {
        std::lock_guard guard(lock_);
        if (!key_) return false;
    }
    const std::string signature64 = SignBase64(kKeySelfTestText);
    if (signature64.empty()) return false;
    const std::vector<std::uint8_t> signature = Base64Decode(signature64);
    if (signature.empty()) return false;
    const std::vector<std::uint8_t> digest = Sha256Digest(AsBytes(kKeySelfTestText));
    if (digest.size() != 32) return false;

    std::lock_guard guard(lock_);
    std::vector<std::uint8_t> blob = key_->ExportFullPrivateBlob();
    if (blob.size() < kRsaBlobHeaderSize) return false;
    const std::uint64_t cbPublicExp = ReadLe32(blob, 8);
    const std::uint64_t cbModulus = ReadLe32(blob, 12);
    if (blob.size() < kRsaBlobHeaderSize + cbPublicExp + cbModulus) return false;
    // The public blob: the same header with magic "RSA1" and no primes, then e and n.
    std::vector<std::uint8_t> publicBlob(blob.begin(),
                                         blob.begin() + static_cast<std::ptrdiff_t>(kRsaBlobHeaderSize +
                                                                                    cbPublicExp + cbModulus));
    std::fill(blob.begin(), blob.end(), std::uint8_t{0});
    for (int i = 0; i < 4; ++i) publicBlob[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(kRsaPublicBlobMagic >> (8 * i));
    std::fill(publicBlob.begin() + 16, publicBlob.begin() + 24, std::uint8_t{0});
    const auto publicKey = RsaKey::FromPublicBlob(publicBlob);
    if (!publicKey) return false;
    return publicKey->VerifySha256Digest(digest, signature);
}

void EnsureKeyReady(KeyStore* store, std::string& privateKey, const KeyReadyHooks& hooks) {
    const auto diag = [&](std::string_view message) {
        if (hooks.diag) {
            hooks.diag("KEY", message);
        } else {
            DiagLog("KEY", message);
        }
    };
    const auto console = [&](std::string_view message) {
        if (hooks.console) {
            hooks.console(message);
        } else {
            ConsoleLog(message);
        }
    };
    const auto save = [&] {
        if (hooks.save) hooks.save();
    };

    if (store == nullptr || store->IsReady()) return;

    if (!privateKey.empty()) {
        if (store->ImportPrivateKey(privateKey)) {
            diag(std::string("从 orlu.json 加载私钥成功 selfTest=") + Flag(store->SelfTest()));
            console("已从 orlu.json 加载本机 RSA 私钥");
            return;
        }
        console("orlu.json 中的私钥损坏（无法导入），将重新生成");
        privateKey.clear();
        save();
    }

    const bool migrated = hooks.legacyFolder.empty() ? store->MigrateLegacyKeyFile()
                                                     : store->MigrateLegacyKeyFile(hooks.legacyFolder);
    if (migrated) {
        const bool selfTest = store->SelfTest();
        privateKey = store->ExportPrivateKeyBase64();
        save();
        diag(std::string("从旧版私钥文件迁移 selfTest=") + Flag(selfTest));
        console("已从旧版私钥文件迁移到 orlu.json");
        return;
    }

    for (int attempt = 1; attempt <= 3; ++attempt) {
        if (store->GenerateKey()) break;
        diag("GenerateKey 失败，重试(" + std::to_string(attempt) + ")");
    }

    if (store->IsReady()) {
        const bool selfTest = store->SelfTest();
        privateKey = store->ExportPrivateKeyBase64();
        save();
        console(selfTest ? "已生成本机 RSA 密钥对（私钥写入 orlu.json，自检通过）"
                         : "已生成本机 RSA 密钥对（私钥写入 orlu.json；注：SelfTest 自检未通过，但密钥由 BCrypt 生成，照常使用）");
        diag(std::string("密钥就绪 selfTest=") + Flag(selfTest));
        return;
    }

    diag("RSA 密钥初始化失败（GenerateKey 连续失败）");
    console("RSA 密钥初始化失败，时长上报将不可用");
}

}  // namespace lumivale
