// The install's RSA key: the Windows blob kept in orlu.json, the PEM and signatures openssl accepts, key readiness.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "KeyStore.h"
#include "Rsa.h"
#include "TempHome.h"

namespace lumivale {
namespace {

using namespace test;
using Bytes = std::vector<std::uint8_t>;

void SetLe32(Bytes& b, std::size_t at, std::uint32_t v) {
    for (std::size_t i = 0; i < 4; ++i) b.at(at + i) = static_cast<std::uint8_t>(v >> (8 * i));
}

// Generation is the slow part: one key for every test that only reads it.
const RsaKey& SharedKey() {
    static const RsaKey key = *RsaKey::Generate(2048);
    return key;
}
std::string SharedKeyBase64() { return Base64Encode(SharedKey().ExportFullPrivateBlob()); }

// The fixture was written by make-rsa-blob.py, not by our code: "RSA3", 2048 bits, the sizes, e = 65537.
TEST(RsaBlob, AGeneratedKeyHasTheHeaderAndSizeOfTheWindowsFixture) {
    const Bytes blob = SharedKey().ExportFullPrivateBlob();
    const Bytes windows = Base64Decode(ReadFile(std::filesystem::path(LUMIVALE_TEST_DATA) / "rsa-test-key.blob.b64"));
    ASSERT_EQ(blob.size(), windows.size());
    EXPECT_EQ(Bytes(blob.begin(), blob.begin() + 27), Bytes(windows.begin(), windows.begin() + 27));
    EXPECT_EQ(RsaKey::FromFullPrivateBlob(blob)->ExportFullPrivateBlob(), blob);
}

// A corrupt orlu.json must never give a key that signs wrongly: each broken blob is refused.
TEST(RsaBlob, MalformedBlobsAreRejected) {
    const Bytes good = SharedKey().ExportFullPrivateBlob();
    const std::vector<std::pair<const char*, std::function<void(Bytes&)>>> faults = {
        {"one byte short", [](Bytes& b) { b.pop_back(); }},
        {"public magic", [](Bytes& b) { SetLe32(b, 0, kRsaPublicBlobMagic); }},
        {"exponent size overflowing", [](Bytes& b) { SetLe32(b, 8, 0xFFFFFFF0u); }},
        {"altered prime", [](Bytes& b) { b[24 + 3 + 256 + 60] ^= 0x10; }},
        {"altered private exponent", [](Bytes& b) { b[b.size() - 5] ^= 0x01; }},
    };
    for (const auto& [what, fault] : faults) {
        Bytes blob = good;
        fault(blob);
        EXPECT_FALSE(RsaKey::FromFullPrivateBlob(blob).has_value()) << what;
    }
}

TEST(KeyStoreOpenssl, ToolAcceptsOurPemAndVerifiesOurSignatures) {
    if (std::system("openssl version > /dev/null 2>&1") != 0) GTEST_SKIP() << "no openssl tool";
    TempHome home;
    const auto Verify = [&](const std::string& pem, const std::string& signature64, const std::string& data) {
        const Bytes signature = Base64Decode(signature64);
        WriteFile(home.root() / "p.pem", pem);
        WriteFile(home.root() / "s.bin", std::string(signature.begin(), signature.end()));
        WriteFile(home.root() / "d.txt", data);
        const std::string command = "cd '" + home.root().string() +
                                    "' && openssl dgst -sha256 -verify p.pem -signature s.bin d.txt >/dev/null 2>&1";
        return std::system(command.c_str()) == 0;
    };
    KeyStore store;
    ASSERT_TRUE(store.GenerateKey());
    std::string signature, pem;
    // A registration signs the timestamp followed directly by the player id.
    ASSERT_TRUE(store.SignRegistration(1712345678901, "c0ffee", signature, pem));
    EXPECT_TRUE(Verify(pem, signature, "1712345678901c0ffee"));
    EXPECT_FALSE(Verify(pem, signature, "1712345678901c0ffeE"));
    const std::string body = "{\"seconds\":3600,\"id\":\"\xE7\x8E\xA9\"}";
    EXPECT_TRUE(Verify(pem, store.SignBase64(body), body));
    EXPECT_FALSE(Verify(KeyStore::PublicKeyPem(SharedKey().ExportFullPrivateBlob()), store.SignBase64(body), body));

}

// A corrupt stored key gives way to the legacy file beside the program (kept there); the next start loads silently.
TEST(KeyStore, EnsureKeyReadyReplacesACorruptStoredKeyWithTheLegacyFile) {
    TempHome home;
    const std::filesystem::path legacy = home.root() / "lumivale_private.key";
    const std::string text = SharedKeyBase64();
    std::string wrapped;
    for (std::size_t at = 0; at < text.size(); at += 64) wrapped += text.substr(at, 64) + "\r\n ";
    ASSERT_GT(wrapped.size(), 1024u);
    WriteFile(legacy, wrapped);
    std::string key = "AAAA";
    std::vector<std::string> saved;
    const KeyReadyHooks hooks{[&] { saved.push_back(key); }, [](auto, auto) {}, [](auto) {}, home.root()};
    KeyStore first, second;
    EnsureKeyReady(&first, key, hooks);
    EXPECT_EQ(saved, (std::vector<std::string>{"", SharedKeyBase64()}));
    EXPECT_EQ(ReadFile(legacy), wrapped);
    EnsureKeyReady(&second, key, hooks);
    EXPECT_EQ(second.ExportPrivateKeyBase64(), SharedKeyBase64());
    EXPECT_EQ(saved.size(), 2u);
}

}  // namespace
}  // namespace lumivale
