#include "Hash.h"

#include <openssl/evp.h>

#include <array>
#include <cstdio>
#include <memory>
#include <vector>

namespace lumivale {

namespace {

struct FileClose {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

struct DigestContextFree {
    void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};

constexpr std::size_t kReadBlock = 65536;

}  // namespace

std::string Sha1HexOfFile(const std::string& utf8Path) {
    // POSIX paths are bytes: the UTF-8 text is the name as it is.
    std::unique_ptr<std::FILE, FileClose> file(std::fopen(utf8Path.c_str(), "rb"));
    if (!file) return {};

    std::unique_ptr<EVP_MD_CTX, DigestContextFree> context(EVP_MD_CTX_new());
    if (!context || EVP_DigestInit_ex(context.get(), EVP_sha1(), nullptr) != 1) return {};

    std::vector<unsigned char> block(kReadBlock);
    while (true) {
        const std::size_t got = std::fread(block.data(), 1, block.size(), file.get());
        if (got > 0 && EVP_DigestUpdate(context.get(), block.data(), got) != 1) return {};
        if (got < block.size()) break;
    }
    // A folder opens but cannot be read; neither can a file on a failing disk.
    if (std::ferror(file.get())) return {};

    std::array<unsigned char, EVP_MAX_MD_SIZE> digest{};
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(context.get(), digest.data(), &length) != 1 || length != 20) return {};

    static constexpr char kDigits[] = "0123456789abcdef";
    std::string hex;
    hex.reserve(2 * length);
    for (unsigned int i = 0; i < length; ++i) {
        hex += kDigits[digest[i] >> 4];
        hex += kDigits[digest[i] & 0x0F];
    }
    return hex;
}

}  // namespace lumivale
