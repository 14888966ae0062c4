#include "Hash.h"

#include <openssl/evp.h>

#include <array>
#include <cstdio>
#include <vector>

namespace lumivale {

namespace {

struct FileClose {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

constexpr std::size_t kReadBlock = 65536;

std::string HexOfFile(const std::string& utf8Path, DigestKind kind) {
    // POSIX paths are bytes: the UTF-8 text is the name as it is.
    std::unique_ptr<std::FILE, FileClose> file(std::fopen(utf8Path.c_str(), "rb"));
    if (!file) return {};
    Digest digest(kind);
    std::vector<char> block(kReadBlock);
    while (true) {
        const std::size_t got = std::fread(block.data(), 1, block.size(), file.get());
        if (got > 0 && !digest.Update(std::string_view(block.data(), got))) return {};
        if (got < block.size()) break;
    }
    // A folder opens but cannot be read; neither can a file on a failing disk.
    if (std::ferror(file.get())) return {};
    return digest.FinishHex();
}

}  // namespace

struct Digest::State {
    EVP_MD_CTX* context = nullptr;
    bool failed = false;
    ~State() { EVP_MD_CTX_free(context); }
};

namespace {

// The algorithms are looked up once: a lookup per digest costs more than hashing a small file.
const EVP_MD* Algorithm(DigestKind kind) {
    static EVP_MD* const sha1 = EVP_MD_fetch(nullptr, "SHA1", nullptr);
    static EVP_MD* const sha256 = EVP_MD_fetch(nullptr, "SHA256", nullptr);
    const EVP_MD* fetched = kind == DigestKind::Sha1 ? sha1 : sha256;
    if (fetched != nullptr) return fetched;
    return kind == DigestKind::Sha1 ? EVP_sha1() : EVP_sha256();
}

}  // namespace

Digest::Digest(DigestKind kind) : state_(std::make_unique<State>()) {
    state_->context = EVP_MD_CTX_new();
    const EVP_MD* algorithm = Algorithm(kind);
    state_->failed = !state_->context || EVP_DigestInit_ex(state_->context, algorithm, nullptr) != 1;
}

Digest::~Digest() = default;
Digest::Digest(Digest&&) noexcept = default;
Digest& Digest::operator=(Digest&&) noexcept = default;

bool Digest::Update(std::string_view bytes) {
    if (!state_ || state_->failed) return false;
    if (!bytes.empty() && EVP_DigestUpdate(state_->context, bytes.data(), bytes.size()) != 1) {
        state_->failed = true;
    }
    return !state_->failed;
}

std::string Digest::FinishHex() {
    if (!state_ || state_->failed) return {};
    std::array<unsigned char, EVP_MAX_MD_SIZE> digest{};
    unsigned int length = 0;
    const bool done = EVP_DigestFinal_ex(state_->context, digest.data(), &length) == 1;
    state_->failed = true;  // finished: nothing more is fed
    if (!done) return {};
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string hex;
    hex.reserve(2 * length);
    for (unsigned int i = 0; i < length; ++i) {
        hex += kDigits[digest[i] >> 4];
        hex += kDigits[digest[i] & 0x0F];
    }
    return hex;
}

std::string Sha1HexOfFile(const std::string& utf8Path) { return HexOfFile(utf8Path, DigestKind::Sha1); }

std::string Sha256HexOfFile(const std::string& utf8Path) { return HexOfFile(utf8Path, DigestKind::Sha256); }

}  // namespace lumivale
