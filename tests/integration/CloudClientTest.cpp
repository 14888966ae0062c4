// The backend client against a loopback stand-in: signed headers, the size cap, failed downloads, the CurseForge key.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "AccountTestSupport.h"
#include "BackendEndpoints.h"
#include "CloudClient.h"
#include "HttpTransport.h"
#include "TempHome.h"

namespace lumivale::test {
namespace {

std::string DeadBase() {
    TestHttpServer dead;
    return dead.base();
}

class CloudClientTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(client.Keys().ImportPrivateKey(TestKey())); }
    void TearDown() override { CloseHttpConnections(); }

    TempHome home;
    TestHttpServer server;
    CloudClient client{server.base() + "/prefix/ignored"};  // requests never use the base's own path
};

TEST_F(CloudClientTest, SignedRequestSignsTimestampAndPlayerAndKeepsTheSignatureOutOfTheLog) {
    server.Serve("/api/echo", JsonReply(200, R"({"ok":1})"));
    EXPECT_EQ(client.SignedRequest("POST", "api/echo", "pid-42", R"({"a":"ü"})", "Steve"), R"({"ok":1})");
    ASSERT_EQ(server.Requests().size(), 1u);
    const TestRequest sent = server.Requests()[0];
    EXPECT_EQ(sent.path + "|" + sent.Header("X-Player-Name"), "/api/echo|Steve");
    // PKCS#1 v1.5 is deterministic: the same text signed again gives the same signature.
    const std::string signature = sent.Header("X-Signature");
    EXPECT_EQ(signature, client.Keys().SignBase64(sent.Header("X-Timestamp") + "pid-42"));
    const std::string log = DiagLogText(home);
    EXPECT_NE(log.find("[HTTP] POST api/echo respEmpty=0"), std::string::npos) << log;
    EXPECT_EQ(log.find(signature.substr(0, 24)), std::string::npos);
}

TEST_F(CloudClientTest, OversizedAnswersGiveNothingExceptToGetUrl) {
    server.Serve("/exact", TestReply::Ok(std::string(kMaxBackendAnswerBytes, 'a')));
    server.Serve("/over", TestReply::Ok(std::string(kMaxBackendAnswerBytes + 1, 'b')));
    EXPECT_EQ(client.SignedRequest("GET", "/exact", "p", "").size(), kMaxBackendAnswerBytes);
    EXPECT_EQ(client.PlainRequest("GET", "/over"), "");
    EXPECT_EQ(client.SignedRequest("GET", "/over", "p", ""), "");
    EXPECT_EQ(client.GetUrl(server.Url("/over")).size(), kMaxBackendAnswerBytes + 1);
}

TEST_F(CloudClientTest, AFailedDownloadLeavesNeitherTheFileNorItsPart) {
    const std::filesystem::path target = home.root() / "runtime.zip";
    TestReply cut = TestReply::Ok(std::string(100000, 'c'));
    cut.cutAfter = 40000;
    server.Serve("/cut", cut);
    server.Serve("/empty", TestReply::Ok(""));
    // Once an answer began the old file counts as replaced; nobody answering leaves it alone.
    for (const auto& [url, answered] : std::vector<std::pair<std::string, bool>>{
             {server.Url("/empty"), true}, {server.Url("/cut"), true}, {DeadBase() + "/file", false}}) {
        WriteFile(target, "old contents");
        EXPECT_FALSE(client.DownloadToFile(url, target)) << url;
        EXPECT_FALSE(std::filesystem::exists(home.root() / "runtime.zip.part")) << url;
        EXPECT_EQ(std::filesystem::exists(target), !answered) << url;
    }
}

TEST_F(CloudClientTest, CurseForgeKeyIsFetchedOnceKeptInMemoryAndNeverLogged) {
    server.ServeSequence("/api/curseforge/key", {TestReply::Status(500), JsonReply(403, R"({"error":"bad token"})"),
                                                 JsonReply(200, R"({"api_key" : "$2a$10$abcDEF"})")});
    EXPECT_FALSE(GetCurseForgeKey(client));
    EXPECT_FALSE(GetCurseForgeKey(client));
    EXPECT_TRUE(GetCurseForgeKey(client));
    EXPECT_TRUE(GetCurseForgeKey(client));
    EXPECT_EQ(client.CurseForgeKey(), "$2a$10$abcDEF");
    EXPECT_EQ(server.CountOf("/api/curseforge/key"), 3);
    EXPECT_EQ(DiagLogText(home).find("abcDEF"), std::string::npos);
}

}  // namespace
}  // namespace lumivale::test
