#pragma once
// Digests of bytes and files, through the system's crypto provider.
#include <memory>
#include <string>
#include <string_view>

namespace lumivale {

enum class DigestKind { Sha1, Sha256 };

// A digest fed piece by piece, for data that streams past once (a download being written).
class Digest {
public:
    explicit Digest(DigestKind kind);
    ~Digest();
    Digest(Digest&&) noexcept;
    Digest& operator=(Digest&&) noexcept;
    Digest(const Digest&) = delete;
    Digest& operator=(const Digest&) = delete;

    // False once the provider failed; later pieces are ignored.
    bool Update(std::string_view bytes);
    // Lower-case hexadecimal of everything fed so far (40 characters for SHA-1, 64 for SHA-256);
    // empty after a failure. Ends the digest: later calls give empty text.
    std::string FinishHex();

private:
    struct State;
    std::unique_ptr<State> state_;
};

// Lower-case hexadecimal digest of the file at the UTF-8 path, read in blocks of 64 KiB. Empty
// text when the file cannot be opened or read, or the digest cannot be computed.
std::string Sha1HexOfFile(const std::string& utf8Path);
std::string Sha256HexOfFile(const std::string& utf8Path);

}  // namespace lumivale
