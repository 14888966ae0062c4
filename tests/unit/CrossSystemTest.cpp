// What Linux and Windows builds do byte for byte alike: the Windows command line, the fixture key's DER and signatures.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "KeyStore.h"
#include "Rsa.h"
#include "RsaBlob.h"
#include "TempHome.h"
#include "WindowsCommandLine.h"

namespace lumivale {
namespace {

using Bytes = std::vector<std::uint8_t>;

TEST(WindowsCommandLine, EachArgumentComesBackAsItWasUnderTheParsersRules) {
    const struct {
        std::string argument;
        std::string quoted;
    } cases[] = {
        {"plain", "plain"},
        {"", "\"\""},
        {"two words", "\"two words\""},
        {"tab\there", "\"tab\there\""},
        {R"(say "hi")", R"("say \"hi\"")"},
        {R"(C:\Program Files\)", R"("C:\Program Files\\")"},  // a final backslash before the closing quote
        {R"(a\\"b)", R"("a\\\\\"b")"},
        {R"(C:\no\spaces\)", R"(C:\no\spaces\)"},  // backslashes count only before a quote
        {"-Dname=玩家 名", "\"-Dname=玩家 名\""},
        {"line\nbreak", "\"line\nbreak\""},
    };
    for (const auto& c : cases) EXPECT_EQ(QuoteWindowsArgument(c.argument), c.quoted) << c.argument;
    EXPECT_EQ(WindowsCommandLine({R"(C:\Program Files\Java\bin\java.exe)", "-cp", "a;b c", ""}),
              R"("C:\Program Files\Java\bin\java.exe" -cp "a;b c" "")");
}

TEST(RsaFixture, PublicDerAndSignaturesAreTheBytesOpensslMakes) {
    std::string blob64 = test::ReadFile(std::filesystem::path(LUMIVALE_TEST_DATA) / "rsa-test-key.blob.b64");
    while (!blob64.empty() && (blob64.back() == '\n' || blob64.back() == '\r')) blob64.pop_back();
    const auto key = RsaKey::FromFullPrivateBlob(Base64Decode(blob64));
    ASSERT_TRUE(key.has_value());
    EXPECT_EQ(key->ExportFullPrivateBlob(), Base64Decode(blob64));
    Bytes damaged = Base64Decode(blob64);
    EXPECT_TRUE(RsaPrivateExponentMatches(damaged));
    damaged[damaged.size() - 100] ^= 0x04;  // inside d
    EXPECT_FALSE(RsaPrivateExponentMatches(damaged));
    // sha256 of `openssl pkey -in rsa-test-key.pem -pubout -outform DER`
    const Bytes der = key->PublicKeyDer();
    EXPECT_EQ(Base64Encode(Sha256Digest(der)), "Jej5kM3LxihqI45rQvTVHT1243r7eU0RWVj6POWlpBI=");
    EXPECT_EQ(der, RsaPublicKeyInfoDer(key->Modulus(), key->PublicExponent()));
    // `openssl dgst -sha256 -sign rsa-test-key.pem` of the same message: PKCS#1 v1.5 is exact.
    const std::string message = "Lumivale 启动器 1712345678901";
    const Bytes bytes(message.begin(), message.end());
    const Bytes signature = key->SignSha256(bytes);
    EXPECT_EQ(Base64Encode(signature),
              "LtsAMwCqhA2FawuYA0Ch9Zij7RJptxeDy6lbH8B/gIV4qHMN9kyDnyeWIicXIDaGiBds1xvrFcXdHOOJupQrwaNsAhXv9p6j0HorTcAS"
              "QHgHW/qeQBNjEZ2iV08pzRab3z0AoZBuDhKktbGaoMau7lQzXZVsGWeQUL5Ru71nLETKcOqamJ3aM5OoO8yNJy+rwLGOlBsWDQYuNol+"
              "b6kdhIdUifzT9F7bjRSZUM3WxjPoX6y4FXSI2lwJGknYF04zxLFEAee+ckQ0D05zBoXj4ZpImdd9AgfSGVXPa/8H64o+zFfB0dPx7Cys"
              "1WL69fBYRhjG21FCD3PWFpPUUzfsxA==");
    const auto publicOnly = RsaKey::FromPublicBlob(key->ExportPublicBlob());
    ASSERT_TRUE(publicOnly.has_value());
    EXPECT_FALSE(publicOnly->HasPrivateKey());
    EXPECT_EQ(publicOnly->Bits(), 2048u);
    EXPECT_TRUE(publicOnly->VerifySha256(bytes, signature));
    Bytes changed = bytes;
    changed.back() ^= 1;
    EXPECT_FALSE(publicOnly->VerifySha256(changed, signature));
}

}  // namespace
}  // namespace lumivale
