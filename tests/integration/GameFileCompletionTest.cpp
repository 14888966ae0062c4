// Completing a core's files against a loopback file server: the official client jar checked by
// SHA-1, missing libraries, asset index and objects, and the modpack variants of these steps.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "Endpoints.h"
#include "GameFileCompletion.h"
#include "Paths.h"
#include "Platform.h"
#include "TempHome.h"
#include "TestHttpServer.h"
#include "VersionManifest.h"

namespace lumivale::test {
namespace {

namespace fs = std::filesystem;
using json = nlohmann::json;
using platform_constants::kNativesClassifier;
using platform_constants::kOsName;

// SHA-1 test vectors.
constexpr const char* kAbc = "abc";
constexpr const char* kAbcSha1 = "a9993e364706816aba3e25717850c26c9cd0d89d";
constexpr const char* kEmptySha1 = "da39a3ee5e6b4b0d3255bfef95601890afd80709";
constexpr const char* kMillionASha1 = "34aa973cd4c4daa4f61eeb2bdbad27316534016f";

// Every path the server was asked for, in byte order.
std::vector<std::string> SortedPaths(const TestHttpServer& server) {
    std::vector<std::string> paths = server.RequestedPaths();
    std::sort(paths.begin(), paths.end());
    return paths;
}

using Reports = std::vector<std::pair<int, std::string>>;

// Collects progress reports from whichever thread sends them.
struct ProgressLog {
    std::mutex mutex;
    Reports reports;
    CompletionProgress Callable() {
        return [this](int percent, const std::string& text) {
            std::lock_guard lock(mutex);
            reports.emplace_back(percent, text);
        };
    }
    ModpackProgress ModpackCallable() {
        return [this](int step, int stepCount, int percent, const std::string& text) {
            std::lock_guard lock(mutex);
            // Step and step count go in front of the text: "2/7 依赖库就绪".
            reports.emplace_back(
                percent, std::to_string(step) + "/" + std::to_string(stepCount) + " " + text);
        };
    }
    Reports Take() {
        std::lock_guard lock(mutex);
        return std::exchange(reports, {});
    }
};

// A game folder inside a fresh temporary home.
struct GameFolder {
    TempHome home;
    fs::path root = home.program() / ".minecraft";
    std::string dir = PathUtf8(root);

    fs::path Library(const std::string& artifactPath) const {
        return root / "libraries" / artifactPath;
    }
    fs::path Official(const std::string& version) const {
        return root / "libraries/net/minecraft/client" / version /
               ("client-" + version + "-official.jar");
    }
    void WriteVersion(const std::string& id, const json& versionJson) const {
        WriteFile(root / "versions" / id / (id + ".json"), versionJson.dump(2));
    }
};

json Artifact(const std::string& path, const std::string& url) {
    return {{"path", path}, {"url", url}, {"sha1", "0000000000000000000000000000000000000000"}};
}

json Library(const std::string& name, const std::string& path, const std::string& url) {
    return {{"name", name}, {"downloads", {{"artifact", Artifact(path, url)}}}};
}

json ClientDownload(const std::string& url, const std::string& sha1) {
    return {{"client", {{"url", url}, {"sha1", sha1}, {"size", 3}}}};
}

bool Contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

std::string LibraryPath(int i) {
    const std::string n = std::to_string(i);
    return "org/example/lib" + n + "/1.0/lib" + n + "-1.0.jar";
}

// ---------------------------------------------------------------------------------------------

TEST(GameFileNames, Sha1OfFileIsTheLowerCaseHexDigestOfTheWholeFileOrEmpty) {
    TempHome home;
    const fs::path folder = home.root() / "hashes";
    WriteFile(folder / "abc.bin", kAbc);
    WriteFile(folder / "empty.bin", "");
    WriteFile(folder / "million.bin",
              std::string(1000000, 'a'));  // many 64 KiB blocks, a short tail
    WriteFile(folder / "名字 with space.bin", kAbc);

    EXPECT_EQ(Sha1OfFile(PathUtf8(folder / "abc.bin")), kAbcSha1);
    EXPECT_EQ(Sha1OfFile(PathUtf8(folder / "empty.bin")), kEmptySha1);
    EXPECT_EQ(Sha1OfFile(PathUtf8(folder / "million.bin")), kMillionASha1);
    EXPECT_EQ(Sha1OfFile(PathUtf8(folder / "名字 with space.bin")), kAbcSha1);
    EXPECT_EQ(Sha1OfFile(PathUtf8(folder / "missing.bin")), "");
    EXPECT_EQ(Sha1OfFile(PathUtf8(folder)), "");
}

TEST(GameFileNames, ParentOfForgeNameIsTheTextBeforeTheFirstForgeMarker) {
    EXPECT_EQ(ParentOfForgeName("1.20.1-forge-47.2.0"), "1.20.1");
    EXPECT_EQ(ParentOfForgeName("1.12.2_FORGE_14.23.5"), "1.12.2");
    EXPECT_EQ(ParentOfForgeName("MyPack-Forge"), "MyPack");
    // "-forge" is looked for first, wherever "_forge" stands.
    EXPECT_EQ(ParentOfForgeName("a_forge-forge"), "a_forge");
    EXPECT_EQ(ParentOfForgeName("1.20.1"), "");
    EXPECT_EQ(ParentOfForgeName("forge"), "");
    EXPECT_EQ(ParentOfForgeName("-forge"), "");
    EXPECT_EQ(ParentOfForgeName("1.20.1-fabric"), "");
}

TEST(GameFileNames, FindOfficialClientJarTakesTheFirstFolderWithAMatchingFile) {
    GameFolder game;
    EXPECT_EQ(FindOfficialClientJar(game.dir), "");  // no libraries folder at all

    const fs::path client = game.root / "libraries/net/minecraft/client";
    WriteFile(client / "0.junk" / "client.jar", "x");                     // name does not match
    fs::create_directories(client / "0.junk" / "client-x-official.jar");  // a folder, not a file
    WriteFile(client / "1.18.2" / "client-1.18.2-official.jar.part", "x");
    EXPECT_EQ(FindOfficialClientJar(game.dir), "");

    // The wanted folder and file are made neither first nor last, so that no creation order of
    // the file system can stand in for the name order.
    const auto official = [&](const std::string& folder, const std::string& version) {
        WriteFile(client / folder / ("client-" + version + "-official.jar"), "x");
    };
    for (int i = 0; i < 10; ++i) official("2." + std::to_string(i), "2." + std::to_string(i));
    for (char c = 'a'; c <= 'm'; ++c) official("1.19.4", std::string(1, c));
    official("1.19.4", "1.19.4");
    for (char c = 'n'; c <= 'z'; ++c) official("1.19.4", std::string(1, c));
    WriteFile(client / "1.19.4" / "zzz.jar", "x");
    official("1.20.1", "1.20.1");
    for (int i = 10; i < 20; ++i) official("2." + std::to_string(i), "2." + std::to_string(i));
    EXPECT_EQ(FindOfficialClientJar(game.dir),
              PathUtf8(client / "1.19.4" / "client-1.19.4-official.jar"));
}

// ---------------------------------------------------------------------------------------------

TEST(GameFileCompletion, AMissingOrUnreadableVersionJsonFailsWithItsPath) {
    GameFolder game;
    ProgressLog progress;
    std::string error;
    EXPECT_FALSE(CompleteGameFiles(game.dir, "1.20.1", progress.Callable(), error));
    EXPECT_EQ(error, std::string("找不到版本 JSON：") + versionJsonPath(game.dir, "1.20.1"));

    WriteFile(game.root / "versions/broken/broken.json", "{\"id\": \"broken\",");
    error.clear();
    EXPECT_FALSE(CompleteGameFiles(game.dir, "broken", progress.Callable(), error));
    EXPECT_EQ(error, std::string("找不到版本 JSON：") + versionJsonPath(game.dir, "broken"));
    EXPECT_TRUE(progress.Take().empty());
}

TEST(GameFileCompletion, FetchesMissingLibrariesAndRepairsTheOfficialJarThenFindsAllInPlace) {
    TestHttpServer server;
    GameFolder game;
    const std::string id = "1.20.1-forge-47.2.0";

    json libraries = json::array();
    std::vector<std::string> expectedRequests;
    for (int i = 0; i < 24; ++i) {
        const std::string path = LibraryPath(i);
        server.Serve("/libs/" + path, TestReply::Ok("jar " + std::to_string(i)));
        libraries.push_back(Library("org.example:lib" + std::to_string(i) + ":1.0", path,
                                    server.Url("/libs/" + path)));
        expectedRequests.push_back("/libs/" + path);
    }
    // Present libraries are left alone.
    for (const std::string name : {"present-a", "present-b"}) {
        const std::string path = "org/example/" + name + "/1.0/" + name + "-1.0.jar";
        WriteFile(game.Library(path), "kept " + name);
        server.Serve("/libs/" + path, TestReply::Ok("newer"));
        libraries.push_back(
            Library("org.example:" + name + ":1.0", path, server.Url("/libs/" + path)));
    }
    // Natives: the classifier of this system, not the plain artifact nor another system's.
    const std::string nativesPath =
        std::string("org/example/native/1.0/native-1.0-") + kNativesClassifier + ".jar";
    server.Serve("/libs/" + nativesPath, TestReply::Ok("natives"));
    expectedRequests.push_back("/libs/" + nativesPath);
    libraries.push_back(
        {{"name", "org.example:native:1.0"},
         {"natives", {{kOsName, kNativesClassifier}, {"other-os", "natives-other"}}},
         {"downloads",
          {{"artifact", Artifact("org/example/native/1.0/native-1.0.jar",
                                 server.Url("/libs/plain-native.jar"))},
           {"classifiers",
            {{kNativesClassifier, Artifact(nativesPath, server.Url("/libs/" + nativesPath))},
             {"natives-other", Artifact("org/example/native/1.0/native-1.0-natives-other.jar",
                                        server.Url("/libs/other.jar"))}}}}}});
    // Not for this system, unreadable rules, a path that leaves the libraries folder, no download.
    json denied = Library("org.example:denied:1.0", "org/example/denied/1.0/denied-1.0.jar",
                          server.Url("/libs/denied.jar"));
    denied["rules"] = json::array({{{"action", "allow"}, {"os", {{"name", "no-such-os"}}}}});
    libraries.push_back(denied);
    json oddRules = Library("org.example:odd:1.0", "org/example/odd/1.0/odd-1.0.jar",
                            server.Url("/libs/odd.jar"));
    oddRules["rules"] = json::array({{{"action", 5}}});
    libraries.push_back(oddRules);
    libraries.push_back(
        Library("org.example:escape:1.0", "../../escape.jar", server.Url("/libs/escape.jar")));
    libraries.push_back({{"name", "org.example:bare:1.0"}});

    // The official jar of the Forge core's game version is damaged; an older backup exists.
    server.Serve("/data/client.jar", TestReply::Ok(kAbc));
    expectedRequests.push_back("/data/client.jar");
    WriteFile(game.Official("1.20.1"), "damaged jar");
    WriteFile(fs::path(game.Official("1.20.1")).concat(".badsha1.bak"), "older backup");
    game.WriteVersion(id, {{"id", id},
                           {"inheritsFrom", "1.20.1"},
                           {"downloads", ClientDownload(server.Url("/data/client.jar"), kAbcSha1)},
                           {"libraries", libraries}});

    ProgressLog progress;
    std::string error;
    testing::internal::CaptureStdout();
    const bool completed = CompleteGameFiles(game.dir, id, progress.Callable(), error);
    const std::string console = testing::internal::GetCapturedStdout();
    ASSERT_TRUE(completed) << error;
    EXPECT_TRUE(
        Contains(console,
                 "[Lumivale] 原版客户端 sha1 不匹配（本地 7dcdb0f3d983193f2cd4ec3f0d6af5f6124b69ad"
                 " vs 官方 a9993e364706816aba3e25717850c26c9cd0d89d），已备份旧文件并重新下载\n"))
        << console;
    EXPECT_EQ(progress.Take(), (Reports{{10, "原版客户端不完整，正在从国内镜像补齐…"},
                                        {100, "原版客户端已补齐"},
                                        {0, "并发补齐缺失库文件（约 25 个，64 线程）"},
                                        {40, "已下载 10/25"},
                                        {80, "已下载 20/25"},
                                        {100, "已下载 25/25"},
                                        {100, "游戏文件已就绪"}}));
    std::sort(expectedRequests.begin(), expectedRequests.end());
    EXPECT_EQ(SortedPaths(server), expectedRequests);

    EXPECT_EQ(ReadFile(game.Official("1.20.1")), kAbc);
    EXPECT_EQ(ReadFile(fs::path(game.Official("1.20.1")).concat(".badsha1.bak")), "damaged jar");
    for (int i = 0; i < 24; ++i)
        EXPECT_EQ(ReadFile(game.Library(LibraryPath(i))), "jar " + std::to_string(i));
    EXPECT_EQ(ReadFile(game.Library(nativesPath)), "natives");
    EXPECT_EQ(ReadFile(game.Library("org/example/present-a/1.0/present-a-1.0.jar")),
              "kept present-a");
    EXPECT_EQ(ReadFile(game.Library("org/example/present-b/1.0/present-b-1.0.jar")),
              "kept present-b");
    EXPECT_FALSE(fs::exists(game.Library("org/example/denied/1.0/denied-1.0.jar")));
    EXPECT_FALSE(fs::exists(game.root / "escape.jar"));
    EXPECT_FALSE(fs::exists(game.root.parent_path() / "escape.jar"));

    // A second completion finds everything in place and asks for nothing.
    server.ClearLog();
    ASSERT_TRUE(CompleteGameFiles(game.dir, id, progress.Callable(), error)) << error;
    EXPECT_EQ(progress.Take(), (Reports{{100, "原版客户端已就绪"}, {100, "游戏文件已就绪"}}));
    EXPECT_TRUE(SortedPaths(server).empty());
}

TEST(GameFileCompletion, OneFailedLibraryFailsTheCompletionAfterAllOthersRan) {
    TestHttpServer server;
    GameFolder game;
    json libraries = json::array();
    for (int i = 0; i < 3; ++i) {
        const std::string path = LibraryPath(i);
        if (i != 1) server.Serve("/libs/" + path, TestReply::Ok("jar"));
        libraries.push_back(Library("org.example:lib" + std::to_string(i) + ":1.0", path,
                                    server.Url("/libs/" + path)));
    }
    game.WriteVersion("plain", {{"id", "plain"}, {"libraries", libraries}});

    ProgressLog progress;
    std::string error;
    EXPECT_FALSE(CompleteGameFiles(game.dir, "plain", progress.Callable(), error));
    EXPECT_EQ(error, "下载 " + LibraryPath(1) + " 失败");
    EXPECT_EQ(progress.Take(),
              (Reports{{0, "并发补齐缺失库文件（约 3 个，64 线程）"}, {100, "已下载 3/3"}}));
    EXPECT_EQ(ReadFile(game.Library(LibraryPath(0))), "jar");
    EXPECT_EQ(ReadFile(game.Library(LibraryPath(2))), "jar");
    EXPECT_FALSE(fs::exists(game.Library(LibraryPath(1))));
    EXPECT_GE(server.CountOf("/libs/" + LibraryPath(1)), 1);
}

TEST(GameFileCompletion, AStopEndsTheCompletionBeforeFurtherDownloads) {
    TestHttpServer server;
    GameFolder game;
    json libraries = json::array();
    for (int i = 0; i < 30; ++i) {
        server.Serve("/libs/" + LibraryPath(i), TestReply::Ok("jar"));
        libraries.push_back(Library("org.example:lib:" + std::to_string(i), LibraryPath(i),
                                    server.Url("/libs/" + LibraryPath(i))));
    }
    game.WriteVersion("plain", {{"id", "plain"}, {"libraries", libraries}});

    // Stopped before anything began.
    ProgressLog progress;
    std::string error;
    EXPECT_FALSE(
        CompleteGameFiles(game.dir, "plain", progress.Callable(), error, [] { return true; }));
    EXPECT_EQ(error, kCompletionCancelledMessage);
    EXPECT_TRUE(progress.Take().empty());
    EXPECT_TRUE(SortedPaths(server).empty());

    // Stopped once the library downloads were announced: none of them is fetched, nothing more
    // is reported.
    std::atomic<bool> stop{false};
    const CompletionProgress report = progress.Callable();
    error.clear();
    EXPECT_FALSE(CompleteGameFiles(
        game.dir, "plain",
        [&](int percent, const std::string& text) {
            report(percent, text);
            if (text.starts_with("并发补齐缺失库文件")) stop = true;
        },
        error, [&] { return stop.load(); }));
    EXPECT_EQ(error, kCompletionCancelledMessage);
    EXPECT_EQ(progress.Take(), (Reports{{0, "并发补齐缺失库文件（约 30 个，64 线程）"}}));
    EXPECT_TRUE(SortedPaths(server).empty());

    // Without a stop the same core completes.
    error.clear();
    EXPECT_TRUE(
        CompleteGameFiles(game.dir, "plain", progress.Callable(), error, [] { return false; }));
    EXPECT_EQ(SortedPaths(server).size(), 30u);
}

// ---------------------------------------------------------------------------------------------

TEST(OfficialClientJar, WhichJarIsCheckedFollowsTheCoreNameAndNeedsAClientDownload) {
    TestHttpServer server;
    GameFolder kept;
    WriteFile(kept.Official("1.20.1"), "anything");
    ProgressLog progress;
    std::string error;

    // No downloads.client, or one without a sha1: the jar is not even looked at.
    EXPECT_TRUE(EnsureOfficialClientJar(kept.dir, {{"id", "1.20.1-forge-47.2.0"}},
                                        progress.Callable(), error));
    EXPECT_TRUE(
        EnsureOfficialClientJar(kept.dir,
                                {{"id", "1.20.1-forge-47.2.0"},
                                 {"downloads", {{"client", {{"url", server.Url("/c.jar")}}}}}},
                                progress.Callable(), error));
    EXPECT_TRUE(EnsureOfficialClientJar(kept.dir, json::array(), progress.Callable(), error));
    EXPECT_EQ(ReadFile(kept.Official("1.20.1")), "anything");

    // A core without a Forge marker and no official jar anywhere: nothing to check.
    GameFolder bare;
    EXPECT_TRUE(EnsureOfficialClientJar(
        bare.dir, {{"id", "1.20.1"}, {"downloads", ClientDownload(server.Url("/c.jar"), kAbcSha1)}},
        progress.Callable(), error));
    EXPECT_FALSE(fs::exists(bare.root / "libraries"));

    EXPECT_TRUE(progress.Take().empty());
    EXPECT_TRUE(SortedPaths(server).empty());
    EXPECT_FALSE(fs::exists(fs::path(kept.Official("1.20.1")).concat(".badsha1.bak")));

    server.Serve("/c.jar", TestReply::Ok(kAbc));
    const json downloads = ClientDownload(server.Url("/c.jar"), kAbcSha1);
    // "_forge" in capitals: the text before it names the game version; a missing jar is fetched.
    {
        GameFolder game;
        ASSERT_TRUE(EnsureOfficialClientJar(game.dir,
                                            {{"id", "1.12.2_FORGE_14"}, {"downloads", downloads}},
                                            progress.Callable(), error))
            << error;
        EXPECT_EQ(ReadFile(game.Official("1.12.2")), kAbc);
        EXPECT_EQ(progress.Take(), (Reports{{10, "原版客户端不完整，正在从国内镜像补齐…"},
                                            {100, "原版客户端已补齐"}}));
    }
    // No marker: only the official jar of the core's own version is checked and repaired; the
    // jar of another version (or of a core without an id) is never touched.
    {
        GameFolder game;
        WriteFile(game.Official("1.19.4"), "wrong");
        ASSERT_TRUE(EnsureOfficialClientJar(game.dir, {{"id", "1.19.4"}, {"downloads", downloads}},
                                            progress.Callable(), error))
            << error;
        EXPECT_EQ(ReadFile(game.Official("1.19.4")), kAbc);
        EXPECT_EQ(ReadFile(fs::path(game.Official("1.19.4")).concat(".badsha1.bak")), "wrong");
        progress.Take();
    }
    for (const json& versionJson :
         {json{{"id", "MyPack"}, {"downloads", downloads}}, json{{"id", "1.20.1"}, {"downloads", downloads}},
          json{{"downloads", downloads}}}) {
        GameFolder game;
        WriteFile(game.Official("1.19.4"), "another version's jar");
        ASSERT_TRUE(EnsureOfficialClientJar(game.dir, versionJson, progress.Callable(), error))
            << error;
        EXPECT_EQ(ReadFile(game.Official("1.19.4")), "another version's jar");
        EXPECT_FALSE(fs::exists(fs::path(game.Official("1.19.4")).concat(".badsha1.bak")));
        EXPECT_TRUE(progress.Take().empty());
    }
    // A correct jar is only hashed.
    {
        GameFolder game;
        WriteFile(game.Official("1.20.1"), kAbc);
        server.ClearLog();
        ASSERT_TRUE(EnsureOfficialClientJar(game.dir,
                                            {{"id", "1.20.1-forge-1"}, {"downloads", downloads}},
                                            progress.Callable(), error));
        EXPECT_EQ(progress.Take(), (Reports{{100, "原版客户端已就绪"}}));
        EXPECT_TRUE(SortedPaths(server).empty());
    }
}

TEST(OfficialClientJar, EmptyJarIsFetchedWithoutBackupAndFailuresKeepTheBackup) {
    TestHttpServer server;
    const std::string id = "1.20.1-forge-47.2.0";
    ProgressLog progress;
    std::string error;

    // An empty jar is simply fetched again.
    {
        GameFolder game;
        server.Serve("/good.jar", TestReply::Ok(kAbc));
        WriteFile(game.Official("1.20.1"), "");
        ASSERT_TRUE(EnsureOfficialClientJar(
            game.dir,
            {{"id", id}, {"downloads", ClientDownload(server.Url("/good.jar"), kAbcSha1)}},
            progress.Callable(), error))
            << error;
        EXPECT_EQ(ReadFile(game.Official("1.20.1")), kAbc);
        EXPECT_FALSE(fs::exists(fs::path(game.Official("1.20.1")).concat(".badsha1.bak")));
        progress.Take();
    }
    // The download fails: the engine's message inside the hint, the damaged jar kept as backup.
    {
        GameFolder game;
        WriteFile(game.Official("1.20.1"), "damaged");
        const std::string url = server.Url("/gone.jar");
        EXPECT_FALSE(EnsureOfficialClientJar(
            game.dir, {{"id", id}, {"downloads", ClientDownload(url, kAbcSha1)}},
            progress.Callable(), error));
        EXPECT_EQ(error, std::string("原版客户端下载失败（下载返回状态 404 ") + url +
                             kOfficialJarDownloadHint);
        EXPECT_TRUE(std::string(kOfficialJarDownloadHint).starts_with("）。"));
        EXPECT_EQ(ReadFile(fs::path(game.Official("1.20.1")).concat(".badsha1.bak")), "damaged");
        EXPECT_FALSE(fs::exists(game.Official("1.20.1")));
        EXPECT_EQ(progress.Take(), (Reports{{10, "原版客户端不完整，正在从国内镜像补齐…"}}));
    }
    // The download is wrong too: it stays in place, and the completion stops.
    {
        GameFolder game;
        server.Serve("/other.jar", TestReply::Ok("not the client"));
        WriteFile(game.Official("1.20.1"), "damaged");
        game.WriteVersion(
            id, {{"id", id},
                 {"downloads", ClientDownload(server.Url("/other.jar"), kAbcSha1)},
                 {"libraries",
                  json::array({Library("a:b:1", "a/b/1/b-1.jar", server.Url("/never.jar"))})}});
        server.ClearLog();
        EXPECT_FALSE(CompleteGameFiles(game.dir, id, progress.Callable(), error));
        EXPECT_EQ(error, "原版客户端下载后校验仍不一致，已停止以保证安全");
        EXPECT_EQ(ReadFile(game.Official("1.20.1")), "not the client");
        EXPECT_EQ(ReadFile(fs::path(game.Official("1.20.1")).concat(".badsha1.bak")), "damaged");
        EXPECT_EQ(server.CountOf("/never.jar"), 0);
        EXPECT_EQ(progress.Take(), (Reports{{10, "原版客户端不完整，正在从国内镜像补齐…"}}));
    }
    // An expected SHA-1 in capitals never matches the lower-case digest.
    {
        GameFolder game;
        WriteFile(game.Official("1.20.1"), kAbc);
        std::string upper = kAbcSha1;
        for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        EXPECT_FALSE(EnsureOfficialClientJar(
            game.dir, {{"id", id}, {"downloads", ClientDownload(server.Url("/good.jar"), upper)}},
            progress.Callable(), error));
        EXPECT_EQ(error, "原版客户端下载后校验仍不一致，已停止以保证安全");
    }
}

// ---------------------------------------------------------------------------------------------

// The mirror and the official asset host both live on the loopback server.
Endpoints LoopbackEndpoints(const TestHttpServer& server) {
    return LoadEndpoints([&](const char* name) -> std::optional<std::string> {
        const std::string variable = name;
        if (variable == "LUMIVALE_MIRROR_BASE") return server.Url("/mirror/");
        if (variable == "LUMIVALE_OFFICIAL_ASSETS_BASE") return server.Url("/official-assets/");
        return std::nullopt;
    });
}

std::string Hash(char first, char second) {
    return std::string{first, second} + std::string(38, '0');
}

TEST(AssetCompletion, IndexAndMissingObjectsAreFetchedEachHashOnce) {
    TestHttpServer server;
    GameFolder game;
    const Endpoints endpoints = LoopbackEndpoints(server);
    const std::string shared = Hash('a', 'a');
    const std::string single = Hash('b', 'b');
    const std::string present = Hash('c', 'c');
    const std::string unavailable = Hash('d', 'd');
    const json index = {{"objects",
                         {{"minecraft/sounds/a.ogg", {{"hash", shared}, {"size", 1}}},
                          {"minecraft/sounds/b.ogg", {{"hash", shared}, {"size", 1}}},
                          {"minecraft/lang/x.json", {{"hash", single}, {"size", 1}}},
                          {"icons/icon.png", {{"hash", present}, {"size", 1}}},
                          {"short", {{"hash", "e"}, {"size", 1}}},
                          {"climbing", {{"hash", "../../../../evil"}, {"size", 1}}},
                          {"nohash", {{"size", 1}}},
                          {"missing", {{"hash", unavailable}, {"size", 1}}}}}};
    server.Serve("/indexes/5.json", TestReply::Ok(index.dump()));
    server.Serve("/official-assets/aa/" + shared, TestReply::Ok("shared"));
    server.Serve("/official-assets/bb/" + single, TestReply::Ok("single"));
    WriteFile(game.root / "assets/objects/cc" / present, "already here");
    const json versionJson = {
        {"assetIndex", {{"id", "5"}, {"url", server.Url("/indexes/5.json")}}}};

    ProgressLog progress;
    std::string error;
    testing::internal::CaptureStdout();
    const bool completed =
        CompleteAssets(game.dir, versionJson, progress.Callable(), error, nullptr, endpoints);
    const std::string console = testing::internal::GetCapturedStdout();
    ASSERT_TRUE(completed) << error;
    EXPECT_TRUE(Contains(console, "[Lumivale] 资源对象下载失败（继续）：" + unavailable +
                                      " -> 下载返回状态 404 " +
                                      server.Url("/official-assets/dd/" + unavailable) + "\n"))
        << console;
    EXPECT_TRUE(Contains(console, "[Lumivale] 资源文件并发下载完成：失败 1 个（已跳过）\n"))
        << console;
    EXPECT_EQ(progress.Take(), (Reports{{5, "正在下载资源索引…"},
                                        {10, "正在并发下载资源文件（约 3 个，64 线程）"},
                                        {100, "资源文件 3/3（失败 1）"},
                                        {100, "资源文件就绪"}}));
    EXPECT_EQ(ReadFile(game.root / "assets/indexes/5.json"), index.dump());
    EXPECT_EQ(ReadFile(game.root / "assets/objects/aa" / shared), "shared");
    EXPECT_EQ(ReadFile(game.root / "assets/objects/bb" / single), "single");
    EXPECT_EQ(ReadFile(game.root / "assets/objects/cc" / present), "already here");
    EXPECT_FALSE(fs::exists(game.root / "assets/objects/dd" / unavailable));
    EXPECT_EQ(server.CountOf("/indexes/5.json"), 1);
    EXPECT_EQ(server.CountOf("/official-assets/aa/" + shared), 1);
    EXPECT_EQ(server.CountOf("/official-assets/bb/" + single), 1);
    EXPECT_GE(server.CountOf("/official-assets/dd/" + unavailable), 1);
    EXPECT_EQ(server.CountOf("/official-assets/cc/" + present), 0);
    for (const std::string& path : SortedPaths(server)) {
        EXPECT_TRUE(path == "/indexes/5.json" || path.starts_with("/official-assets/aa/") ||
                    path.starts_with("/official-assets/bb/") ||
                    path.starts_with("/official-assets/dd/"))
            << path;
    }
    EXPECT_FALSE(fs::exists(game.root.parent_path().parent_path() / "evil"));
}

TEST(AssetCompletion, TheIndexOnDiskIsUsedAsItIsAndTheMirrorServesOneWithoutUrl) {
    TestHttpServer server;
    const Endpoints endpoints = LoopbackEndpoints(server);
    ProgressLog progress;
    std::string error;

    // A stored index is not fetched again, even when the server has another one.
    {
        GameFolder game;
        const std::string old = Hash('f', 'f');
        const std::string stored = json{{"objects", {{"old", {{"hash", old}}}}}}.dump();
        WriteFile(game.root / "assets/indexes/5.json", stored);
        server.Serve("/indexes/5.json", TestReply::Ok(json{{"objects", json::object()}}.dump()));
        server.Serve("/official-assets/ff/" + old, TestReply::Ok("old object"));
        ASSERT_TRUE(CompleteAssets(
            game.dir, {{"assetIndex", {{"id", "5"}, {"url", server.Url("/indexes/5.json")}}}},
            progress.Callable(), error, nullptr, endpoints));
        EXPECT_EQ(ReadFile(game.root / "assets/indexes/5.json"), stored);
        EXPECT_EQ(ReadFile(game.root / "assets/objects/ff" / old), "old object");
        EXPECT_EQ(server.CountOf("/indexes/5.json"), 0);
        EXPECT_EQ(progress.Take(), (Reports{{10, "正在并发下载资源文件（约 1 个，64 线程）"},
                                            {100, "资源文件 1/1"},
                                            {100, "资源文件就绪"}}));
    }
    // Without a url the index comes from the mirror.
    {
        GameFolder game;
        server.Serve("/mirror/assets/indexes/legacy.json", TestReply::Ok(R"({"objects":{}})"));
        ASSERT_TRUE(CompleteAssets(game.dir, {{"assetIndex", {{"id", "legacy"}}}},
                                   progress.Callable(), error, nullptr, endpoints));
        EXPECT_EQ(server.CountOf("/mirror/assets/indexes/legacy.json"), 1);
        EXPECT_EQ(ReadFile(game.root / "assets/indexes/legacy.json"), R"({"objects":{}})");
        EXPECT_EQ(progress.Take(), (Reports{{5, "正在下载资源索引…"},
                                            {10, "正在并发下载资源文件（约 0 个，64 线程）"},
                                            {100, "资源文件就绪"}}));
    }
    // Nothing to do: no assetIndex, an empty id, an unreadable index or one without objects.
    {
        GameFolder game;
        server.ClearLog();
        WriteFile(game.root / "assets/indexes/broken.json", "not json");
        WriteFile(game.root / "assets/indexes/bare.json", R"({"map_to_resources":true})");
        EXPECT_TRUE(CompleteAssets(game.dir, {{"id", "x"}}, progress.Callable(), error, nullptr,
                                   endpoints));
        EXPECT_TRUE(CompleteAssets(game.dir,
                                   {{"assetIndex", {{"id", ""}, {"url", server.Url("/x.json")}}}},
                                   progress.Callable(), error, nullptr, endpoints));
        EXPECT_TRUE(CompleteAssets(game.dir, {{"assetIndex", {{"url", server.Url("/x.json")}}}},
                                   progress.Callable(), error, nullptr, endpoints));
        EXPECT_TRUE(CompleteAssets(game.dir, {{"assetIndex", {{"id", "broken"}}}},
                                   progress.Callable(), error, nullptr, endpoints));
        EXPECT_TRUE(CompleteAssets(game.dir, {{"assetIndex", {{"id", "bare"}}}},
                                   progress.Callable(), error, nullptr, endpoints));
        EXPECT_TRUE(progress.Take().empty());
        EXPECT_TRUE(SortedPaths(server).empty());
    }
    // The index cannot be fetched: the only failure of the asset step.
    {
        GameFolder game;
        const std::string url = server.Url("/indexes/none.json");
        EXPECT_FALSE(CompleteAssets(game.dir, {{"assetIndex", {{"id", "none"}, {"url", url}}}},
                                    progress.Callable(), error, nullptr, endpoints));
        EXPECT_EQ(error, "资源索引下载失败：下载返回状态 404 " + url);
        EXPECT_EQ(progress.Take(), (Reports{{5, "正在下载资源索引…"}}));
    }
}

TEST(AssetCompletion, ProgressComesEveryHundredObjects) {
    TestHttpServer server;
    GameFolder game;
    json objects = json::object();
    for (int i = 0; i < 250; ++i) {
        char digits[41];
        std::snprintf(digits, sizeof digits, "%040x", i + 0x1000);
        const std::string hash = digits;
        objects["object" + std::to_string(i)] = {{"hash", hash}};
        server.Serve("/official-assets/" + hash.substr(0, 2) + "/" + hash,
                     TestReply::Ok("o" + std::to_string(i)));
    }
    WriteFile(game.root / "assets/indexes/big.json", json{{"objects", objects}}.dump());

    ProgressLog progress;
    std::string error;
    ASSERT_TRUE(CompleteAssets(game.dir, {{"assetIndex", {{"id", "big"}}}}, progress.Callable(),
                               error, nullptr, LoopbackEndpoints(server)));
    EXPECT_EQ(progress.Take(), (Reports{{10, "正在并发下载资源文件（约 250 个，64 线程）"},
                                        {46, "资源文件 100/250"},
                                        {82, "资源文件 200/250"},
                                        {100, "资源文件 250/250"},
                                        {100, "资源文件就绪"}}));
    EXPECT_EQ(SortedPaths(server).size(), 250u);
    EXPECT_EQ(ReadFile(game.root / "assets/objects/00/00000000000000000000000000000000000010f9"),
              "o249");
}

// ---------------------------------------------------------------------------------------------

TEST(ModpackFiles, LibrariesAllowedHereAreFetchedAndFailuresOnlyCounted) {
    TestHttpServer server;
    GameFolder game;
    server.Serve("/libs/a.jar", TestReply::Ok("a"));
    server.Serve("/libs/f.jar", TestReply::Ok("f"));
    server.Serve("/libs/b.jar", TestReply::Ok("newer b"));
    server.Serve("/libs/d.jar", TestReply::Ok("d"));
    server.Serve("/libs/f-natives.jar", TestReply::Ok("natives"));
    WriteFile(game.Library("x/b/1/b-1.jar"), "kept b");
    json denied = Library("x:d:1", "x/d/1/d-1.jar", server.Url("/libs/d.jar"));
    denied["rules"] =
        json::array({{{"action", "disallow"}, {"os", {{"name", kOsName}}}}, {{"action", "allow"}}});
    const json natives = Artifact("x/e/1/e-1-natives.jar", server.Url("/libs/f-natives.jar"));
    json nativesOnly = {{"name", "x:e:1"},
                        {"natives", {{kOsName, kNativesClassifier}}},
                        {"downloads", {{"classifiers", {{kNativesClassifier, natives}}}}}};
    json both = Library("x:f:1", "x/f/1/f-1.jar", server.Url("/libs/f.jar"));
    both["natives"] = {{kOsName, kNativesClassifier}};
    both["downloads"]["classifiers"] = {{kNativesClassifier, natives}};
    const json vanilla = {
        {"libraries", json::array({Library("x:a:1", "x/a/1/a-1.jar", server.Url("/libs/a.jar")),
                                   Library("x:b:1", "x/b/1/b-1.jar", server.Url("/libs/b.jar")),
                                   Library("x:c:1", "x/c/1/c-1.jar", server.Url("/libs/c.jar")),
                                   denied, nativesOnly, both})}};

    ProgressLog progress;
    testing::internal::CaptureStdout();
    CompleteModpackLibraries(game.dir, vanilla, progress.ModpackCallable());
    const std::string console = testing::internal::GetCapturedStdout();
    EXPECT_TRUE(
        Contains(console, "[Lumivale] 依赖库下载失败（跳过）：" + server.Url("/libs/c.jar") + "\n"))
        << console;
    EXPECT_EQ(progress.Take(),
              (Reports{{100, "2/7 依赖库 3/3（失败 1）"}, {100, "2/7 依赖库就绪"}}));
    EXPECT_EQ(ReadFile(game.Library("x/a/1/a-1.jar")), "a");
    EXPECT_EQ(ReadFile(game.Library("x/f/1/f-1.jar")), "f");
    EXPECT_EQ(ReadFile(game.Library("x/b/1/b-1.jar")), "kept b");
    EXPECT_FALSE(fs::exists(game.Library("x/d/1/d-1.jar")));
    EXPECT_FALSE(fs::exists(game.Library("x/e/1/e-1-natives.jar")));
    EXPECT_EQ(server.CountOf("/libs/d.jar"), 0);
    EXPECT_EQ(server.CountOf("/libs/f-natives.jar"), 0);
    EXPECT_GE(server.CountOf("/libs/c.jar"), 1);

    // All present: only the closing report.
    server.ClearLog();
    CompleteModpackLibraries(game.dir, {{"libraries", json::array({vanilla["libraries"][0]})}},
                             progress.ModpackCallable());
    EXPECT_EQ(progress.Take(), (Reports{{100, "2/7 依赖库就绪"}}));
    EXPECT_TRUE(SortedPaths(server).empty());
}

TEST(ModpackFiles, ClientJarIsFetchedCheckedAndCopiedAsTheOfficialJar) {
    TestHttpServer server;
    server.Serve("/client.jar", TestReply::Ok(kAbc));
    server.Serve("/wrong.jar", TestReply::Ok("wrong"));
    const json vanilla = {{"downloads", ClientDownload(server.Url("/client.jar"), kAbcSha1)}};
    ProgressLog progress;
    std::string error;

    GameFolder game;
    const fs::path folder = game.root / "versions" / "My Pack";
    const fs::path jar = folder / "My Pack.jar";

    // Fetched into the version folder and copied as the official jar of the game version.
    ASSERT_TRUE(EnsureModpackClientJar(game.dir, vanilla, PathUtf8(folder), "1.20.1",
                                       progress.ModpackCallable(), error))
        << error;
    EXPECT_EQ(ReadFile(jar), kAbc);
    EXPECT_EQ(ReadFile(game.Official("1.20.1")), kAbc);
    EXPECT_EQ(progress.Take(), (Reports{{0, "4/7 正在下载游戏核心…"}, {100, "4/7 游戏核心就绪"}}));
    EXPECT_EQ(server.CountOf("/client.jar"), 1);

    // A jar in place that matches is kept; the official copy is written again.
    fs::remove(game.Official("1.20.1"));
    server.ClearLog();
    testing::internal::CaptureStdout();
    bool done = EnsureModpackClientJar(game.dir, vanilla, PathUtf8(folder) + "/", "1.20.1",
                                       progress.ModpackCallable(), error);
    std::string console = testing::internal::GetCapturedStdout();
    ASSERT_TRUE(done) << error;
    EXPECT_TRUE(Contains(console, "[Lumivale] 游戏核心已存在且校验通过，跳过下载\n")) << console;
    EXPECT_EQ(progress.Take(), (Reports{{0, "4/7 正在下载游戏核心…"},
                                        {60, "4/7 游戏核心已存在，跳过下载"},
                                        {100, "4/7 游戏核心就绪"}}));
    EXPECT_TRUE(SortedPaths(server).empty());
    EXPECT_EQ(ReadFile(game.Official("1.20.1")), kAbc);

    // Without a SHA-1 any jar in place is kept.
    WriteFile(jar, "modded");
    ASSERT_TRUE(EnsureModpackClientJar(
        game.dir, {{"downloads", {{"client", {{"url", server.Url("/client.jar")}}}}}},
        PathUtf8(folder), "1.20.1", progress.ModpackCallable(), error));
    EXPECT_EQ(ReadFile(jar), "modded");
    EXPECT_TRUE(SortedPaths(server).empty());
    progress.Take();

    // A damaged jar in place is fetched again.
    testing::internal::CaptureStdout();
    done = EnsureModpackClientJar(game.dir, vanilla, PathUtf8(folder), "1.20.1",
                                  progress.ModpackCallable(), error);
    console = testing::internal::GetCapturedStdout();
    ASSERT_TRUE(done) << error;
    EXPECT_TRUE(Contains(console, "[Lumivale] 本地游戏核心 sha1 不符，判定损坏，重新下载\n"))
        << console;
    EXPECT_EQ(ReadFile(jar), kAbc);
    EXPECT_EQ(ReadFile(game.Official("1.20.1")), kAbc);
    EXPECT_EQ(server.CountOf("/client.jar"), 1);
    EXPECT_EQ(progress.Take(), (Reports{{0, "4/7 正在下载游戏核心…"}, {100, "4/7 游戏核心就绪"}}));
}

TEST(ModpackFiles, ClientJarFailuresSayWhatWentWrong) {
    TestHttpServer server;
    server.Serve("/wrong.jar", TestReply::Ok("wrong"));
    GameFolder game;
    const std::string folder = PathUtf8(game.root / "versions" / "Pack");
    ProgressLog progress;
    std::string error;
    EXPECT_FALSE(EnsureModpackClientJar(game.dir,
                                        {{"downloads", {{"client", {{"sha1", kAbcSha1}}}}}}, folder,
                                        "1.20.1", progress.ModpackCallable(), error));
    EXPECT_EQ(error, "原版版本信息缺少客户端下载地址");
    EXPECT_EQ(progress.Take(), (Reports{{0, "4/7 正在下载游戏核心…"}}));

    const std::string gone = server.Url("/gone.jar");
    EXPECT_FALSE(EnsureModpackClientJar(game.dir, {{"downloads", ClientDownload(gone, kAbcSha1)}},
                                        folder, "1.20.1", progress.ModpackCallable(), error));
    EXPECT_EQ(error, "原版客户端下载失败（下载返回状态 404 " + gone + "）");

    EXPECT_FALSE(EnsureModpackClientJar(
        game.dir, {{"downloads", ClientDownload(server.Url("/wrong.jar"), kAbcSha1)}}, folder,
        "1.20.1", progress.ModpackCallable(), error));
    EXPECT_EQ(error, "原版客户端校验失败（sha1 不符）");
    EXPECT_FALSE(fs::exists(game.Official("1.20.1")));
    EXPECT_EQ(progress.Take(),
              (Reports{{0, "4/7 正在下载游戏核心…"}, {0, "4/7 正在下载游戏核心…"}}));
}

}  // namespace
}  // namespace lumivale::test
