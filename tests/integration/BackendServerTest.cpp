// The reference backend driven by the launcher's own client: registration and its lock, play time that survives
// a restart, the fault matrix of signed uploads, and the token for the CurseForge key.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "AccountTestSupport.h"
#include "BackendEndpoints.h"
#include "BackendServer.h"
#include "HttpTransport.h"
#include "TempHome.h"
#include "Yggdrasil.h"

namespace lumivale::test {
namespace {

// An upload's signature covers only its second and player and is taken once: each call gets its own
// second inside the accepted window, counted from the start of the test.
std::atomic<std::int64_t> g_firstSecond{0}, g_seconds{0};
std::int64_t FreshTimestamp() { return g_firstSecond + g_seconds++; }

// One signed request with every part open to change; the defaults are what the launcher sends.
struct Call {
    std::string player;                 // X-Player-ID, and the player the path names
    std::string pathPlayer{};           // another player for the path when not empty
    std::string method = "POST";
    std::string body = R"({"session_seconds":10})";
    std::int64_t timestamp = FreshTimestamp();
    std::string signedText{};           // timestamp + player when empty
    int key = 0;                        // which key signs
    std::function<void(std::string&)> alter{};  // changes the signature before it is sent
};

class BackendServerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        g_firstSecond = NowSeconds() - 250;
        g_seconds = 0;
        StartServer();
    }
    void TearDown() override { StopServer(); }

    void StopServer() {
        CloseHttpConnections();  // first, or the server waits out the kept-alive connections
        if (server) server->Stop();
    }
    void StartServer() {
        StopServer();
        server = std::make_unique<backend::BackendServer>(home.root() / "backend.sqlite");
        ASSERT_TRUE(server->Start("127.0.0.1", 0));
        for (int key = 0; key < 2; ++key) {
            clients[key] = std::make_unique<CloudClient>("http://127.0.0.1:" + std::to_string(server->Port()));
            ASSERT_TRUE(clients[key]->Keys().ImportPrivateKey(TestKey(key)));
        }
    }
    CloudClient& Client(int key = 0) { return *clients[key]; }
    void Register(const std::string& player, int key = 0) {
        std::int64_t retry = 0;
        ASSERT_EQ(RegisterPublicKey(Client(key), player, "", retry), RegisterResult::Registered);
    }
    std::string Send(const Call& call) {
        CloudClient& client = Client(call.key);
        std::string signature = client.Keys().SignBase64(
            call.signedText.empty() ? std::to_string(call.timestamp) + call.player : call.signedText);
        if (call.alter) call.alter(signature);
        const std::string path = PercentEncode(call.pathPlayer.empty() ? call.player : call.pathPlayer);
        return client.SignedRequest(call.method, "/api/playtime/" + path, call.player,
                                    call.method == "GET" ? "" : call.body, "", signature, call.timestamp);
    }
    std::int64_t Upload(const std::string& player, std::int64_t seconds) {
        const std::string body = "{\"session_seconds\":" + std::to_string(seconds) + "}";
        return ReadTotalSeconds(Send({.player = player, .body = body}));
    }

    TempHome home;
    std::unique_ptr<backend::BackendServer> server;
    std::unique_ptr<CloudClient> clients[2];
};

TEST_F(BackendServerTest, RegisteredPlayerPlayTimeGrowsAndSurvivesRestartAndThePingSaysWhetherItRuns) {
    const std::string player = "0f3c9a7be21d4c58a6e0b1d2c3f4a5b6", other = "second player/ü";
    Register(player);
    Register(other);
    EXPECT_EQ(UploadPlaytime(Client(), player, 120, 120, "Steve"), 120);
    EXPECT_EQ(Upload(player, 86400), 86520);  // a whole day is the most one upload takes
    EXPECT_EQ(Upload(other, 5), 5);  // players are kept apart

    EXPECT_TRUE(Ping(Client()));
    StopServer();
    EXPECT_FALSE(Ping(Client()));
    StartServer();
    EXPECT_EQ(GetPlaytime(Client(), player, ""), 86520);
    EXPECT_EQ(GetPlaytime(Client(), other, ""), 5);
}

TEST_F(BackendServerTest, ForgedStaleReplayedAndForeignSignaturesAndBadUploadsAreRefused) {
    const std::string player = "signed-player";
    Register(player);
    Register("other");
    ASSERT_EQ(Upload(player, 10), 10);

    // Each fault on an otherwise genuine upload, and the reason the refusal gives.
    const std::string verify = "signature does not verify", integer = "must be an integer", range = "between 0";
    const auto body = [](const char* text) { return [text](Call& c) { c.body = text; }; };
    const std::vector<std::tuple<const char*, std::function<void(Call&)>, std::string>> faults = {
        {"tampered", [](Call& c) { c.alter = [](std::string& s) { s[10] = s[10] == 'A' ? 'B' : 'A'; }; }, verify},
        {"signed for another player", [](Call& c) { c.signedText = std::to_string(c.timestamp) + "x"; }, verify},
        {"key that is not registered", [](Call& c) { c.key = 1; }, verify},
        {"read with a foreign key", [](Call& c) { c.key = 1; c.method = "GET"; }, verify},
        {"signature not Base64", [](Call& c) { c.alter = [](std::string& s) { s = "***"; }; }, verify},
        {"timestamp 400 s old", [](Call& c) { c.timestamp = NowSeconds() - 400; }, "timestamp"},
        {"timestamp 400 s ahead", [](Call& c) { c.timestamp = NowSeconds() + 400; }, "timestamp"},
        {"timestamp 0", [](Call& c) { c.timestamp = 0; }, "timestamp"},
        {"path names another player", [](Call& c) { c.player = "other"; c.pathPlayer = "signed-player"; }, "differ"},
        {"player without a key", [](Call& c) { c.player = "never-registered"; }, "no registered key"},
        {"more than a day", body(R"({"session_seconds":86401})"), range},
        {"negative", body(R"({"session_seconds":-1})"), range},
        {"no body", body(""), "JSON object"},
        {"not JSON", body("not json"), "JSON object"},
        {"an array", body("[]"), "JSON object"},
        {"no seconds", body("{}"), integer},
        {"seconds as text", body(R"({"session_seconds":"60"})"), integer},
        {"fractional seconds", body(R"({"session_seconds":1.5})"), integer},
        {"seconds beyond 64 bits", body(R"({"session_seconds":99999999999999999999})"), integer},
    };
    for (const auto& [what, fault, says] : faults) {
        Call call{.player = player, .body = R"({"session_seconds":100})"};
        fault(call);
        const std::string answer = Send(call);
        EXPECT_EQ(ReadTotalSeconds(answer), -1) << what << ": " << answer;
        EXPECT_NE(answer.find(says), std::string::npos) << what << ": " << answer;
    }

    // A genuine upload is taken once: again, or with another body, it is a replay. Reads may repeat.
    const Call genuine{.player = player, .body = R"({"session_seconds":100})"};
    EXPECT_EQ(ReadTotalSeconds(Send(genuine)), 110);
    EXPECT_NE(Send(genuine).find("already used"), std::string::npos);
    Call otherBody = genuine;
    otherBody.body = R"({"session_seconds":5})";
    EXPECT_EQ(ReadTotalSeconds(Send(otherBody)), -1);
    Call read = genuine;
    read.method = "GET";
    EXPECT_EQ(ReadTotalSeconds(Send(read)), 110);
    EXPECT_EQ(ReadTotalSeconds(Send(read)), 110);
}

TEST_F(BackendServerTest, AnotherKeyWithinTwelveHoursIsLockedAndRegistrationsProveTheirKey) {
    Register("locked-player");
    std::int64_t retry = 0;
    EXPECT_EQ(RegisterPublicKey(Client(1), "locked-player", "", retry), RegisterResult::Locked);
    EXPECT_LE(std::abs(retry - 12 * 3600), 600);
    EXPECT_EQ(Upload("locked-player", 30), 30);  // the first key stays the registered one

    // Refused without a lock: a body naming another player than the signature, a key that is no
    // key, and the first client's key signed by the second (no proof of possession).
    std::string signature, pem, firstSignature, firstPem;
    const std::int64_t ts = NowSeconds();
    ASSERT_TRUE(Client(1).Keys().SignRegistration(ts, "fresh", signature, pem));
    ASSERT_TRUE(Client(0).Keys().SignRegistration(ts, "fresh", firstSignature, firstPem));
    const auto body = [](const char* player, const std::string& key) {
        return "{\"player_id\":\"" + std::string(player) + "\",\"pubkey_pem\":" + EscapeRequestText(key) + "}";
    };
    for (const std::string& sent : {body("locked-player", pem), body("fresh", "-----BEGIN RSA PUBLIC KEY-----\nAAAA\n"),
                                    body("fresh", firstPem)}) {
        const std::string answer =
            Client(1).SignedRequest("POST", "/api/register_key", "fresh", sent, "", signature, ts);
        EXPECT_NE(answer.find("\"success\":false"), std::string::npos) << answer;
        EXPECT_EQ(answer.find("reregister_locked"), std::string::npos) << answer;
    }
    EXPECT_EQ(GetPlaytime(Client(0), "fresh", ""), -1);
}

// The operator's tool and the catalogues are exercised by the Java install and modpack tests.
TEST_F(BackendServerTest, TheCurseForgeKeyGoesOutOnlyAgainstTheStaticToken) {
    server->Store().SetSetting("curseforge_key", "cf-secret-key");
    for (const char* query : {"", "?token=wrong", "?token=operator-token"}) {
        EXPECT_EQ(Client().PlainRequest("GET", "/api/curseforge/key" + std::string(query)).find("cf-secret"),
                  std::string::npos) << query;
    }
    ASSERT_TRUE(GetCurseForgeKey(Client()));
    EXPECT_EQ(Client().CurseForgeKey(), "cf-secret-key");
    server->Store().SetSetting("static_token", "operator-token");  // replaces the launcher's token
    EXPECT_FALSE(GetCurseForgeKey(Client(1)));
}

}  // namespace
}  // namespace lumivale::test
