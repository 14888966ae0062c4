// The reference backend driven by the launcher's own client: key registration and its 12-hour
// lock, play time that grows and survives a restart, signatures that are forged, stale or
// replayed, out-of-range uploads, the probe, and the catalogues filled by the operator's
// sub-commands with the CurseForge key handed out only against the static token.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "BackendEndpoints.h"
#include "BackendServer.h"
#include "CloudClient.h"
#include "HttpTransport.h"
#include "KeyStore.h"
#include "Subprocess.h"
#include "TempHome.h"

namespace lumivale::test {
namespace {

using backend::BackendServer;

// Key generation is the slow part: two keys shared by every test.
const std::string& KeyText(int which) {
    static const std::vector<std::string> keys = [] {
        std::vector<std::string> out;
        for (int i = 0; i < 2; ++i) {
            KeyStore store;
            store.GenerateKey();
            out.push_back(store.ExportPrivateKeyBase64());
        }
        return out;
    }();
    return keys[static_cast<std::size_t>(which)];
}

std::int64_t Now() {
    return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

// A play-time upload signed for a timestamp of its own: the signature depends only on the second
// and the player, and an upload is accepted once, so uploads in quick succession need distinct
// seconds (all of them within the accepted window).
std::int64_t UploadAt(CloudClient& client, const std::string& player, std::int64_t seconds) {
    static std::int64_t offset = 0;
    const std::int64_t ts = Now() - 200 + (offset++ % 150);
    const std::string body = "{\"session_seconds\":" + std::to_string(seconds) + "}";
    return ReadTotalSeconds(client.SignedRequest("POST", "/api/playtime/" + PercentEncode(player), player, body, "",
                                                 client.Keys().SignBase64(std::to_string(ts) + player), ts));
}

class BackendServerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(KeyText(0).empty());
        ASSERT_FALSE(KeyText(1).empty());
        StartServer();
    }
    void TearDown() override {
        CloseHttpConnections();
        if (server) server->Stop();
    }

    void StartServer() {
        if (server) server->Stop();
        CloseHttpConnections();
        server.reset();
        server = std::make_unique<BackendServer>(database());
        ASSERT_TRUE(server->Start("127.0.0.1", 0));
    }

    // A launcher client of the running server holding key 0 or 1.
    std::unique_ptr<CloudClient> Client(int key = 0) {
        auto client = std::make_unique<CloudClient>("http://127.0.0.1:" + std::to_string(server->Port()));
        EXPECT_TRUE(client->Keys().ImportPrivateKey(KeyText(key)));
        return client;
    }

    std::filesystem::path database() const { return home.root() / "backend.sqlite"; }

    TempHome home;
    std::unique_ptr<BackendServer> server;
};

TEST_F(BackendServerTest, RegisteredPlayerPlayTimeGrowsAndSurvivesRestart) {
    const std::string player = "0f3c9a7be21d4c58a6e0b1d2c3f4a5b6";
    auto client = Client();
    std::int64_t retry = -7;
    ASSERT_EQ(RegisterPublicKey(*client, player, "Steve", retry), RegisterResult::Registered);
    EXPECT_EQ(retry, -7);

    EXPECT_EQ(GetPlaytime(*client, player, "Steve"), 0);
    EXPECT_EQ(UploadPlaytime(*client, player, 120, 120, "Steve"), 120);
    EXPECT_EQ(UploadAt(*client, player, 0), 120);
    EXPECT_EQ(UploadAt(*client, player, 86400), 86520);
    EXPECT_EQ(GetPlaytime(*client, player, ""), 86520);

    // Players are kept apart.
    const std::string other = "second player";
    ASSERT_EQ(RegisterPublicKey(*client, other, "", retry), RegisterResult::Registered);
    EXPECT_EQ(UploadPlaytime(*client, other, 5, 5, ""), 5);
    EXPECT_EQ(GetPlaytime(*client, player, ""), 86520);

    StartServer();
    auto restarted = Client();
    EXPECT_EQ(GetPlaytime(*restarted, player, ""), 86520);
    EXPECT_EQ(GetPlaytime(*restarted, other, ""), 5);
    EXPECT_EQ(UploadAt(*restarted, player, 80), 86600);
}

TEST_F(BackendServerTest, UploadsOutsideOneDayOrMalformedAreRefused) {
    const std::string player = "uploader";
    auto client = Client();
    std::int64_t retry = 0;
    ASSERT_EQ(RegisterPublicKey(*client, player, "", retry), RegisterResult::Registered);
    ASSERT_EQ(UploadPlaytime(*client, player, 60, 60, ""), 60);

    EXPECT_EQ(UploadPlaytime(*client, player, 86401, 0, ""), -1);
    EXPECT_EQ(UploadPlaytime(*client, player, -1, 0, ""), -1);
    const std::string path = "/api/playtime/" + PercentEncode(player);
    for (const std::string body : {"", "not json", "[]", "{}", R"({"session_seconds":"60"})",
                                   R"({"session_seconds":1.5})", R"({"session_seconds":99999999999999999999})"}) {
        const std::string answer = client->SignedRequest("POST", path, player, body);
        EXPECT_NE(answer.find("\"success\":false"), std::string::npos) << body << " -> " << answer;
        EXPECT_NE(answer.find("\"error\""), std::string::npos) << body;
    }
    EXPECT_EQ(GetPlaytime(*client, player, ""), 60);

    // Unknown paths and methods get a JSON refusal too.
    const std::string missing = client->PlainRequest("GET", "/api/nothing");
    EXPECT_NE(missing.find("\"error\""), std::string::npos) << missing;
}

TEST_F(BackendServerTest, ForgedStaleReplayedAndForeignSignaturesAreRefused) {
    const std::string player = "signed-player";
    auto client = Client();
    auto intruder = Client(1);
    std::int64_t retry = 0;
    ASSERT_EQ(RegisterPublicKey(*client, player, "", retry), RegisterResult::Registered);
    ASSERT_EQ(UploadAt(*client, player, 10), 10);
    const std::string path = "/api/playtime/" + PercentEncode(player);
    const std::string body = R"({"session_seconds":100,"client_total_seconds":110})";

    // A tampered signature.
    std::int64_t ts = Now();
    std::string signature = client->Keys().SignBase64(std::to_string(ts) + player);
    ASSERT_FALSE(signature.empty());
    std::string tampered = signature;
    tampered[10] = tampered[10] == 'A' ? 'B' : 'A';
    std::string answer = client->SignedRequest("POST", path, player, body, "", tampered, ts);
    EXPECT_EQ(ReadTotalSeconds(answer), -1) << answer;
    EXPECT_NE(answer.find("\"error\""), std::string::npos);

    // A signature of another player's id, or made with a key that is not registered.
    answer = client->SignedRequest("POST", path, player, body, "",
                                   client->Keys().SignBase64(std::to_string(ts) + "someone-else"), ts);
    EXPECT_EQ(ReadTotalSeconds(answer), -1) << answer;
    EXPECT_EQ(UploadPlaytime(*intruder, player, 100, 0, ""), -1);
    EXPECT_EQ(GetPlaytime(*intruder, player, ""), -1);

    // Timestamps more than 300 s away from the server clock, either way.
    for (const std::int64_t stale : {Now() - 400, Now() + 400, std::int64_t{0}}) {
        answer = client->SignedRequest("POST", path, player, body, "",
                                       client->Keys().SignBase64(std::to_string(stale) + player), stale);
        EXPECT_EQ(ReadTotalSeconds(answer), -1) << answer;
        EXPECT_NE(answer.find("timestamp"), std::string::npos) << answer;
    }

    // The path names one player, the signature another.
    ASSERT_EQ(RegisterPublicKey(*client, "other", "", retry), RegisterResult::Registered);
    EXPECT_EQ(ReadTotalSeconds(client->SignedRequest("GET", path, "other", "")), -1);

    // A player without a registered key.
    EXPECT_EQ(GetPlaytime(*client, "never-registered", ""), -1);

    // A genuine request is accepted once; the same one again is a replay.
    ts = Now();
    signature = client->Keys().SignBase64(std::to_string(ts) + player);
    answer = client->SignedRequest("POST", path, player, body, "", signature, ts);
    EXPECT_EQ(ReadTotalSeconds(answer), 110) << answer;
    answer = client->SignedRequest("POST", path, player, body, "", signature, ts);
    EXPECT_EQ(ReadTotalSeconds(answer), -1) << answer;
    EXPECT_NE(answer.find("already used"), std::string::npos) << answer;
    // Also with another body: the body is not signed.
    answer = client->SignedRequest("POST", path, player, R"({"session_seconds":5})", "", signature, ts);
    EXPECT_EQ(ReadTotalSeconds(answer), -1) << answer;
    // Reads change nothing and may repeat within the same second.
    answer = client->SignedRequest("GET", path, player, "", "", signature, ts);
    EXPECT_EQ(ReadTotalSeconds(answer), 110) << answer;

    // A signature that is not Base64.
    answer = client->SignedRequest("GET", path, player, "", "", std::string("***"), Now());
    EXPECT_EQ(ReadTotalSeconds(answer), -1) << answer;

    EXPECT_EQ(GetPlaytime(*client, player, ""), 110);
}

TEST_F(BackendServerTest, AnotherKeyWithinTwelveHoursIsLocked) {
    const std::string player = "locked-player";
    auto first = Client(0);
    auto second = Client(1);
    std::int64_t retry = 0;
    ASSERT_EQ(RegisterPublicKey(*first, player, "", retry), RegisterResult::Registered);
    ASSERT_EQ(UploadPlaytime(*first, player, 30, 30, ""), 30);

    retry = 0;
    EXPECT_EQ(RegisterPublicKey(*second, player, "", retry), RegisterResult::Locked);
    EXPECT_GT(retry, 12 * 3600 - 600);
    EXPECT_LE(retry, 12 * 3600);

    // The first key stays the registered one.
    EXPECT_EQ(UploadPlaytime(*second, player, 30, 0, ""), -1);
    EXPECT_EQ(UploadAt(*first, player, 30), 60);

    // A registration whose body names another player than its signature, or whose key is not a
    // key, is refused without a lock.
    std::string signature;
    std::string pem;
    const std::int64_t ts = Now();
    ASSERT_TRUE(second->Keys().SignRegistration(ts, "fresh", signature, pem));
    std::string answer = second->SignedRequest(
        "POST", "/api/register_key", "fresh", R"({"player_id":"locked-player","pubkey_pem":"x"})", "", signature, ts);
    EXPECT_NE(answer.find("\"success\":false"), std::string::npos) << answer;
    answer = second->SignedRequest("POST", "/api/register_key", "fresh",
                                   R"({"player_id":"fresh","pubkey_pem":"-----BEGIN RSA PUBLIC KEY-----\nAAAA\n"})",
                                   "", signature, ts);
    EXPECT_NE(answer.find("\"success\":false"), std::string::npos) << answer;
    EXPECT_EQ(answer.find("reregister_locked"), std::string::npos) << answer;
    // The key of the first client with a signature made by the second: no proof of possession.
    std::string firstSignature;
    std::string firstPem;
    ASSERT_TRUE(first->Keys().SignRegistration(ts, "fresh", firstSignature, firstPem));
    std::string escaped;
    for (char c : firstPem) escaped += c == '\n' ? std::string("\\n") : std::string(1, c);
    answer = second->SignedRequest("POST", "/api/register_key", "fresh",
                                   R"({"player_id":"fresh","pubkey_pem":")" + escaped + "\"}", "", signature, ts);
    EXPECT_NE(answer.find("\"success\":false"), std::string::npos) << answer;
    EXPECT_EQ(GetPlaytime(*first, "fresh", ""), -1);
}

TEST_F(BackendServerTest, PingAnswersWithTheServerTime) {
    auto client = Client();
    EXPECT_TRUE(Ping(*client));
    const std::string answer = client->SignedRequest("GET", "/api/ping", "", "");
    const auto at = answer.find("\"server_time\":");
    ASSERT_NE(at, std::string::npos) << answer;
    EXPECT_GT(std::stoll(answer.substr(at + 14)), 1600000000);

    server->Stop();
    CloseHttpConnections();
    EXPECT_FALSE(Ping(*client));
}

TEST_F(BackendServerTest, OperatorSubCommandsFillTheCataloguesAndTheCurseForgeKey) {
    const std::filesystem::path tool = std::filesystem::path(LUMIVALE_EXE).parent_path() / "lumivale-backend";
    ASSERT_TRUE(std::filesystem::exists(tool)) << tool;
    auto run = [&](std::vector<std::string> args) {
        args.insert(args.begin(), {"--db", database().string()});
        Subprocess process(tool.string(), args);
        process.CloseInput();
        return process.Wait();
    };
    auto client = Client();
    // Nothing configured: empty catalogues, no key.
    EXPECT_NE(GetJavaList(*client).find("\"items\":[]"), std::string::npos);
    EXPECT_FALSE(GetCurseForgeKey(*client));

    ASSERT_EQ(run({"add-java", "jdk 17+x/ü", "https://example.invalid/jdk17.zip", "abc123", "1024"}), 0);
    ASSERT_EQ(run({"add-java", "jdk21", "https://example.invalid/jdk21.zip"}), 0);
    ASSERT_EQ(run({"add-mod", "238222", "4712866", "jei.jar", "https://example.invalid/jei.jar"}), 0);
    ASSERT_EQ(run({"add-mod", "1", "2", "pack.zip", "https://example.invalid/pack.zip", "resourcepack"}), 0);
    ASSERT_EQ(run({"set-curseforge-key", "cf-secret-key"}), 0);
    EXPECT_NE(run({"add-java", "only-a-name"}), 0);
    EXPECT_NE(run({"no-such-command"}), 0);

    const std::string javaList = GetJavaList(*client);
    EXPECT_NE(javaList.find("\"name\":\"jdk 17+x/ü\""), std::string::npos) << javaList;
    EXPECT_NE(javaList.find("\"name\":\"jdk21\""), std::string::npos) << javaList;
    const std::string java = GetJavaDownload(*client, "jdk 17+x/ü");
    EXPECT_NE(java.find("\"success\":true"), std::string::npos) << java;
    EXPECT_NE(java.find("\"url\":\"https://example.invalid/jdk17.zip\""), std::string::npos) << java;
    EXPECT_NE(java.find("\"sha256\":\"abc123\""), std::string::npos) << java;
    EXPECT_NE(GetJavaDownload(*client, "jdk8").find("\"success\":false"), std::string::npos);

    const std::string mods = GetModList(*client);
    EXPECT_NE(mods.find(R"({"file":"4712866","name":"jei.jar","project":"238222","type":"mod"})"), std::string::npos)
        << mods;
    EXPECT_NE(mods.find(R"("type":"resourcepack")"), std::string::npos) << mods;
    const std::string mod = GetModDownload(*client, "238222", "4712866");
    EXPECT_NE(mod.find("\"url\":\"https://example.invalid/jei.jar\""), std::string::npos) << mod;
    EXPECT_NE(GetCurseForgeDownload(*client, "1", "2").find("\"url\":\"https://example.invalid/pack.zip\""),
              std::string::npos);
    EXPECT_NE(GetModDownload(*client, "238222", "0").find("\"success\":false"), std::string::npos);
    EXPECT_NE(client->PlainRequest("GET", "/api/mod/download?project=1").find("\"error\""), std::string::npos);

    // The key is handed out against the launcher's static token only.
    const std::string refused = client->PlainRequest("GET", "/api/curseforge/key?token=wrong");
    EXPECT_EQ(refused.find("cf-secret-key"), std::string::npos) << refused;
    EXPECT_EQ(client->PlainRequest("GET", "/api/curseforge/key").find("cf-secret-key"), std::string::npos);
    ASSERT_TRUE(GetCurseForgeKey(*client));
    EXPECT_EQ(client->CurseForgeKey(), "cf-secret-key");

    // Another static token set by the operator replaces the launcher's.
    ASSERT_EQ(run({"set-static-token", "operator-token"}), 0);
    auto fresh = Client();
    EXPECT_FALSE(GetCurseForgeKey(*fresh));
    EXPECT_NE(fresh->PlainRequest("GET", "/api/curseforge/key?token=operator-token").find("cf-secret-key"),
              std::string::npos);
}

TEST_F(BackendServerTest, ConcurrentUploadsAreAllCounted) {
    auto client = Client();
    std::int64_t retry = 0;
    ASSERT_EQ(RegisterPublicKey(*client, "busy", "", retry), RegisterResult::Registered);
    // Each upload needs its own signature: distinct timestamps within the accepted window.
    const std::int64_t base = Now() - 100;
    const std::string path = "/api/playtime/busy";
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 10; ++i) {
                const std::int64_t ts = base + t * 10 + i;
                client->SignedRequest("POST", path, "busy", R"({"session_seconds":7})", "",
                                      client->Keys().SignBase64(std::to_string(ts) + "busy"), ts);
            }
        });
    }
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(GetPlaytime(*client, "busy", ""), 280);
}

}  // namespace
}  // namespace lumivale::test
