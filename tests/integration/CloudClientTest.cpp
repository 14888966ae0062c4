// The backend client against a loopback backend: signed headers (checked with the key's public
// half), bodies, the answer-size cap, downloads that leave nothing behind, address splitting and
// percent-encoding; then each endpoint's exact request and how odd answers are read.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "BackendEndpoints.h"
#include "CloudClient.h"
#include "HttpTransport.h"
#include "KeyStore.h"
#include "Rsa.h"
#include "TempHome.h"
#include "TestHttpServer.h"

namespace lumivale::test {
namespace {

// One generated key for every test: generation is the slow part.
const std::string& SharedKeyBase64() {
    static const std::string text = [] {
        KeyStore store;
        store.GenerateKey();
        return store.ExportPrivateKeyBase64();
    }();
    return text;
}

bool HasHeader(const TestRequest& request, const std::string& name) {
    for (const auto& header : request.headers) {
        if (header.first.size() == name.size() &&
            std::equal(name.begin(), name.end(), header.first.begin(),
                       [](char a, char b) { return std::tolower(a) == std::tolower(b); }))
            return true;
    }
    return false;
}

TestReply Json(int status, std::string body) {
    TestReply reply = TestReply::Status(status, std::move(body));
    reply.contentType = "application/json";
    return reply;
}

class CloudClientTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(SharedKeyBase64().empty());
        ASSERT_TRUE(client.Keys().ImportPrivateKey(SharedKeyBase64()));
    }
    void TearDown() override { CloseHttpConnections(); }

    // True when `signature` (Base64) is the key's PKCS#1 v1.5 SHA-256 signature of `message`.
    bool SignatureMatches(const std::string& message, const std::string& signature) {
        const auto key = RsaKey::FromFullPrivateBlob(Base64Decode(SharedKeyBase64()));
        if (!key) return false;
        const auto publicOnly = RsaKey::FromPublicBlob(key->ExportPublicBlob());
        if (!publicOnly) return false;
        const std::vector<std::uint8_t> bytes(message.begin(), message.end());
        return publicOnly->VerifySha256(bytes, Base64Decode(signature));
    }

    std::string DiagLogText() const {
        const auto file = home.program() / "log" / "diag.log";
        return std::filesystem::exists(file) ? ReadFile(file) : std::string();
    }

    TempHome home;
    TestHttpServer server;
    // The base address carries a path of its own, which requests must not use.
    CloudClient client{server.base() + "/prefix/ignored"};
};

using CloudClientTransport = CloudClientTest;
using BackendEndpoints = CloudClientTest;

// ---------------------------------------------------------------------------------------------
// Transport

TEST_F(CloudClientTransport, SignedRequestSendsSignedHeadersAndTheBodyToTheBaseHost) {
    server.Serve("/api/echo", Json(200, R"({"ok":1})"));

    EXPECT_EQ(client.SignedRequest("POST", "api/echo", "pid-42", R"({"a":"ü"})", "Steve"), R"({"ok":1})");
    ASSERT_EQ(server.Requests().size(), 1u);
    const TestRequest sent = server.Requests()[0];
    EXPECT_EQ(sent.method, "POST");
    EXPECT_EQ(sent.path, "/api/echo");  // the base address's own path is dropped
    EXPECT_EQ(sent.body, R"({"a":"ü"})");
    EXPECT_EQ(sent.Header("Content-Type"), "application/json");
    EXPECT_EQ(sent.Header("X-Player-ID"), "pid-42");
    EXPECT_EQ(sent.Header("X-Player-Name"), "Steve");
    const std::string timestamp = sent.Header("X-Timestamp");
    ASSERT_FALSE(timestamp.empty());
    EXPECT_EQ(timestamp.find_first_not_of("0123456789"), std::string::npos);
    const std::string signature = sent.Header("X-Signature");
    // The timestamp followed by the player id is signed; the body is not.
    EXPECT_TRUE(SignatureMatches(timestamp + "pid-42", signature));
    EXPECT_FALSE(SignatureMatches(timestamp + "pid-42" + sent.body, signature));
    EXPECT_FALSE(SignatureMatches(timestamp, signature));

    // One diagnostic line naming the method and path, without the signature.
    const std::string log = DiagLogText();
    EXPECT_NE(log.find("[HTTP] POST api/echo respEmpty=0"), std::string::npos) << log;
    EXPECT_EQ(log.find(signature.substr(0, 24)), std::string::npos);
}

TEST_F(CloudClientTransport, SignedRequestVariants) {
    server.Serve("/api/x", Json(200, "ok"));
    server.Serve("/", TestReply::Ok(""));

    // A given signature and timestamp go out unchanged; a negative timestamp keeps its sign.
    EXPECT_EQ(client.SignedRequest("GET", "/api/x", "p", "", "", std::string("c2ln"), -17), "ok");
    // Without a name no X-Player-Name header at all; an empty path becomes "/".
    EXPECT_EQ(client.SignedRequest("GET", "", "p", "", "", std::nullopt, 1700000000), "");
    // An empty player id signs the timestamp alone and sends no player id value.
    EXPECT_EQ(client.SignedRequest("GET", "/api/x", "", "", "", std::nullopt, 1700000001), "ok");

    const auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(requests[0].Header("X-Signature"), "c2ln");
    EXPECT_EQ(requests[0].Header("X-Timestamp"), "-17");
    EXPECT_FALSE(HasHeader(requests[0], "X-Player-Name"));
    EXPECT_EQ(requests[0].body, "");

    EXPECT_EQ(requests[1].path, "/");
    EXPECT_EQ(requests[1].Header("X-Timestamp"), "1700000000");
    EXPECT_TRUE(SignatureMatches("1700000000p", requests[1].Header("X-Signature")));

    EXPECT_EQ(requests[2].Header("X-Player-ID"), "");
    EXPECT_TRUE(SignatureMatches("1700000001", requests[2].Header("X-Signature")));

    // The second answer had no body: the log says so.
    EXPECT_NE(DiagLogText().find("[HTTP] GET  respEmpty=1"), std::string::npos);
}

TEST_F(CloudClientTransport, ErrorStatusesGiveTheirBodyFailuresAndOversizedAnswersNothing) {
    server.Serve("/api/denied", Json(403, R"({"error":"nope"})"));
    EXPECT_EQ(client.SignedRequest("POST", "/api/denied", "p", "{}"), R"({"error":"nope"})");
    EXPECT_EQ(client.PlainRequest("GET", "/api/denied"), R"({"error":"nope"})");
    EXPECT_EQ(client.GetUrl(server.Url("/api/denied")), R"({"error":"nope"})");

    std::string deadBase;
    {
        TestHttpServer dead;
        deadBase = dead.base();
    }
    CloudClient unreachable(deadBase);
    EXPECT_EQ(unreachable.SignedRequest("GET", "/api/x", "p", ""), "");
    EXPECT_EQ(unreachable.PlainRequest("GET", "/api/x"), "");
    EXPECT_EQ(unreachable.GetUrl(deadBase + "/api/x"), "");

    // Answers above 16 MiB are dropped, except by GetUrl.
    const std::string exact(kMaxBackendAnswerBytes, 'a');
    const std::string over(kMaxBackendAnswerBytes + 1, 'b');
    server.Serve("/exact", TestReply::Ok(exact));
    server.Serve("/over", TestReply::Ok(over));

    EXPECT_EQ(client.SignedRequest("GET", "/exact", "p", "").size(), exact.size());
    EXPECT_EQ(client.PlainRequest("GET", "/exact").size(), exact.size());
    EXPECT_EQ(client.SignedRequest("GET", "/over", "p", ""), "");
    EXPECT_EQ(client.PlainRequest("GET", "/over"), "");
    EXPECT_EQ(client.GetUrl(server.Url("/over")), over);
}

TEST_F(CloudClientTransport, PlainRequestAndGetUrlHeaders) {
    server.Serve("/api/plain", Json(200, "plain"));

    EXPECT_EQ(client.PlainRequest("GET", "api/plain?x=1"), "plain");
    EXPECT_EQ(client.GetUrl(server.Url("/api/plain?q=a%20b")), "plain");
    EXPECT_EQ(client.GetUrl(server.Url("/api/plain"), "x-api-key: k1\r\nAccept: text/plain\r\n"), "plain");

    const auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_EQ(requests[0].method, "GET");
    EXPECT_EQ(requests[0].path, "/api/plain");
    EXPECT_EQ(requests[0].query, "x=1");
    EXPECT_EQ(requests[0].Header("Accept"), "application/json");
    EXPECT_FALSE(HasHeader(requests[0], "X-Signature"));
    EXPECT_FALSE(HasHeader(requests[0], "X-Player-ID"));
    EXPECT_EQ(requests[0].body, "");

    EXPECT_EQ(requests[1].query, "q=a%20b");
    EXPECT_EQ(requests[1].Header("Accept"), "application/json");

    EXPECT_EQ(requests[2].Header("x-api-key"), "k1");
    EXPECT_EQ(requests[2].Header("Accept"), "text/plain");

    // Plain requests write no diagnostic line.
    EXPECT_EQ(DiagLogText().find("api/plain"), std::string::npos);
}

TEST_F(CloudClientTransport, DownloadToFileWritesReportsAndLeavesNothingOnFailure) {
    const std::filesystem::path folder = home.root() / "dl";
    std::filesystem::create_directories(folder);
    const std::filesystem::path target = folder / "runtime.zip";
    const std::filesystem::path partial = folder / "runtime.zip.part";

    std::string payload(300000, '\0');
    for (std::size_t i = 0; i < payload.size(); ++i) payload[i] = static_cast<char>(i * 7);
    TestReply pieces = TestReply::Ok(payload);
    pieces.pieceSize = 65536;
    server.Serve("/file", pieces);
    server.Serve("/empty", TestReply::Ok(""));
    TestReply cut = TestReply::Ok(std::string(100000, 'c'));
    cut.cutAfter = 40000;
    server.Serve("/cut", cut);

    // Success: the bytes arrive in place and progress counts up to the announced length.
    WriteFile(target, "old contents");
    std::vector<std::pair<std::int64_t, std::int64_t>> calls;
    EXPECT_TRUE(client.DownloadToFile(server.Url("/file"), target,
                                      [&](std::int64_t written, std::int64_t total) { calls.emplace_back(written, total); }));
    EXPECT_EQ(ReadFile(target), payload);
    EXPECT_FALSE(std::filesystem::exists(partial));
    ASSERT_FALSE(calls.empty());
    for (std::size_t i = 0; i < calls.size(); ++i) {
        EXPECT_EQ(calls[i].second, static_cast<std::int64_t>(payload.size()));
        if (i > 0) {
            EXPECT_GT(calls[i].first, calls[i - 1].first);
        }
    }
    EXPECT_EQ(calls.back().first, static_cast<std::int64_t>(payload.size()));

    // Zero bytes, a body cut off midway, a server that cannot be reached: failure, no file, no
    // partial file.
    std::string deadUrl;
    {
        TestHttpServer dead;
        deadUrl = dead.Url("/file");
    }
    for (const std::string& url : {server.Url("/empty"), server.Url("/cut"), deadUrl}) {
        EXPECT_FALSE(client.DownloadToFile(url, target)) << url;
        EXPECT_FALSE(std::filesystem::exists(target)) << url;
        EXPECT_FALSE(std::filesystem::exists(partial)) << url;
    }

    // A folder that cannot take the file: failure, nothing created.
    EXPECT_FALSE(client.DownloadToFile(server.Url("/file"), folder / "missing" / "x.zip"));
    EXPECT_FALSE(std::filesystem::exists(folder / "missing"));
}

TEST(CloudClientAddress, SplittingAndPercentEncoding) {
    auto split = SplitBackendAddress("http://127.0.0.1:8123/base/path?x=1");
    EXPECT_FALSE(split.secure);
    EXPECT_EQ(split.host, "127.0.0.1");
    EXPECT_EQ(split.port, 8123);
    EXPECT_EQ(split.path, "/base/path?x=1");
    EXPECT_EQ(split.Url(), "http://127.0.0.1:8123/base/path?x=1");

    split = SplitBackendAddress("backend.example.org");  // no scheme: plain HTTP on port 80
    EXPECT_FALSE(split.secure);
    EXPECT_EQ(split.host, "backend.example.org");
    EXPECT_EQ(split.port, 80);
    EXPECT_EQ(split.path, "/");
    EXPECT_EQ(split.Url(), "http://backend.example.org:80/");

    split = SplitBackendAddress("https://cloud.example.org");
    EXPECT_TRUE(split.secure);
    EXPECT_EQ(split.port, 443);
    EXPECT_EQ(split.Url(), "https://cloud.example.org:443/");

    split = SplitBackendAddress("ftp://h:99/a");
    EXPECT_FALSE(split.secure);
    EXPECT_EQ(split.Url(), "http://h:99/a");

    EXPECT_EQ(PercentEncode(""), "");
    EXPECT_EQ(PercentEncode("AZaz09-._~"), "AZaz09-._~");
    EXPECT_EQ(PercentEncode("a b/c?d=e&f+g%"), "a%20b%2Fc%3Fd%3De%26f%2Bg%25");
    EXPECT_EQ(PercentEncode("玩家ü"), "%E7%8E%A9%E5%AE%B6%C3%BC");
    EXPECT_EQ(PercentEncode(std::string("\x00\x7f\xff", 3)), "%00%7F%FF");
}

// ---------------------------------------------------------------------------------------------
// Endpoints

TEST_F(BackendEndpoints, RegisterPublicKeySendsTheSignedKeyAndReadsSuccess) {
    std::string answer = R"({"success":true})";
    server.Handle("/api/register_key", [&](const TestRequest&) { return Json(200, answer); });

    std::int64_t retry = -5;
    EXPECT_EQ(RegisterPublicKey(client, "pid\"1", "Alex", retry), RegisterResult::Registered);
    EXPECT_EQ(retry, -5);  // untouched on success

    ASSERT_EQ(server.Requests().size(), 1u);
    const TestRequest sent = server.Requests()[0];
    EXPECT_EQ(sent.method, "POST");
    EXPECT_EQ(sent.path, "/api/register_key");
    EXPECT_EQ(sent.Header("X-Player-ID"), "pid\"1");
    EXPECT_EQ(sent.Header("X-Player-Name"), "Alex");
    EXPECT_TRUE(SignatureMatches(sent.Header("X-Timestamp") + "pid\"1", sent.Header("X-Signature")));

    // The PEM of the key, escaped: line feeds as backslash-n. The player id goes in unescaped.
    const auto key = RsaKey::FromFullPrivateBlob(Base64Decode(SharedKeyBase64()));
    ASSERT_TRUE(key.has_value());
    std::string pem = KeyStore::PublicKeyPem(key->ExportFullPrivateBlob());
    ASSERT_FALSE(pem.empty());
    std::string escaped;
    for (char c : pem) escaped += c == '\n' ? std::string("\\n") : std::string(1, c);
    EXPECT_EQ(sent.body, "{\"player_id\":\"pid\"1\",\"pubkey_pem\":\"" + escaped + "\"}");

    answer = R"({"success": true, "x":1})";
    EXPECT_EQ(RegisterPublicKey(client, "p", "", retry), RegisterResult::Registered);

    // The string "true" is not success; without retry_after the default comes back.
    answer = R"({"success":"true"})";
    EXPECT_EQ(RegisterPublicKey(client, "p", "", retry), RegisterResult::Failed);
    EXPECT_EQ(retry, 600);

    const std::string log = DiagLogText();
    EXPECT_NE(log.find("[REG] RegisterPublicKey 进入 keyReady=1 pid=pid\"1"), std::string::npos);
    EXPECT_NE(log.find("[REG] 注册诊断 ts="), std::string::npos);
    EXPECT_NE(log.find("pubHead=-----BEGIN RSA PUBLIC KEY-----"), std::string::npos);
    EXPECT_NE(log.find("[REG] RegisterPublicKey HttpJson 返回 respEmpty=0 respHead={\"success\":true}"),
              std::string::npos);
    EXPECT_NE(log.find("[HTTP] POST /api/register_key respEmpty=0"), std::string::npos);
}

TEST_F(BackendEndpoints, RegisterPublicKeyRefusals) {
    std::vector<TestReply> replies = {
        Json(403, R"({"success":false,"reregister_locked":true,"retry_after": 1234,"x":0})"),
        Json(429, R"({"success":false,"retry_after":45})"),
        Json(403, R"({"reregister_locked":true,"retry_after":"soon"})"),
        Json(200, R"({"retry_after":  77})"),
        TestReply::Ok("<html>bad gateway</html>"),
        TestReply::Status(502),
    };
    server.ServeSequence("/api/register_key", replies);

    std::int64_t retry = 0;
    EXPECT_EQ(RegisterPublicKey(client, "p", "", retry), RegisterResult::Locked);
    EXPECT_EQ(retry, 1234);
    EXPECT_EQ(RegisterPublicKey(client, "p", "", retry), RegisterResult::Failed);
    EXPECT_EQ(retry, 45);
    EXPECT_EQ(RegisterPublicKey(client, "p", "", retry), RegisterResult::Locked);
    EXPECT_EQ(retry, 600);
    EXPECT_EQ(RegisterPublicKey(client, "p", "", retry), RegisterResult::Failed);
    EXPECT_EQ(retry, 77);
    EXPECT_EQ(RegisterPublicKey(client, "p", "", retry), RegisterResult::Failed);
    EXPECT_EQ(retry, 600);
    retry = 9;
    EXPECT_EQ(RegisterPublicKey(client, "p", "", retry), RegisterResult::Failed);  // empty answer
    EXPECT_EQ(retry, 9);

    // A key store that is not ready sends nothing.
    const std::size_t before = server.Requests().size();
    CloudClient keyless(server.base());
    EXPECT_EQ(RegisterPublicKey(keyless, "p", "", retry), RegisterResult::Failed);
    EXPECT_EQ(server.Requests().size(), before);
    EXPECT_NE(DiagLogText().find("[REG] RegisterPublicKey 退出：密钥未就绪"), std::string::npos);
}

TEST_F(BackendEndpoints, PingLooksForSuccessOrServerTime) {
    server.ServeSequence("/api/ping", {Json(200, R"({"success":false})"), Json(200, R"({"server_time":1})"),
                                       Json(200, R"({"status":"ok"})"), TestReply::Ok("success"),
                                       TestReply::Status(500)});
    EXPECT_TRUE(Ping(client));
    EXPECT_TRUE(Ping(client));
    EXPECT_FALSE(Ping(client));
    EXPECT_FALSE(Ping(client));  // the word without quotes
    EXPECT_FALSE(Ping(client));

    const TestRequest sent = server.Requests()[0];
    EXPECT_EQ(sent.method, "GET");
    EXPECT_EQ(sent.body, "");
    EXPECT_EQ(sent.Header("X-Player-ID"), "");
    EXPECT_FALSE(HasHeader(sent, "X-Player-Name"));
    EXPECT_TRUE(SignatureMatches(sent.Header("X-Timestamp"), sent.Header("X-Signature")));
}

TEST_F(BackendEndpoints, PlaytimeReadAndUpload) {
    const std::string player = "id with/ü";
    const std::string path = "/api/playtime/id with/ü";  // as the server decodes it
    std::string answer;
    server.Handle(path, [&](const TestRequest&) { return Json(200, answer); });

    const std::vector<std::pair<std::string, std::int64_t>> cases = {
        {R"({"total_seconds":0})", 0},
        {R"({"player":"x","total_seconds":1234})", 1234},
        {R"({"total_seconds": 98765,"x":1})", 98765},
        {R"({"total_seconds" :  -3 })", -3},
        {R"({"total_seconds":"1234"})", -1},
        {R"({"total_seconds":null})", -1},
        {R"({"total_seconds":99999999999999999999})", -1},
        {R"({"seconds":5})", -1},
        {"not json at all", -1},
        {"", -1},
    };
    for (const auto& [body, expected] : cases) {
        answer = body;
        EXPECT_EQ(GetPlaytime(client, player, "Alex"), expected) << body;
    }
    const TestRequest read = server.Requests()[0];
    EXPECT_EQ(read.method, "GET");
    EXPECT_EQ(read.body, "");
    EXPECT_EQ(read.Header("X-Player-ID"), player);
    EXPECT_EQ(read.Header("X-Player-Name"), "Alex");
    EXPECT_TRUE(SignatureMatches(read.Header("X-Timestamp") + player, read.Header("X-Signature")));

    server.ClearLog();
    answer = R"({"success":true,"total_seconds":4321})";
    EXPECT_EQ(UploadPlaytime(client, player, 120, 4300, ""), 4321);
    answer = R"({"error":"bad signature"})";
    EXPECT_EQ(UploadPlaytime(client, player, -1, 0, "N"), -1);
    const auto uploads = server.Requests();
    ASSERT_EQ(uploads.size(), 2u);
    EXPECT_EQ(uploads[0].method, "POST");
    EXPECT_EQ(uploads[0].body, R"({"session_seconds":120,"client_total_seconds":4300})");
    EXPECT_FALSE(HasHeader(uploads[0], "X-Player-Name"));
    EXPECT_TRUE(SignatureMatches(uploads[0].Header("X-Timestamp") + player, uploads[0].Header("X-Signature")));
    EXPECT_EQ(uploads[1].body, R"({"session_seconds":-1,"client_total_seconds":0})");
    EXPECT_EQ(uploads[1].Header("X-Player-Name"), "N");

    CloudClient unreachable("http://127.0.0.1:1");
    EXPECT_EQ(GetPlaytime(unreachable, player, ""), -1);
}

TEST_F(BackendEndpoints, PassThroughListsAndLinks) {
    server.Serve("/api/java/list", Json(200, R"({"items":[]})"));
    server.Serve("/api/java/download", Json(200, R"({"url":"j"})"));
    server.Serve("/api/mod/list", TestReply::Ok("not json"));
    server.Serve("/api/mod/download", Json(404, R"({"error":"none"})"));
    server.Serve("/api/curseforge/download", Json(200, R"({"url":"cf"})"));

    EXPECT_EQ(GetJavaList(client), R"({"items":[]})");
    EXPECT_EQ(GetJavaDownload(client, "jdk 17+x/ü"), R"({"url":"j"})");
    EXPECT_EQ(GetModList(client), "not json");
    EXPECT_EQ(GetModDownload(client, "sodium", "a&b=c"), R"({"error":"none"})");
    EXPECT_EQ(GetCurseForgeDownload(client, "238222", "5 6"), R"({"url":"cf"})");

    const auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 5u);
    for (const TestRequest& request : requests) {
        EXPECT_EQ(request.method, "GET");
        EXPECT_EQ(request.Header("Accept"), "application/json");
        EXPECT_FALSE(HasHeader(request, "X-Signature"));
    }
    EXPECT_EQ(requests[1].query, "name=jdk%2017%2Bx%2F%C3%BC");
    EXPECT_EQ(requests[3].query, "project=sodium&file=a%26b%3Dc");
    EXPECT_EQ(requests[4].query, "project=238222&file=5%206");

    CloudClient unreachable("http://127.0.0.1:1");
    EXPECT_EQ(GetJavaList(unreachable), "");
}

TEST_F(BackendEndpoints, CurseForgeKeyIsFetchedOnceAndKeptInMemoryAsAreClassIds) {
    server.ServeSequence("/api/curseforge/key",
                         {TestReply::Status(500), Json(403, R"({"error":"bad token"})"), TestReply::Ok("garbage"),
                          Json(200, R"({"api_key" : "$2a$10$abcDEF"})")});

    EXPECT_FALSE(GetCurseForgeKey(client));  // empty answer
    EXPECT_FALSE(GetCurseForgeKey(client));  // refused
    EXPECT_FALSE(GetCurseForgeKey(client));  // not JSON
    EXPECT_EQ(client.CurseForgeKey(), "");
    EXPECT_TRUE(GetCurseForgeKey(client));
    EXPECT_EQ(client.CurseForgeKey(), "$2a$10$abcDEF");
    EXPECT_TRUE(GetCurseForgeKey(client));  // cached: no further request
    EXPECT_EQ(server.CountOf("/api/curseforge/key"), 4);

    const auto requests = server.Requests();
    for (const TestRequest& request : requests) {
        EXPECT_EQ(request.method, "GET");
        ASSERT_EQ(request.query.rfind("token=", 0), 0u);
        EXPECT_EQ(request.query.size(), 6u + 31u);
        EXPECT_EQ(request.query, requests[0].query);
    }
    // The key stays out of the diagnostic log.
    EXPECT_EQ(DiagLogText().find("abcDEF"), std::string::npos);

    // Class ids found for projects are kept in memory too.
    EXPECT_FALSE(client.FindCurseForgeClass("238222").has_value());
    client.RememberCurseForgeClass("238222", 6);
    client.RememberCurseForgeClass("0", 0);
    EXPECT_EQ(client.FindCurseForgeClass("238222"), 6);
    EXPECT_EQ(client.FindCurseForgeClass("0"), 0);
}

}  // namespace
}  // namespace lumivale::test
