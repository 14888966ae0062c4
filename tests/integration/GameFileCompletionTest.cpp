// Completing a core's files from a loopback server: libraries, the official jar, escaping names, stops, failures.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <optional>
#include <regex>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "DownloadEngine.h"
#include "DownloadTally.h"
#include "GameFileCompletion.h"
#include "Paths.h"
#include "Platform.h"
#include "TempHome.h"
#include "TestHttpServer.h"
#include "TestJava.h"

namespace lumivale::test {
namespace {

namespace fs = std::filesystem;
using json = nlohmann::json;
using Reports = std::vector<std::pair<int, std::string>>;

constexpr const char* kAbc = "abc";
constexpr const char* kAbcSha1 = "a9993e364706816aba3e25717850c26c9cd0d89d";
const Reports kJarFetched{{10, "原版客户端不完整，正在从国内镜像补齐…"}, {100, "原版客户端已补齐"}};

// Progress reports (pool threads send theirs one at a time), the speed taken off (it depends on the
// clock); the modpack's as "<step>/<count> <text>".
struct ProgressLog {
    Reports reports;
    CompletionProgress Callable() {
        return [this](int percent, const std::string& text) {
            reports.emplace_back(percent, std::regex_replace(text, std::regex(" · [0-9.]+ [KM]B/s$"), ""));
        };
    }
    ModpackProgress ModpackCallable() {
        return [this](int step, int count, int percent, const std::string& text) {
            reports.emplace_back(percent, std::to_string(step) + "/" + std::to_string(count) + " " + text);
        };
    }
    Reports Take() { return std::exchange(reports, {}); }
};

// A game folder inside a fresh temporary home.
struct GameFolder {
    TempHome home;
    fs::path root = home.program() / ".minecraft";
    std::string dir = PathUtf8(root);
    fs::path Official(const std::string& version) const {
        return root / "libraries/net/minecraft/client" / version / ("client-" + version + "-official.jar");
    }
    fs::path Backup(const std::string& version) const { return fs::path(Official(version)).concat(".badsha1.bak"); }
    void WriteVersion(const std::string& id, const json& versionJson) const {
        WriteFile(root / "versions" / id / (id + ".json"), versionJson.dump());
    }
};

json Artifact(const std::string& path, const std::string& url) { return {{"path", path}, {"url", url}}; }
json Library(const std::string& name, const std::string& path, const std::string& url) {
    return {{"name", name}, {"downloads", {{"artifact", Artifact(path, url)}}}};
}
json ClientDownload(const std::string& url) { return {{"client", {{"url", url}, {"sha1", kAbcSha1}}}}; }

// `count` libraries x/<i>.jar served as "jar <i>", except the ones in `missing`.
json PlainLibraries(TestHttpServer& server, int count, std::vector<int> missing = {}) {
    json libraries = json::array();
    for (int i = 0; i < count; ++i) {
        const std::string n = std::to_string(i);
        if (std::find(missing.begin(), missing.end(), i) == missing.end()) server.Serve("/libs/" + n, TestReply::Ok("jar " + n));
        libraries.push_back(Library("x:lib" + n + ":1", "x/" + n + ".jar", server.Url("/libs/" + n)));
    }
    return libraries;
}

TEST(LibraryCompletion, BothFlowsFetchWhatIsMissingForThisSystemAndNothingOutsideTheFolder) {
    TestHttpServer server;
    // Plain, present, natives, coordinates-only; never fetched: unreadable rules, a path leaving the folder.
    json libraries = PlainLibraries(server, 10);
    const std::string classifier = platform_constants::kNativesClassifier;
    json natives = Library("x:native:1", "x/native.jar", server.Url("/libs/plain-native"));
    natives["natives"] = {{platform_constants::kOsName, classifier}};
    natives["downloads"]["classifiers"] = {{classifier, Artifact("x/native-" + classifier + ".jar", server.Url("/libs/natives"))}};
    json oddRules = Library("x:odd:1", "x/odd.jar", server.Url("/libs/odd"));
    oddRules["rules"] = json::array({{{"action", 5}}});
    libraries.insert(libraries.end(), {Library("x:present:1", "x/present.jar", server.Url("/libs/present")), natives, oddRules,
                                       Library("x:escape:1", "../../escape.jar", server.Url("/libs/escape")),
                                       json{{"name", "x:bare:1"}, {"url", server.Url("/maven")}}});
    server.Serve("/maven/x/bare/1/bare-1.jar", TestReply::Ok("bare"));
    for (const char* path : {"present", "natives", "plain-native", "odd", "escape"}) {
        server.Serve(std::string("/libs/") + path, TestReply::Ok(path));
    }
    const auto expectInPlace = [&](const GameFolder& game, const char* notFetched) {
        for (int i = 0; i < 10; ++i) EXPECT_EQ(ReadFile(game.root / "libraries/x" / (std::to_string(i) + ".jar")), "jar " + std::to_string(i));
        EXPECT_EQ(ReadFile(game.root / "libraries/x/present.jar"), "kept");
        for (const char* path : {"/libs/present", "/libs/odd", "/libs/escape", notFetched}) EXPECT_EQ(server.CountOf(path), 0) << path;
        EXPECT_FALSE(fs::exists(game.root / "escape.jar") || fs::exists(game.root.parent_path() / "escape.jar"));
    };

    GameFolder game;
    WriteFile(game.root / "libraries/x/present.jar", "kept");
    game.WriteVersion("plain", {{"id", "plain"}, {"libraries", libraries}});
    ProgressLog progress;
    std::string error;
    ASSERT_TRUE(CompleteGameFiles(game.dir, "plain", progress.Callable(), error)) << error;
    EXPECT_EQ(progress.Take(), (Reports{{0, "正在下载 13 个缺少的游戏文件…"}, {76, "已完成 10/13 · 剩余 3"},
                                        {100, "已完成 13/13 · 剩余 0"}, {100, "游戏文件已就绪"}}));
    EXPECT_EQ(ReadFile(game.root / "libraries/x" / ("native-" + classifier + ".jar")) + ReadFile(game.root / "libraries/x/native.jar") +
                  ReadFile(game.root / "libraries/x/bare/1/bare-1.jar"),
              "nativesplain-nativebare");
    expectInPlace(game, "/libs/none");

    // The modpack's step fetches artifacts only, and a failure is counted, never fatal.
    GameFolder pack;
    server.ClearLog();
    WriteFile(pack.root / "libraries/x/present.jar", "kept");
    libraries.push_back(Library("x:gone:1", "x/gone.jar", server.Url("/libs/gone")));
    CompleteModpackLibraries(pack.dir, {{"libraries", libraries}}, progress.ModpackCallable());
    const Reports reports = progress.Take();
    ASSERT_GE(reports.size(), 2u);
    EXPECT_EQ(Reports(reports.end() - 2, reports.end()), (Reports{{100, "2/7 依赖库 12/12（失败 1）"}, {100, "2/7 依赖库就绪"}}));
    EXPECT_EQ(ReadFile(pack.root / "libraries/x/native.jar"), "plain-native");
    expectInPlace(pack, "/libs/natives");
    EXPECT_EQ(server.CountOf("/maven/x/bare/1/bare-1.jar"), 0);
    EXPECT_FALSE(fs::exists(pack.root / "libraries/x/gone.jar"));
}

TEST(LibraryCompletion, AFailedLibraryFailsTheRunAfterTheOthersAndAStopEndsItAtOnce) {
    TestHttpServer server;
    GameFolder game;
    ProgressLog progress;
    std::string error;
    // Stopped once the library downloads were announced: nothing is fetched or reported after.
    game.WriteVersion("plain", {{"id", "plain"}, {"libraries", PlainLibraries(server, 3, {1})}});
    std::atomic<bool> stop{false};
    const CompletionProgress report = progress.Callable();
    const auto stopOnAnnouncement = [&](int percent, const std::string& text) {
        report(percent, text);
        stop = text.starts_with("正在下载 3 个");
    };
    EXPECT_FALSE(CompleteGameFiles(game.dir, "plain", stopOnAnnouncement, error, [&] { return stop.load(); }));
    EXPECT_EQ(error, kCompletionCancelledMessage);
    EXPECT_EQ(progress.Take(), (Reports{{0, "正在下载 3 个缺少的游戏文件…"}}));
    EXPECT_TRUE(server.Requests().empty());

    // Without a stop, the missing library fails the run once the others are in place: the failure
    // is counted apart from the successes and named with a cause the player can act on.
    EXPECT_FALSE(CompleteGameFiles(game.dir, "plain", progress.Callable(), error, [] { return false; }));
    EXPECT_EQ(error, std::string("1 个文件没能下载：x/1.jar。") + kServerCause);
    EXPECT_EQ(progress.Take(), (Reports{{0, "正在下载 3 个缺少的游戏文件…"}, {66, "已完成 2/3 · 失败 1 · 剩余 0"}}));
    EXPECT_EQ(ReadFile(game.root / "libraries/x/0.jar") + ReadFile(game.root / "libraries/x/2.jar"), "jar 0jar 2");
}

TEST(LibraryCompletion, ABodyUnlikeTheDeclaredOneIsRefusedAndAPresentFileOfAnotherSizeFetchedAgain) {
    const std::string body = "library!";
    struct Case {
        std::vector<TestReply> replies;
        std::optional<std::string> present;
        bool ok;
        std::string after;  // the file once the completion ran
    };
    const std::vector<Case> cases = {
        {{TestReply::Ok("libr"), TestReply::Ok(body)}, std::nullopt, true, body},  // cut short, then whole
        {{TestReply::Ok(body)}, "lib", true, body},                                 // present but shorter
        {{TestReply::Ok("never asked")}, "librarX!", true, "librarX!"},             // present at its size
        {{TestReply::Ok(body + "!")}, std::nullopt, false, ""},                     // longer than declared
        {{TestReply::Ok("librarX!")}, std::nullopt, false, ""}};                    // another SHA-1
    for (const Case& c : cases) {
        TestHttpServer server;
        server.ServeSequence("/lib.jar", c.replies);
        GameFolder game;
        if (c.present) WriteFile(game.root / "libraries/x/lib.jar", *c.present);
        json library = Library("x:lib:1", "x/lib.jar", server.Url("/lib.jar"));
        library["downloads"]["artifact"].update({{"sha1", Sha1OfBytes(body)}, {"size", body.size()}});
        game.WriteVersion("v", {{"id", "v"}, {"libraries", json::array({library})}});
        std::string error;
        EXPECT_EQ(CompleteGameFiles(game.dir, "v", nullptr, error), c.ok) << c.after;
        EXPECT_EQ(error, c.ok ? "" : std::string("1 个文件没能下载：x/lib.jar。") + kChecksumCause);
        EXPECT_EQ(fs::exists(game.root / "libraries/x/lib.jar") ? ReadFile(game.root / "libraries/x/lib.jar") : "", c.after);
    }
}

TEST(OfficialClientJar, OnlyTheJarOfTheCoresGameVersionIsCheckedRepairedAndKeptAsBackup) {
    TestHttpServer server;
    server.Serve("/c.jar", TestReply::Ok(kAbc));
    const json downloads = ClientDownload(server.Url("/c.jar"));
    ProgressLog progress;
    std::string error;
    // Nothing to check: no client sha1, or no jar of the core's own version (others never touched).
    for (const json& versionJson : {json{{"id", "1.19.4-forge-1"}, {"downloads", {{"client", {{"url", server.Url("/c.jar")}}}}}},
                                    json{{"id", "MyPack"}, {"downloads", downloads}}, json{{"id", "1.20.1"}, {"downloads", downloads}},
                                    json{{"downloads", downloads}}}) {
        GameFolder game;
        WriteFile(game.Official("1.19.4"), "another jar");
        ASSERT_TRUE(EnsureOfficialClientJar(game.dir, versionJson, progress.Callable(), error)) << versionJson;
        EXPECT_EQ(ReadFile(game.Official("1.19.4")), "another jar");
        EXPECT_FALSE(fs::exists(game.Backup("1.19.4")) || fs::exists(game.Official("1.20.1")));
    }
    EXPECT_TRUE(progress.Take().empty());
    EXPECT_TRUE(server.Requests().empty());

    // "_forge" (any case) or "clientVersion" names the game; a wrong jar becomes the backup, a right one is hashed.
    struct Case {
        const char* id;
        const char* version;
        std::optional<std::string> before;
        bool named = false;  // "clientVersion" in the JSON
    };
    for (const Case& c : {Case{"1.12.2_FORGE_14", "1.12.2", std::nullopt}, Case{"1.19.4", "1.19.4", "wrong"},
                          Case{"1.20.1-forge-2", "1.20.1", ""}, Case{"1.20.1-forge-1", "1.20.1", kAbc},
                          Case{"My Pack", "1.20.2", "wrong", true}}) {
        GameFolder game;
        if (c.before) WriteFile(game.Official(c.version), *c.before);
        WriteFile(game.Backup(c.version), "older backup");
        server.ClearLog();
        json versionJson = {{"id", c.id}, {"downloads", downloads}};
        if (c.named) versionJson["clientVersion"] = c.version;
        ASSERT_TRUE(EnsureOfficialClientJar(game.dir, versionJson, progress.Callable(), error)) << error;
        EXPECT_EQ(ReadFile(game.Official(c.version)), kAbc) << c.id;
        const bool right = c.before == kAbc;
        EXPECT_EQ(progress.Take(), (right ? Reports{{100, "原版客户端已就绪"}} : kJarFetched)) << c.id;
        EXPECT_EQ(server.CountOf("/c.jar"), right ? 0 : 1) << c.id;
        EXPECT_EQ(ReadFile(game.Backup(c.version)), c.before == "wrong" ? "wrong" : "older backup") << c.id;
    }

    // A download of another SHA-1 is refused: the damaged jar stays as backup, the completion stops.
    server.Serve("/other.jar", TestReply::Ok("not the client"));
    GameFolder game;
    WriteFile(game.Official("1.20.1"), "damaged");
    game.WriteVersion("1.20.1-forge-3", {{"id", "1.20.1-forge-3"}, {"downloads", ClientDownload(server.Url("/other.jar"))},
                                         {"libraries", json::array({Library("a:b:1", "a/b.jar", server.Url("/never.jar"))})}});
    EXPECT_FALSE(CompleteGameFiles(game.dir, "1.20.1-forge-3", progress.Callable(), error));
    EXPECT_TRUE(error.starts_with(std::string("原版客户端下载失败（") + kDownloadMismatchMessage)) << error;
    EXPECT_EQ(ReadFile(game.Backup("1.20.1")), "damaged");
    EXPECT_FALSE(fs::exists(game.Official("1.20.1")));
    EXPECT_EQ(server.CountOf("/never.jar"), 0);
}

}  // namespace
}  // namespace lumivale::test
