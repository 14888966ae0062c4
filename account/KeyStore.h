#pragma once
// The installation's RSA key pair: created once, kept as Base64 text in the credential store
// (the "private_key" member of the "cloud" object of orlu.json, in the BCrypt full private blob
// layout so the file moves between the Windows and the other builds), handed to the backend as
// a PKCS#1 public key in PEM form, and used to sign registrations and play-time uploads.
#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "Rsa.h"

namespace lumivale {

// Standard Base64 (RFC 4648 alphabet, "=" padding, one line).
std::string Base64Encode(std::span<const std::uint8_t> bytes);
inline std::string Base64Encode(std::string_view bytes) {
    return Base64Encode(std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()));
}
// Lenient decoding: tab, line feed, carriage return, space and "=" are skipped, any other
// character outside the alphabet is ignored, and every full 8 bits gathered is one byte.
std::vector<std::uint8_t> Base64Decode(std::string_view text);

// The legacy key file next to the executable.
inline constexpr std::string_view kLegacyKeyFileName = "lumivale_private.key";
// The text SelfTest signs and verifies.
inline constexpr std::string_view kKeySelfTestText = "lumivale_self_test_v1";

class KeyStore {
public:
    KeyStore() = default;
    // Destroys the key under the lock.
    ~KeyStore();
    KeyStore(const KeyStore&) = delete;
    KeyStore& operator=(const KeyStore&) = delete;

    bool IsReady() const { return ready_.load(); }

    // A fresh 2048-bit pair; true at once when a key is already loaded.
    bool GenerateKey();
    // The key from the Base64 text of a full private blob; true at once when ready, false for
    // empty text, text that decodes to nothing, or a blob that does not import.
    bool ImportPrivateKey(std::string_view base64);
    // The key from "lumivale_private.key" in the executable's folder (or the given folder); the
    // file is left in place. True at once when ready; false when the file is missing, unreadable,
    // empty or does not import.
    bool MigrateLegacyKeyFile();
    bool MigrateLegacyKeyFile(const std::filesystem::path& folder);

    // Base64 of the full private blob; empty when not ready or on failure.
    std::string ExportPrivateKeyBase64();

    // PKCS#1 RSAPublicKey in PEM ("-----BEGIN RSA PUBLIC KEY-----", 64-character lines, each
    // ending in "\n") built from the header, exponent and modulus of an exported private blob.
    // Empty text for a blob shorter than its header or than the numbers it announces.
    static std::string PublicKeyPem(std::span<const std::uint8_t> blob);

    // Base64 PKCS#1 v1.5 SHA-256 signature of the text's bytes; empty on failure.
    std::string SignBase64(std::string_view text);

    // Signs the timestamp in decimal followed directly by the player id, and hands back the
    // Base64 signature and the public key PEM. Holds the lock from the export to the signature.
    bool SignRegistration(std::int64_t timestamp, std::string_view playerId, std::string& signature,
                          std::string& pem);

    // Signs kKeySelfTestText and verifies the signature with a public key rebuilt from the
    // exported blob's "RSA1" public part.
    bool SelfTest();

private:
    bool ImportDecoded(const std::vector<std::uint8_t>& blob);
    std::string SignLocked(std::string_view text);

    std::mutex lock_;
    std::atomic<bool> ready_{false};
    std::optional<RsaKey> key_;
};

// What EnsureKeyReady needs from the App.
struct KeyReadyHooks {
    // Saves the settings and the credential store after the private key text changed.
    std::function<void()> save;
    // Diagnostic log lines (tag "KEY"); DiagLog when unset.
    std::function<void(std::string_view tag, std::string_view message)> diag;
    // Standard output lines (without the "[Lumivale] " prefix); ConsoleLog when unset.
    std::function<void(std::string_view message)> console;
    // Folder searched for the legacy key file; the executable's folder when empty.
    std::filesystem::path legacyFolder;
};

// The App's key readiness step: loads the stored key text, or migrates the legacy key file, or
// generates a new pair (up to three attempts), keeping privateKey (UTF-8 Base64 text, the
// AccountState field) in step and calling hooks.save whenever it changes. A null store (no
// cloud client) or a store already ready leaves everything as it is.
void EnsureKeyReady(KeyStore* store, std::string& privateKey, const KeyReadyHooks& hooks);

}  // namespace lumivale
