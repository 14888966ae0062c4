// The backend client against a loopback stand-in: signed headers, the size cap, failed downloads, odd answers.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <tuple>
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
    std::string DiagLog() const {
        const auto file = home.program() / "log" / "diag.log";
        return std::filesystem::exists(file) ? ReadFile(file) : std::string();
    }

    TempHome home;
    TestHttpServer server;
    CloudClient client{server.base() + "/prefix/ignored"};  // requests never use the base's own path
};

TEST_F(CloudClientTest, SignedRequestSignsTimestampAndPlayerAndKeepsTheSignatureOutOfTheLog) {
    server.Serve("/api/echo", JsonReply(200, R"({"ok":1})"));
    EXPECT_EQ(client.SignedRequest("POST", "api/echo", "pid-42", R"({"a":"ü"})", "Steve"), R"({"ok":1})");
    ASSERT_EQ(server.Requests().size(), 1u);
    const TestRequest sent = server.Requests()[0];
    EXPECT_EQ(sent.method + " " + sent.path + " " + sent.body, R"(POST /api/echo {"a":"ü"})");
    EXPECT_EQ(sent.Header("Content-Type") + "|" + sent.Header("X-Player-ID") + "|" + sent.Header("X-Player-Name"),
              "application/json|pid-42|Steve");
    // PKCS#1 v1.5 is deterministic: the same text signed again gives the same signature.
    const std::string signature = sent.Header("X-Signature");
    EXPECT_EQ(signature, client.Keys().SignBase64(sent.Header("X-Timestamp") + "pid-42"));
    const std::string log = DiagLog();
    EXPECT_NE(log.find("[HTTP] POST api/echo respEmpty=0"), std::string::npos) << log;
    EXPECT_EQ(log.find(signature.substr(0, 24)), std::string::npos);
}

TEST_F(CloudClientTest, ErrorBodiesComeBackAndOversizedAnswersGiveNothingExceptToGetUrl) {
    server.Serve("/denied", JsonReply(403, R"({"error":"nope"})"));
    server.Serve("/exact", TestReply::Ok(std::string(kMaxBackendAnswerBytes, 'a')));
    server.Serve("/over", TestReply::Ok(std::string(kMaxBackendAnswerBytes + 1, 'b')));
    EXPECT_EQ(client.SignedRequest("POST", "/denied", "p", "{}"), R"({"error":"nope"})");
    EXPECT_EQ(client.PlainRequest("GET", "/denied"), R"({"error":"nope"})");
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
    EXPECT_FALSE(client.DownloadToFile(server.Url("/cut"), home.root() / "missing" / "x.zip"));
    EXPECT_FALSE(std::filesystem::exists(home.root() / "missing"));
}

TEST(CloudClientAddress, SchemeAndPortDefaultAndNamesArePercentEncoded) {
    EXPECT_EQ(SplitBackendAddress("backend.example.org").Url(), "http://backend.example.org:80/");
    EXPECT_EQ(SplitBackendAddress("https://cloud.example.org").Url(), "https://cloud.example.org:443/");
    EXPECT_EQ(PercentEncode("AZaz09-._~"), "AZaz09-._~");
    EXPECT_EQ(PercentEncode("a b/c?d=e&f+g%"), "a%20b%2Fc%3Fd%3De%26f%2Bg%25");
    EXPECT_EQ(PercentEncode(std::string("玩\x00\x7f", 5)), "%E7%8E%A9%00%7F");
}

TEST_F(CloudClientTest, RegistrationAnswersGiveResultAndRetryAfter) {
    const std::vector<std::tuple<TestReply, RegisterResult, std::int64_t>> cases = {
        {JsonReply(200, R"({"success": true, "x":1})"), RegisterResult::Registered, -5},
        {JsonReply(200, R"({"success":"true"})"), RegisterResult::Failed, 600},
        {JsonReply(403, R"({"reregister_locked":true,"retry_after": 1234,"x":0})"), RegisterResult::Locked, 1234},
        {JsonReply(429, R"({"success":false,"retry_after":45})"), RegisterResult::Failed, 45},
        {JsonReply(403, R"({"reregister_locked":true,"retry_after":"soon"})"), RegisterResult::Locked, 600},
        {TestReply::Ok("<html>bad gateway</html>"), RegisterResult::Failed, 600},
        {TestReply::Status(502), RegisterResult::Failed, -5},  // no answer: retry-after stays
    };
    for (const auto& [reply, result, retryAfter] : cases) {
        server.Serve("/api/register_key", reply);
        std::int64_t retry = -5;
        EXPECT_EQ(RegisterPublicKey(client, "p", "", retry), result) << reply.body;
        EXPECT_EQ(retry, retryAfter) << reply.body;
    }
    CloudClient keyless(server.base());  // a key store that is not ready sends nothing
    std::int64_t retry = 0;
    EXPECT_EQ(RegisterPublicKey(keyless, "p", "", retry), RegisterResult::Failed);
    EXPECT_EQ(server.CountOf("/api/register_key"), 7);
}

TEST_F(CloudClientTest, PingAndPlaytimeReadTheirAnswers) {
    server.ServeSequence("/api/ping", {JsonReply(200, R"({"success":false})"), JsonReply(200, R"({"server_time":1})"),
                                       JsonReply(200, R"({"status":"ok"})"), TestReply::Ok("success")});
    for (const bool reachable : {true, true, false, false}) EXPECT_EQ(Ping(client), reachable);

    std::string answer;
    server.Handle("/api/playtime/id with/ü", [&](const TestRequest&) { return JsonReply(200, answer); });
    for (const auto& [body, total] : std::vector<std::pair<std::string, std::int64_t>>{
             {R"({"player":"x","total_seconds":1234})", 1234}, {R"({"total_seconds" :  -3 })", -3},
             {R"({"total_seconds":"1234"})", -1}, {R"({"total_seconds":99999999999999999999})", -1}, {"", -1}}) {
        answer = body;
        EXPECT_EQ(GetPlaytime(client, "id with/ü", "Alex"), total) << body;
        EXPECT_EQ(UploadPlaytime(client, "id with/ü", 120, 4300, ""), total) << body;
    }
    EXPECT_EQ(server.Requests().back().body, R"({"session_seconds":120,"client_total_seconds":4300})");
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
    EXPECT_EQ(DiagLog().find("abcDEF"), std::string::npos);
}

}  // namespace
}  // namespace lumivale::test
