// The reference backend on both stores, driven by the launcher's own client: registration and its lock, play
// time that survives a restart, the fault matrix of signed requests, replays, and the CurseForge key token.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <functional>
#include <limits>
#include <string>
#include <tuple>
#include <vector>

#include "BackendEndpoints.h"
#include "BackendTestKit.h"
#include "Yggdrasil.h"

namespace lumivale::test {
namespace {

// One signed request with every part open to change; the defaults are what the launcher sends.
struct Call {
    std::string player;                 // X-Player-ID, and the player the path names
    std::int64_t timestamp;             // taken once per player and second: each call gets its own
    std::string pathPlayer{};           // another player for the path when not empty
    std::string method = "POST";
    std::string body = R"({"session_seconds":10})";
    std::string signedText{};           // timestamp + player when empty
    int key = 0;                        // which key signs
    std::function<void(std::string&)> alter{};  // changes the signature before it is sent
};

class BackendServerTest : public BackendFixture, public ::testing::TestWithParam<Store> {
  protected:
    BackendServerTest() : BackendFixture(GetParam()) {}
    void SetUp() override {
        firstSecond_ = ServerNow() - 250;
        StartServer();
    }

    // A second inside the accepted window that no other call of the test used.
    std::int64_t Fresh() { return firstSecond_ + seconds_++; }
    void Register(const std::string& player, int key = 0) {
        std::int64_t retry = 0;
        ASSERT_EQ(RegisterPublicKey(Client(key), player, "", retry), RegisterResult::Registered);
    }
    BackendAnswer Send(const Call& call) {
        CloudClient& client = Client(call.key);
        std::string signature = client.Keys().SignBase64(
            call.signedText.empty() ? std::to_string(call.timestamp) + call.player : call.signedText);
        if (call.alter) call.alter(signature);
        const std::string path = PercentEncode(call.pathPlayer.empty() ? call.player : call.pathPlayer);
        return client.SignedExchange(call.method, "/api/playtime/" + path, call.player,
                                     call.method == "GET" ? "" : call.body, "", signature, call.timestamp);
    }
    std::int64_t Upload(const std::string& player, std::int64_t seconds) {
        return ReadTotalSeconds(
            Send({.player = player, .timestamp = Fresh(), .body = "{\"session_seconds\":" + std::to_string(seconds) + "}"})
                .body);
    }

  private:
    std::int64_t firstSecond_ = 0;
    std::int64_t seconds_ = 0;
};

INSTANTIATE_TEST_SUITE_P(Stores, BackendServerTest, ::testing::Values(Store::Sqlite, Store::Postgres), StoreName);

TEST_P(BackendServerTest, RegisteredPlayerPlayTimeGrowsAndSurvivesRestartAndThePingSaysWhetherItRuns) {
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
    EXPECT_EQ(GetPlaytime(Client(), player, ""), 86520);  // the client never reuses its second
    EXPECT_EQ(GetPlaytime(Client(), other, ""), 5);
}

TEST_P(BackendServerTest, ForgedStaleForeignAndMalformedRequestsAreRefused) {
    const std::string player = "signed-player";
    Register(player);
    Register("other");
    ASSERT_EQ(Upload(player, 10), 10);

    // Each fault on an otherwise genuine upload, and the reason the refusal gives.
    const std::string verify = "signature does not verify", integer = "must be an integer", range = "between 0";
    const auto body = [](const char* text) { return [text](Call& c) { c.body = text; }; };
    const auto at = [](std::int64_t second) { return [second](Call& c) { c.timestamp = second; }; };
    const std::int64_t now = ServerNow();
    const std::vector<std::tuple<const char*, std::function<void(Call&)>, std::string>> faults = {
        {"tampered", [](Call& c) { c.alter = [](std::string& s) { s[10] = s[10] == 'A' ? 'B' : 'A'; }; }, verify},
        {"signed for another player", [](Call& c) { c.signedText = std::to_string(c.timestamp) + "x"; }, verify},
        {"key that is not registered", [](Call& c) { c.key = 1; }, verify},
        {"read with a foreign key", [](Call& c) { c.key = 1; c.method = "GET"; }, verify},
        {"signature not Base64", [](Call& c) { c.alter = [](std::string& s) { s = "***"; }; }, "canonical"},
        {"timestamp 400 s old", at(now - 400), "timestamp"},
        {"timestamp 400 s ahead", at(now + 400), "timestamp"},
        {"timestamp 0", at(0), "timestamp"},
        {"lowest timestamp", at(std::numeric_limits<std::int64_t>::min()), "timestamp"},
        {"highest timestamp", at(std::numeric_limits<std::int64_t>::max()), "timestamp"},
        {"path names another player", [](Call& c) { c.player = "other"; c.pathPlayer = "signed-player"; }, "differ"},
        {"player without a key", [](Call& c) { c.player = "never-registered"; }, "no registered key"},
        {"player id not UTF-8", [](Call& c) { c.player = "bad\xff"; }, "malformed player id"},
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
        Call call{.player = player, .timestamp = Fresh(), .body = R"({"session_seconds":100})"};
        fault(call);
        const std::string answer = Send(call).body;
        EXPECT_EQ(ReadTotalSeconds(answer), -1) << what << ": " << answer;
        EXPECT_NE(answer.find(says), std::string::npos) << what << ": " << answer;
    }
    EXPECT_EQ(GetPlaytime(Client(), player, ""), 10);
}

TEST_P(BackendServerTest, EverySignedRequestIsTakenOnceInItsOneSpelling) {
    const std::string player = "replayed-player";
    Register(player);
    // Other spellings of a genuine signature, each sent before the genuine one could use up its second.
    const std::vector<std::pair<const char*, std::function<void(std::string&)>>> spellings = {
        {"space inside", [](std::string& s) { s.insert(20, " "); }},
        {"tab inside", [](std::string& s) { s.insert(20, "\t"); }},
        {"padding inside", [](std::string& s) { s.insert(20, "="); }},
        {"padding added", [](std::string& s) { s += "="; }},
        {"padding dropped", [](std::string& s) { s.erase(s.find('=')); }},
        {"unused bits set", [](std::string& s) {
             const std::string alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
             char& last = s[s.find('=') - 1];  // of its six bits the low four carry nothing
             last = alphabet[alphabet.find(last) ^ 1];
         }},
    };
    const Call upload{.player = player, .timestamp = Fresh(), .body = R"({"session_seconds":86400})"};
    for (const auto& [what, respell] : spellings) {
        Call call = upload;
        call.alter = respell;
        const BackendAnswer answer = Send(call);
        EXPECT_EQ(answer.status, 401) << what << ": " << answer.body;
    }
    EXPECT_EQ(ReadTotalSeconds(Send(upload).body), 86400);
    Call otherBody = upload;
    otherBody.body = R"({"session_seconds":5})";
    for (const Call& again : {upload, otherBody}) EXPECT_EQ(Send(again).status, 409);

    // A read is taken once too, so its headers can never turn into an upload.
    Call read{.player = player, .timestamp = Fresh(), .method = "GET"};
    EXPECT_EQ(ReadTotalSeconds(Send(read).body), 86400);
    EXPECT_EQ(Send(read).status, 409);
    read.method = "POST";
    EXPECT_NE(Send(read).body.find("request already used"), std::string::npos);
    EXPECT_EQ(GetPlaytime(Client(), player, ""), 86400);
}

TEST_P(BackendServerTest, AnotherKeyWaitsTwelveHoursAfterTheRegisteredKeyLastSigned) {
    Register("locked-player");
    std::int64_t retry = 0;
    EXPECT_EQ(RegisterPublicKey(Client(1), "locked-player", "", retry), RegisterResult::Locked);
    EXPECT_LE(std::abs(retry - 12 * 3600), 600);
    EXPECT_EQ(Upload("locked-player", 30), 30);  // the first key stays the registered one

    // An owner who keeps playing keeps the account: each request their key signs restarts the 12 hours.
    clockShift = 11 * 3600;
    EXPECT_EQ(GetPlaytime(Client(0), "locked-player", ""), 30);
    clockShift = 13 * 3600;
    EXPECT_EQ(RegisterPublicKey(Client(1), "locked-player", "", retry), RegisterResult::Locked);
    EXPECT_LE(std::abs(retry - 10 * 3600), 600);
    // One who reinstalled gets back in once the old key has been silent for 12 hours.
    clockShift = 23 * 3600 + 60;
    EXPECT_EQ(RegisterPublicKey(Client(1), "locked-player", "", retry), RegisterResult::Registered);
    EXPECT_EQ(GetPlaytime(Client(1), "locked-player", ""), 30);
    EXPECT_EQ(GetPlaytime(Client(0), "locked-player", ""), -1);

    // Refused without a lock: a body naming another player than the signature, a key that is no
    // key, and the first client's key signed by the second (no proof of possession).
    std::string signature, pem, firstSignature, firstPem;
    const std::int64_t ts = ServerNow();
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
TEST_P(BackendServerTest, TheCurseForgeKeyGoesOutOnlyAgainstTheStaticToken) {
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
