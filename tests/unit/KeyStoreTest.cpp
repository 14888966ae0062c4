// The install's RSA key: the BCrypt full private blob layout kept in orlu.json, the PKCS#1
// public key PEM sent to the backend, signatures the openssl tool accepts, the lenient Base64
// codec, the legacy key file and the key readiness step.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "KeyStore.h"
#include "Rsa.h"
#include "TempHome.h"

namespace lumivale {
namespace {

using test::ReadFile;
using test::TempHome;
using test::WriteFile;
using ByteVector = std::vector<std::uint8_t>;

std::uint32_t Le32(const ByteVector& bytes, std::size_t offset) {
    return static_cast<std::uint32_t>(bytes.at(offset)) | (static_cast<std::uint32_t>(bytes.at(offset + 1)) << 8) |
           (static_cast<std::uint32_t>(bytes.at(offset + 2)) << 16) |
           (static_cast<std::uint32_t>(bytes.at(offset + 3)) << 24);
}

void SetLe32(ByteVector& bytes, std::size_t offset, std::uint32_t value) {
    for (std::size_t i = 0; i < 4; ++i) bytes.at(offset + i) = static_cast<std::uint8_t>(value >> (8 * i));
}

ByteVector ToBytes(std::string_view text) { return ByteVector(text.begin(), text.end()); }

// One generated key shared by the tests that only read it: generation is the slow part.
const RsaKey& SharedKey() {
    static const RsaKey key = *RsaKey::Generate(2048);
    return key;
}

std::string SharedKeyBase64() { return Base64Encode(SharedKey().ExportFullPrivateBlob()); }

// The DER inside a PEM: the lines between the header and footer, decoded.
ByteVector PemBody(const std::string& pem) {
    const std::string begin = "-----BEGIN RSA PUBLIC KEY-----\n";
    const std::string end = "-----END RSA PUBLIC KEY-----\n";
    if (pem.rfind(begin, 0) != 0 || pem.size() < begin.size() + end.size()) return {};
    return Base64Decode(pem.substr(begin.size(), pem.size() - begin.size() - end.size()));
}

ByteVector MinimalBlob(ByteVector exponent, ByteVector modulus) {
    ByteVector blob(24, 0);
    SetLe32(blob, 0, kRsaFullPrivateBlobMagic);
    SetLe32(blob, 4, static_cast<std::uint32_t>(modulus.size() * 8));
    SetLe32(blob, 8, static_cast<std::uint32_t>(exponent.size()));
    SetLe32(blob, 12, static_cast<std::uint32_t>(modulus.size()));
    blob.insert(blob.end(), exponent.begin(), exponent.end());
    blob.insert(blob.end(), modulus.begin(), modulus.end());
    return blob;
}

TEST(RsaBlob, FullPrivateBlobHasTheWindowsLayout) {
    const RsaKey& key = SharedKey();
    EXPECT_TRUE(key.HasPrivateKey());
    EXPECT_EQ(key.Bits(), 2048u);
    const ByteVector blob = key.ExportFullPrivateBlob();

    // Header: "RSA3", 2048 bits, 3-byte exponent, 256-byte modulus, two 128-byte primes.
    ASSERT_GE(blob.size(), 24u);
    EXPECT_EQ(Le32(blob, 0), 0x33415352u);
    EXPECT_EQ(Le32(blob, 4), 2048u);
    EXPECT_EQ(Le32(blob, 8), 3u);
    EXPECT_EQ(Le32(blob, 12), 256u);
    EXPECT_EQ(Le32(blob, 16), 128u);
    EXPECT_EQ(Le32(blob, 20), 128u);
    EXPECT_EQ(blob.size(), 24u + 3 + 256 + 128 + 128 + 128 + 128 + 128 + 256);

    // Exponent 65537 big-endian, then the modulus big-endian with its top bit set.
    EXPECT_EQ(ByteVector(blob.begin() + 24, blob.begin() + 27), (ByteVector{0x01, 0x00, 0x01}));
    EXPECT_EQ(ByteVector(blob.begin() + 27, blob.begin() + 27 + 256), key.Modulus());
    EXPECT_GE(blob[27], 0x80);
    EXPECT_EQ(key.PublicExponent(), (ByteVector{0x01, 0x00, 0x01}));

    // Importing and exporting again gives the very same bytes.
    const auto again = RsaKey::FromFullPrivateBlob(blob);
    ASSERT_TRUE(again.has_value());
    EXPECT_EQ(again->ExportFullPrivateBlob(), blob);
    EXPECT_EQ(again->PublicKeyDer(), key.PublicKeyDer());

    // The public blob: "RSA1", no primes, exponent and modulus.
    const ByteVector pub = key.ExportPublicBlob();
    ASSERT_EQ(pub.size(), 24u + 3 + 256);
    EXPECT_EQ(Le32(pub, 0), 0x31415352u);
    EXPECT_EQ(Le32(pub, 16), 0u);
    EXPECT_EQ(Le32(pub, 20), 0u);
    EXPECT_EQ(ByteVector(pub.begin() + 4, pub.begin() + 16), ByteVector(blob.begin() + 4, blob.begin() + 16));
    EXPECT_EQ(ByteVector(pub.begin() + 24, pub.end()), ByteVector(blob.begin() + 24, blob.begin() + 24 + 3 + 256));
}

TEST(RsaBlob, SignaturesVerifyOnlyForTheSignedMessageAndKey) {
    const RsaKey& key = SharedKey();
    const ByteVector message = ToBytes("payload");
    const ByteVector signature = key.SignSha256(message);
    ASSERT_EQ(signature.size(), 256u);
    EXPECT_TRUE(key.VerifySha256(message, signature));
    EXPECT_TRUE(key.VerifySha256Digest(Sha256Digest(message), signature));
    EXPECT_EQ(key.SignSha256Digest(Sha256Digest(message)), signature);  // PKCS#1 v1.5 is deterministic
    EXPECT_FALSE(key.VerifySha256(ToBytes("payloaD"), signature));
    ByteVector flipped = signature;
    flipped[100] ^= 0x01;
    EXPECT_FALSE(key.VerifySha256(message, flipped));

    const auto publicOnly = RsaKey::FromPublicBlob(key.ExportPublicBlob());
    ASSERT_TRUE(publicOnly.has_value());
    EXPECT_FALSE(publicOnly->HasPrivateKey());
    EXPECT_TRUE(publicOnly->VerifySha256(message, signature));
    EXPECT_TRUE(publicOnly->SignSha256(message).empty());
    EXPECT_TRUE(publicOnly->ExportFullPrivateBlob().empty());

    const auto other = RsaKey::Generate(2048);
    ASSERT_TRUE(other.has_value());
    EXPECT_FALSE(other->VerifySha256(message, signature));

    // SHA-256 of "abc" (FIPS 180-2 example).
    const ByteVector abc = Sha256Digest(ToBytes("abc"));
    ASSERT_EQ(abc.size(), 32u);
    EXPECT_EQ(abc[0], 0xBA);
    EXPECT_EQ(abc[1], 0x78);
    EXPECT_EQ(abc[31], 0xAD);
}

TEST(RsaBlob, MalformedBlobsAreRejected) {
    const ByteVector good = SharedKey().ExportFullPrivateBlob();
    ASSERT_TRUE(RsaKey::FromFullPrivateBlob(good).has_value());

    std::vector<std::pair<std::string, ByteVector>> bad;
    bad.emplace_back("empty", ByteVector{});
    bad.emplace_back("header only", ByteVector(good.begin(), good.begin() + 24));
    bad.emplace_back("truncated by one byte", ByteVector(good.begin(), good.end() - 1));
    bad.emplace_back("half", ByteVector(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(good.size() / 2)));
    ByteVector longer = good;
    longer.push_back(0);
    bad.emplace_back("one byte too many", longer);
    ByteVector magic = good;
    SetLe32(magic, 0, kRsaPublicBlobMagic);
    bad.emplace_back("public magic", magic);
    magic[3] = 'X';
    bad.emplace_back("unknown magic", magic);
    ByteVector modulusSize = good;
    SetLe32(modulusSize, 12, 255);
    bad.emplace_back("modulus size off", modulusSize);
    ByteVector prime = good;
    SetLe32(prime, 16, 129);
    bad.emplace_back("prime size off", prime);
    ByteVector huge = good;
    SetLe32(huge, 8, 0xFFFFFFF0u);
    bad.emplace_back("exponent size overflowing", huge);
    ByteVector bits = good;
    SetLe32(bits, 4, 1024);
    bad.emplace_back("bit length off", bits);
    ByteVector noExponent = good;
    SetLe32(noExponent, 8, 0);
    bad.emplace_back("no exponent", noExponent);
    ByteVector wrongPrime = good;
    wrongPrime[24 + 3 + 256 + 60] ^= 0x10;  // inside Prime1: p*q no longer equals n
    bad.emplace_back("altered prime", wrongPrime);
    ByteVector wrongD = good;
    wrongD[good.size() - 5] ^= 0x01;  // inside PrivateExponent
    bad.emplace_back("altered private exponent", wrongD);

    for (const auto& [what, blob] : bad) {
        EXPECT_FALSE(RsaKey::FromFullPrivateBlob(blob).has_value()) << what;
    }

    // The public blob reader takes "RSA1" with exactly the announced numbers.
    const ByteVector pub = SharedKey().ExportPublicBlob();
    EXPECT_TRUE(RsaKey::FromPublicBlob(pub).has_value());
    EXPECT_FALSE(RsaKey::FromPublicBlob(good).has_value());
    EXPECT_FALSE(RsaKey::FromPublicBlob(ByteVector(pub.begin(), pub.end() - 1)).has_value());
}

TEST(Base64, EncodesTheStandardAlphabetWithPaddingAndDecodesLeniently) {
    EXPECT_EQ(Base64Encode(std::string_view("")), "");
    EXPECT_EQ(Base64Encode(std::string_view("f")), "Zg==");
    EXPECT_EQ(Base64Encode(std::string_view("fo")), "Zm8=");
    EXPECT_EQ(Base64Encode(std::string_view("foo")), "Zm9v");
    EXPECT_EQ(Base64Encode(std::string_view("foob")), "Zm9vYg==");
    EXPECT_EQ(Base64Encode(std::string_view("fooba")), "Zm9vYmE=");
    EXPECT_EQ(Base64Encode(std::string_view("foobar")), "Zm9vYmFy");
    EXPECT_EQ(Base64Encode(ByteVector{0xFB, 0xFF, 0xBF}), "+/+/");

    for (std::size_t length = 0; length < 70; ++length) {
        ByteVector bytes(length);
        for (std::size_t i = 0; i < length; ++i) bytes[i] = static_cast<std::uint8_t>(i * 37 + length);
        const std::string text = Base64Encode(bytes);
        EXPECT_EQ(text.size(), (length + 2) / 3 * 4);
        EXPECT_EQ(text.find_first_of("\r\n"), std::string::npos);
        EXPECT_EQ(Base64Decode(text), bytes) << length;
    }

    // Decoding is lenient.
    EXPECT_EQ(Base64Decode("Zm9vYmFy"), ToBytes("foobar"));
    EXPECT_EQ(Base64Decode("Zm9v\r\nYm Fy\t"), ToBytes("foobar"));
    EXPECT_EQ(Base64Decode("Zm9vYg"), ToBytes("foob"));      // padding may be missing
    EXPECT_EQ(Base64Decode("Zm9vYmE"), ToBytes("fooba"));
    EXPECT_EQ(Base64Decode("Zg==\n"), ToBytes("f"));
    EXPECT_EQ(Base64Decode("Z=m=9=v"), ToBytes("foo"));      // "=" is skipped wherever it stands
    EXPECT_EQ(Base64Decode("Zm*9-v!"), ToBytes("foo"));      // other characters are ignored
    EXPECT_EQ(Base64Decode("+/+/"), (ByteVector{0xFB, 0xFF, 0xBF}));
    EXPECT_TRUE(Base64Decode("").empty());
    EXPECT_TRUE(Base64Decode(" \r\n==").empty());
    EXPECT_TRUE(Base64Decode("Z").empty());                 // 6 bits make no byte
}

TEST(KeyStorePem, IsThePkcs1PublicKeyOfTheBlobInMinimalDer) {
    const ByteVector blob = SharedKey().ExportFullPrivateBlob();
    const std::string pem = KeyStore::PublicKeyPem(blob);
    ASSERT_FALSE(pem.empty());
    EXPECT_EQ(pem.rfind("-----BEGIN RSA PUBLIC KEY-----\n", 0), 0u);
    ASSERT_GE(pem.size(), 30u);
    EXPECT_EQ(pem.substr(pem.size() - 29), "-----END RSA PUBLIC KEY-----\n");

    // 64-character lines, each ending in "\n"; only the last body line may be shorter.
    std::vector<std::string> lines;
    for (std::size_t at = 0; at < pem.size();) {
        const std::size_t end = pem.find('\n', at);
        ASSERT_NE(end, std::string::npos);
        lines.push_back(pem.substr(at, end - at));
        at = end + 1;
    }
    ASSERT_GE(lines.size(), 3u);
    for (std::size_t i = 1; i + 2 < lines.size(); ++i) EXPECT_EQ(lines[i].size(), 64u) << i;
    EXPECT_LE(lines[lines.size() - 2].size(), 64u);
    EXPECT_GT(lines[lines.size() - 2].size(), 0u);

    // SEQUENCE (270 bytes, 0x82 length form) { INTEGER 00 n (257 bytes), INTEGER 65537 }.
    const ByteVector der = PemBody(pem);
    ASSERT_EQ(der.size(), 270u);
    EXPECT_EQ(ByteVector(der.begin(), der.begin() + 9),
              (ByteVector{0x30, 0x82, 0x01, 0x0A, 0x02, 0x82, 0x01, 0x01, 0x00}));
    EXPECT_EQ(ByteVector(der.begin() + 9, der.begin() + 9 + 256), SharedKey().Modulus());
    EXPECT_EQ(ByteVector(der.end() - 5, der.end()), (ByteVector{0x02, 0x03, 0x01, 0x00, 0x01}));

    // The same RSAPublicKey sits at the end of the provider's SubjectPublicKeyInfo.
    const ByteVector spki = SharedKey().PublicKeyDer();
    ASSERT_GT(spki.size(), der.size());
    EXPECT_EQ(ByteVector(spki.end() - static_cast<std::ptrdiff_t>(der.size()), spki.end()), der);

    // DER integers and lengths are minimal: leading zeros go; a top bit set gets one zero in front; short lengths use one byte.
    EXPECT_EQ(PemBody(KeyStore::PublicKeyPem(MinimalBlob({0x00, 0x03}, {0x00, 0x00, 0x7F, 0x01}))),
              (ByteVector{0x30, 0x07, 0x02, 0x02, 0x7F, 0x01, 0x02, 0x01, 0x03}));
    EXPECT_EQ(PemBody(KeyStore::PublicKeyPem(MinimalBlob({0x01, 0x00, 0x01}, {0x80, 0x01}))),
              (ByteVector{0x30, 0x0A, 0x02, 0x03, 0x00, 0x80, 0x01, 0x02, 0x03, 0x01, 0x00, 0x01}));
    EXPECT_EQ(PemBody(KeyStore::PublicKeyPem(MinimalBlob({0x00, 0x00}, {0x05}))),
              (ByteVector{0x30, 0x06, 0x02, 0x01, 0x05, 0x02, 0x01, 0x00}));

    // A 200-byte modulus with the top bit set: INTEGER length 201 in the 0x81 form.
    ByteVector modulus(200, 0x11);
    modulus[0] = 0xC0;
    const ByteVector mid = PemBody(KeyStore::PublicKeyPem(MinimalBlob({0x03}, modulus)));
    ASSERT_EQ(mid.size(), 3u + 3 + 201 + 3);
    EXPECT_EQ(ByteVector(mid.begin(), mid.begin() + 7), (ByteVector{0x30, 0x81, 0xCF, 0x02, 0x81, 0xC9, 0x00}));

    // Too short for the header, or for the numbers it announces.
    EXPECT_EQ(KeyStore::PublicKeyPem(ByteVector(23, 0)), "");
    ByteVector cut = MinimalBlob({0x01, 0x00, 0x01}, ByteVector(256, 0xAB));
    cut.pop_back();
    EXPECT_EQ(KeyStore::PublicKeyPem(cut), "");
}

TEST(KeyStore, ExportImportKeepsTheSameKey) {
    KeyStore first;
    EXPECT_FALSE(first.IsReady());
    EXPECT_EQ(first.ExportPrivateKeyBase64(), "");
    EXPECT_EQ(first.SignBase64("x"), "");
    EXPECT_FALSE(first.SelfTest());
    std::string sig, pem;
    EXPECT_FALSE(first.SignRegistration(1, "p", sig, pem));
    EXPECT_FALSE(first.ImportPrivateKey(""));
    EXPECT_FALSE(first.ImportPrivateKey("!!!"));        // decodes to nothing
    EXPECT_FALSE(first.ImportPrivateKey("AAAAAAAA"));   // not a blob
    EXPECT_FALSE(first.IsReady());

    ASSERT_TRUE(first.GenerateKey());
    EXPECT_TRUE(first.IsReady());
    EXPECT_TRUE(first.SelfTest());
    const std::string text = first.ExportPrivateKeyBase64();
    ASSERT_FALSE(text.empty());
    EXPECT_EQ(text.find_first_of(" \r\n"), std::string::npos);
    EXPECT_EQ(Base64Decode(text).size(), 24u + 3 + 256 * 2 + 128 * 5);
    EXPECT_TRUE(first.GenerateKey());                 // true at once; the key stays
    EXPECT_EQ(first.ExportPrivateKeyBase64(), text);

    KeyStore second;
    ASSERT_TRUE(second.ImportPrivateKey(text));
    EXPECT_TRUE(second.SelfTest());
    EXPECT_EQ(second.ExportPrivateKeyBase64(), text);
    const std::string signature = second.SignBase64("hello");
    EXPECT_EQ(signature, first.SignBase64("hello"));
    const auto key = RsaKey::FromFullPrivateBlob(Base64Decode(text));
    ASSERT_TRUE(key.has_value());
    EXPECT_TRUE(key->VerifySha256(ToBytes("hello"), Base64Decode(signature)));
    EXPECT_FALSE(key->VerifySha256(ToBytes("hellp"), Base64Decode(signature)));

    // A loaded key is never replaced.
    EXPECT_TRUE(second.ImportPrivateKey(SharedKeyBase64()));
    EXPECT_EQ(second.ExportPrivateKeyBase64(), text);

    // The stored text of the legacy file layout, broken into lines, imports the same.
    std::string wrapped;
    for (std::size_t at = 0; at < text.size(); at += 76) wrapped += text.substr(at, 76) + "\r\n ";
    KeyStore third;
    ASSERT_TRUE(third.ImportPrivateKey(wrapped));
    EXPECT_EQ(third.ExportPrivateKeyBase64(), text);
}

TEST(KeyStore, SignRegistrationSignsTimestampThenPlayerId) {
    KeyStore store;
    ASSERT_TRUE(store.ImportPrivateKey(SharedKeyBase64()));
    std::string signature, pem;
    ASSERT_TRUE(store.SignRegistration(1700000000123, "player-1", signature, pem));
    EXPECT_EQ(pem, KeyStore::PublicKeyPem(SharedKey().ExportFullPrivateBlob()));
    EXPECT_TRUE(SharedKey().VerifySha256(ToBytes("1700000000123player-1"), Base64Decode(signature)));
    EXPECT_FALSE(SharedKey().VerifySha256(ToBytes("1700000000123 player-1"), Base64Decode(signature)));
    EXPECT_EQ(signature, store.SignBase64("1700000000123player-1"));

    ASSERT_TRUE(store.SignRegistration(-42, "", signature, pem));
    EXPECT_TRUE(SharedKey().VerifySha256(ToBytes("-42"), Base64Decode(signature)));
}

class KeyStoreOpenssl : public ::testing::Test {
protected:
    void SetUp() override {
        if (std::system("openssl version > /dev/null 2>&1") != 0) GTEST_SKIP() << "no openssl tool";
    }
    bool Verify(const std::string& pem, const std::string& signature64, const std::string& data) {
        WriteFile(home.root() / "pub.pem", pem);
        const ByteVector signature = Base64Decode(signature64);
        WriteFile(home.root() / "sig.bin", std::string(signature.begin(), signature.end()));
        WriteFile(home.root() / "data.txt", data);
        const std::string command = "openssl dgst -sha256 -verify '" + (home.root() / "pub.pem").string() +
                                    "' -signature '" + (home.root() / "sig.bin").string() + "' '" +
                                    (home.root() / "data.txt").string() + "' > /dev/null 2>&1";
        return std::system(command.c_str()) == 0;
    }
    TempHome home;
};

TEST_F(KeyStoreOpenssl, ToolVerifiesOurSignaturesAndAgreesOnAFixedWindowsBlob) {
    KeyStore store;
    ASSERT_TRUE(store.GenerateKey());
    std::string signature, pem;
    ASSERT_TRUE(store.SignRegistration(1712345678901, "c0ffee", signature, pem));
    EXPECT_TRUE(Verify(pem, signature, "1712345678901c0ffee"));
    EXPECT_FALSE(Verify(pem, signature, "1712345678901c0ffeE"));

    const std::string body = "{\"seconds\":3600,\"id\":\"\xE7\x8E\xA9\"}";
    EXPECT_TRUE(Verify(pem, store.SignBase64(body), body));

    // Another key's PEM does not verify it.
    EXPECT_FALSE(Verify(KeyStore::PublicKeyPem(SharedKey().ExportFullPrivateBlob()), store.SignBase64(body), body));

    // A key written by the Windows build (its blob made from the PEM key by make-rsa-blob.py, not
    // by our code) imports, gives the public key openssl prints for it, and exports unchanged.
    const std::filesystem::path data = LUMIVALE_TEST_DATA;
    std::string blob64 = ReadFile(data / "rsa-test-key.blob.b64");
    while (!blob64.empty() && (blob64.back() == '\n' || blob64.back() == '\r')) blob64.pop_back();
    KeyStore windows;
    ASSERT_TRUE(windows.ImportPrivateKey(blob64));
    EXPECT_EQ(windows.ExportPrivateKeyBase64(), blob64);
    const std::filesystem::path expected = home.root() / "expected.pem";
    const std::string command = "openssl rsa -in '" + (data / "rsa-test-key.pem").string() +
                                "' -RSAPublicKey_out -out '" + expected.string() + "' > /dev/null 2>&1";
    ASSERT_EQ(std::system(command.c_str()), 0);
    EXPECT_EQ(KeyStore::PublicKeyPem(Base64Decode(blob64)), ReadFile(expected));
    // Its signatures are the key's: openssl verifies them with its own public key.
    EXPECT_TRUE(Verify(ReadFile(expected), windows.SignBase64("1700000000player"), "1700000000player"));
}

TEST(KeyStore, MigratesTheLegacyKeyFileAndLeavesItInPlace) {
    TempHome home;
    const std::filesystem::path folder = home.root() / "exe";
    std::filesystem::create_directories(folder);

    KeyStore missing;
    EXPECT_FALSE(missing.MigrateLegacyKeyFile(folder));
    WriteFile(folder / "lumivale_private.key", "");
    EXPECT_FALSE(missing.MigrateLegacyKeyFile(folder));
    WriteFile(folder / "lumivale_private.key", "not a key");
    EXPECT_FALSE(missing.MigrateLegacyKeyFile(folder));
    EXPECT_FALSE(missing.IsReady());

    // Base64 with line breaks and spaces, longer than one 1024-byte read.
    const std::string text = SharedKeyBase64();
    std::string wrapped;
    for (std::size_t at = 0; at < text.size(); at += 64) wrapped += text.substr(at, 64) + "\r\n  ";
    ASSERT_GT(wrapped.size(), 1024u);
    WriteFile(folder / "lumivale_private.key", wrapped);

    KeyStore store;
    ASSERT_TRUE(store.MigrateLegacyKeyFile(folder));
    EXPECT_TRUE(store.IsReady());
    EXPECT_EQ(store.ExportPrivateKeyBase64(), text);
    EXPECT_EQ(ReadFile(folder / "lumivale_private.key"), wrapped);
    EXPECT_TRUE(store.MigrateLegacyKeyFile(home.root() / "nowhere"));  // true at once when ready
}

struct ReadyRun {
    std::vector<std::string> diag;
    std::vector<std::string> console;
    int saves = 0;
    std::vector<std::string> savedKeys;

    KeyReadyHooks Hooks(std::string& privateKey, const std::filesystem::path& legacyFolder) {
        KeyReadyHooks hooks;
        hooks.save = [this, &privateKey] {
            ++saves;
            savedKeys.push_back(privateKey);
        };
        hooks.diag = [this](std::string_view tag, std::string_view message) {
            diag.push_back(std::string(tag) + "|" + std::string(message));
        };
        hooks.console = [this](std::string_view message) { console.emplace_back(message); };
        hooks.legacyFolder = legacyFolder;
        return hooks;
    }
};

TEST(KeyStore, EnsureKeyReadyLoadsMigratesOrGenerates) {
    TempHome home;
    const std::filesystem::path exe = home.root() / "exe";
    std::filesystem::create_directories(exe);

    {  // No cloud client, or a store already ready: nothing happens.
        ReadyRun run;
        std::string key;
        EnsureKeyReady(nullptr, key, run.Hooks(key, exe));
        KeyStore ready;
        ASSERT_TRUE(ready.ImportPrivateKey(SharedKeyBase64()));
        EnsureKeyReady(&ready, key, run.Hooks(key, exe));
        EXPECT_EQ(key, "");
        EXPECT_EQ(run.saves, 0);
        EXPECT_TRUE(run.diag.empty());
        EXPECT_TRUE(run.console.empty());
    }
    {  // The stored key loads; nothing is saved.
        ReadyRun run;
        std::string key = SharedKeyBase64();
        KeyStore store;
        EnsureKeyReady(&store, key, run.Hooks(key, exe));
        EXPECT_TRUE(store.IsReady());
        EXPECT_EQ(key, SharedKeyBase64());
        EXPECT_EQ(store.ExportPrivateKeyBase64(), key);
        EXPECT_EQ(run.saves, 0);
        EXPECT_EQ(run.diag, std::vector<std::string>{"KEY|从 orlu.json 加载私钥成功 selfTest=1"});
        EXPECT_EQ(run.console, std::vector<std::string>{"已从 orlu.json 加载本机 RSA 私钥"});
    }
    {  // No stored key, no legacy file: a new pair is generated and saved.
        ReadyRun run;
        std::string key;
        KeyStore store;
        EnsureKeyReady(&store, key, run.Hooks(key, exe));
        ASSERT_TRUE(store.IsReady());
        EXPECT_FALSE(key.empty());
        EXPECT_EQ(key, store.ExportPrivateKeyBase64());
        EXPECT_NE(key, SharedKeyBase64());
        EXPECT_EQ(run.savedKeys, std::vector<std::string>{key});
        EXPECT_EQ(run.console,
                  std::vector<std::string>{"已生成本机 RSA 密钥对（私钥写入 orlu.json，自检通过）"});
        EXPECT_EQ(run.diag, std::vector<std::string>{"KEY|密钥就绪 selfTest=1"});
    }
    {  // A corrupt stored key is emptied and saved, then the legacy file wins over generation.
        WriteFile(exe / "lumivale_private.key", SharedKeyBase64() + "\n");
        ReadyRun run;
        std::string key = "AAAA";
        KeyStore store;
        EnsureKeyReady(&store, key, run.Hooks(key, exe));
        ASSERT_TRUE(store.IsReady());
        EXPECT_EQ(key, SharedKeyBase64());
        EXPECT_EQ(run.savedKeys, (std::vector<std::string>{"", SharedKeyBase64()}));
        EXPECT_EQ(run.console, (std::vector<std::string>{"orlu.json 中的私钥损坏（无法导入），将重新生成",
                                                         "已从旧版私钥文件迁移到 orlu.json"}));
        EXPECT_EQ(run.diag, std::vector<std::string>{"KEY|从旧版私钥文件迁移 selfTest=1"});
        EXPECT_TRUE(std::filesystem::exists(exe / "lumivale_private.key"));
    }
}

}  // namespace
}  // namespace lumivale
