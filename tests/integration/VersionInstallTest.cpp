// The version commands end to end: loopback mirror and loader hosts, a compiled Forge installer, each core started.
#include <gtest/gtest.h>

#include <array>
#include <future>
#include <map>
#include <set>

#include "FakeInstaller.h"
#include "HttpTransport.h"
#include "LaunchTestKit.h"
#include "TestHttpServer.h"
#include "TestJava.h"

namespace lumivale::test {
namespace {

using json = nlohmann::json;

std::string Loaders(const std::string& name) { return ReadFile(fs::path(LUMIVALE_TEST_DATA) / "loaders" / name); }

// The events of one command up to the first of a type in `last`, parsed.
struct Events {
    std::vector<json> all;
    const json& Last() const { return all.back(); }
    std::set<std::string> Phases() const {
        std::set<std::string> phases;
        for (const json& e : all) {
            if (e["type"] == "version:progress") phases.insert(e["phase"].get<std::string>());
        }
        return phases;
    }
};

Events Until(Subprocess& launcher, const std::set<std::string>& last) {
    Events events;
    while (auto line = launcher.ReadLine(std::chrono::seconds(60))) {
        events.all.push_back(json::parse(*line));
        if (last.contains(events.all.back()["type"].get<std::string>())) return events;
    }
    events.all.push_back({{"type", "nothing came"}});
    return events;
}

constexpr const char* kGameSource = R"(public class Game {
    public static void main(String[] args) {
        for (int i = 0; i + 1 < args.length; i++) if (args[i].equals("--version")) System.out.println("GAME " + args[i + 1]);
    }
})";
constexpr const char* kLoaderSource = R"(public class Loader {
    public static void main(String[] args) throws Exception {
        System.out.println("LOADER " + System.getProperty("loader.kind"));
        Game.main(args);
    }
})";

class VersionInstallTest : public GameFolder {
protected:
    void SetUp() override {
        if (!HasTestJdk()) GTEST_SKIP() << "no JDK 17 here";
        build_ = home_.root() / "build";
        ASSERT_TRUE(CompileJava(build_, {{"Game", kGameSource}, {"Loader", kLoaderSource}}));
        client_ = ZipBytes(build_ / "client.jar", {{"Game.class", ReadFile(build_ / "Game.class")}});
        loaderJar_ = ZipBytes(build_ / "loader.jar", {{"Loader.class", ReadFile(build_ / "Loader.class")}});
        loaders_.Serve("/maven/net/example/loader/1.0/loader-1.0.jar", TestReply::Ok(loaderJar_));
        WriteFile(home_.config(), "[launcher]\nselected_java=auto\nmemory_mb=256\ngc_preset=g1_std\n");
    }
    void TearDown() override { CloseHttpConnections(); }

    // A library the vanilla JSONs name, with its file on the mirror.
    json Library(const std::string& name, const std::string& path, const std::string& bytes, bool linuxOnly = false) {
        mirror_.Serve("/libraries/" + path, TestReply::Ok(bytes));
        json library = {{"name", name},
                        {"downloads", {{"artifact", {{"path", path}, {"url", official_.Url("/libraries/" + path)},
                                                     {"sha1", Sha1OfBytes(bytes)}, {"size", bytes.size()}}}}}};
        if (linuxOnly) library["rules"] = {{{"action", "allow"}, {"os", {{"name", "linux"}}}}};
        return library;
    }

    // Version `id` on the mirror: `client` as its jar, a library, natives and `assets`; `corrupt` served damaged.
    void Publish(const std::string& id, const std::string& client, const std::map<std::string, std::string>& assets,
                 const std::string& corrupt = {}) {
        json objects = json::object();
        for (const auto& [name, bytes] : assets) {
            const std::string hash = Sha1OfBytes(bytes), path = "/assets/" + hash.substr(0, 2) + "/" + hash;
            objects[name] = {{"hash", hash}, {"size", bytes.size()}};
            const std::string served = name == corrupt ? "X" + bytes.substr(1) : bytes;
            mirror_.Serve(path, TestReply::Ok(served));
            official_.Serve(path, TestReply::Ok(served));
        }
        const std::string index = json{{"objects", objects}}.dump(), indexSha = Sha1OfBytes(index);
        mirror_.Serve("/v1/packages/" + indexSha + "/index-" + id + ".json", TestReply::Ok(index));
        const std::string clientSha = Sha1OfBytes(client);
        mirror_.Serve("/v1/objects/" + clientSha + "/client.jar", TestReply::Ok(client));
        const json version = {
            {"id", id}, {"type", "release"}, {"mainClass", "Game"}, {"arguments", Fixture("1.20.1")["arguments"]},
            {"javaVersion", {{"majorVersion", 17}}},
            {"assetIndex", {{"id", "index-" + id}, {"sha1", indexSha}, {"size", index.size()},
                            {"url", official_.Url("/meta/v1/packages/" + indexSha + "/index-" + id + ".json")}}},
            {"downloads", {{"client", {{"sha1", clientSha}, {"size", client.size()},
                                       {"url", official_.Url("/data/v1/objects/" + clientSha + "/client.jar")}}}}},
            {"libraries", {Library("com.example:lib:1.0", "com/example/lib/1.0/lib-1.0.jar", ZipBytes(build_ / "lib.jar", {{"lib.txt", "library"}})),
                           Library("com.example:native:1.0:natives-linux", "com/example/native/1.0/native-1.0-natives-linux.jar",
                                   ZipBytes(build_ / "natives.jar", {{"libnative.so", "native"}}), true)}}};
        const std::string text = version.dump(), sha = Sha1OfBytes(text);
        mirror_.Serve("/v1/packages/" + sha + "/" + id + ".json", TestReply::Ok(text));
        manifest_["versions"].push_back({{"id", id}, {"type", "release"}, {"releaseTime", "2023-06-12T13:25:51+00:00"},
                                         {"url", official_.Url("/meta/v1/packages/" + sha + "/" + id + ".json")}, {"sha1", sha}});
        mirror_.Serve("/mc/game/version_manifest_v2.json", TestReply::Ok(manifest_.dump()));
    }

    // A Fabric/Quilt profile: the loader by coordinates and a Maven base, with checksums when `withSha1`.
    json Profile(const std::string& kind, bool withSha1) const {
        json library = {{"name", "net.example:loader:1.0"}, {"url", loaders_.Url("/maven/")}};
        if (withSha1) library.update({{"sha1", Sha1OfBytes(loaderJar_)}, {"size", loaderJar_.size()}});
        return {{"id", kind + "-loader-1.20.1"}, {"inheritsFrom", "1.20.1"}, {"type", "release"}, {"mainClass", "Loader"},
                {"arguments", {{"game", json::array()}, {"jvm", {"-Dloader.kind=" + kind}}}}, {"libraries", {library}}};
    }

    std::unique_ptr<Subprocess> Start() {
        Strings env = {"JAVA_HOME=" + std::string(kTestJdk), "LUMIVALE_MIRROR_BASE=" + mirror_.Url("/"),
                       "LUMIVALE_FABRIC_META_BASE=" + loaders_.Url("/fabric/"), "LUMIVALE_QUILT_META_BASE=" + loaders_.Url("/quilt/"),
                       "LUMIVALE_NEOFORGE_MAVEN_BASE=" + loaders_.Url("/neo/"), "LUMIVALE_LITTLESKIN_BASE=http://127.0.0.1:9",
                       "LUMIVALE_AUTHLIB_INJECTOR_BASE=http://127.0.0.1:9/"};
        for (const std::string name : {"DATA", "LIBRARIES", "META", "ASSETS", "MAVEN"}) {
            std::string lower = name;
            for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            env.push_back("LUMIVALE_OFFICIAL_" + name + "_BASE=" + official_.Url("/" + lower + "/"));
        }
        return StartHeadless(home_, env);
    }

    static void Install(Subprocess& launcher, const std::string& id, const std::string& loader, const std::string& loaderVersion,
                        const std::string& name) {
        launcher.Send(json{{"type", "version:install"}, {"id", id}, {"loader", loader}, {"loaderVersion", loaderVersion}, {"name", name}}.dump());
    }

    TestHttpServer mirror_, official_, loaders_;
    fs::path build_;
    std::string client_, loaderJar_;
    json manifest_ = {{"latest", {{"release", "1.20.1"}, {"snapshot", "1.20.1"}}}, {"versions", json::array()}};
};

TEST_F(VersionInstallTest, ListsLoadersAndInstallsVanillaFabricQuiltAndForgeThatAllStart) {
    auto launcher = Start();
    // No source and no copy yet: an empty list that says why.
    mirror_.Serve("/mc/game/version_manifest_v2.json", TestReply::Status(500));
    launcher->Send(R"({"type":"version:list"})");
    json list = json::parse(NextOfType(*launcher, "version:list"));
    EXPECT_EQ(list["items"], json::array());
    EXPECT_TRUE(list["error"].get<std::string>().starts_with("无法获取版本列表")) << list;

    const std::map<std::string, std::string> assets = {{"minecraft/lang/a.json", "asset one"}, {"icons/b.png", "asset two"}};
    Publish("1.20.1", client_, assets);
    launcher->Send(R"({"type":"version:list"})");
    EXPECT_EQ(json::parse(NextOfType(*launcher, "version:list")),
              json::parse(R"({"type":"version:list","latest":{"release":"1.20.1","snapshot":"1.20.1"},)"
                          R"("items":[{"id":"1.20.1","type":"release","releaseTime":"2023-06-12T13:25:51+00:00","installed":false}]})"));

    // Fabric and Forge lists from the mirror, Quilt from its host, NeoForge from its Maven when the mirror has none.
    mirror_.Serve("/fabric-meta/v2/versions/loader/1.20.1", TestReply::Ok(R"([{"loader":{"version":"0.16.0"}},{"loader":{"version":"0.15.11"}}])"));
    loaders_.Serve("/quilt/v3/versions/loader/1.20.1", TestReply::Ok(R"([{"loader":{"version":"0.26.0"}}])"));
    mirror_.Serve("/forge/minecraft/1.20.1", TestReply::Ok(R"([{"version":"47.1.0","branch":null},{"version":"47.2.0","branch":null}])"));
    loaders_.Serve("/neo/net/neoforged/forge/maven-metadata.xml",
                   TestReply::Ok("<metadata><versioning><versions><version>47.1.82</version><version>1.20.1-47.1.106</version>"
                                 "</versions></versioning></metadata>"));
    launcher->Send(R"({"type":"version:loaders","id":"1.20.1"})");
    EXPECT_EQ(json::parse(NextOfType(*launcher, "version:loaders")),
              json::parse(R"({"type":"version:loaders","id":"1.20.1","fabric":["0.16.0","0.15.11"],"quilt":["0.26.0"],)"
                          R"("forge":["47.2.0","47.1.0"],"neoforge":["1.20.1-47.1.106","47.1.82"]})"));
    // Another game: Fabric and Forge from their hosts, NeoForge from the mirror; a failing Quilt list alone is empty.
    loaders_.Serve("/fabric/v2/versions/loader/1.20.2", TestReply::Ok(Loaders("fabric-v2-versions-loader-1.14.json")));
    loaders_.Serve("/quilt/v3/versions/loader/1.20.2", TestReply::Status(500));
    official_.Serve("/maven/net/minecraftforge/forge/maven-metadata.xml", TestReply::Ok(Loaders("forge-maven-metadata.xml")));
    mirror_.Serve("/neoforge/list/1.20.2", TestReply::Ok(R"([{"version":"neoforge-20.2.3-beta"}])"));
    launcher->Send(R"({"type":"version:loaders","id":"1.20.2"})");
    EXPECT_EQ(json::parse(NextOfType(*launcher, "version:loaders")),
              json::parse(R"({"type":"version:loaders","id":"1.20.2","fabric":["0.4.8+build.155","0.4.8+build.154"],"quilt":[],)"
                          R"("forge":[],"neoforge":["20.2.3-beta"]})"));

    // Fabric first: its vanilla parent 1.20.1 is installed with it.
    mirror_.Serve("/fabric-meta/v2/versions/loader/1.20.1/0.16.0/profile/json", TestReply::Ok(Profile("fabric", true).dump()));
    Install(*launcher, "1.20.1", "fabric", "0.16.0", "Fabric 1.20.1");
    Events events = Until(*launcher, {"version:done", "version:error"});
    ASSERT_EQ(events.Last(), json::parse(R"({"type":"version:done","name":"Fabric 1.20.1"})")) << events.Last();
    // The phase is the first unfinished step ("libraries" may never show against a loopback mirror).
    std::set<std::string> phases = events.Phases();
    phases.erase("libraries");
    EXPECT_EQ(phases, (std::set<std::string>{"json", "client", "assets", "loader"}));
    const json cores = json::parse(launcher->ReadLine().value_or("{}"));
    EXPECT_EQ(cores["type"], "sys:cores");
    EXPECT_NE(cores.dump().find(R"("name":"Fabric 1.20.1")"), std::string::npos) << cores;
    EXPECT_NE(cores.dump().find(R"("name":"1.20.1")"), std::string::npos) << cores;
    for (const auto& [name, bytes] : assets) {
        EXPECT_EQ(ReadFile(root() / "assets/objects" / Sha1OfBytes(bytes).substr(0, 2) / Sha1OfBytes(bytes)), bytes) << name;
    }
    EXPECT_EQ(ReadFile(root() / "versions/1.20.1/1.20.1.jar"), client_);
    EXPECT_EQ(ReadFile(lib("net/example/loader/1.0/loader-1.0.jar")), loaderJar_);
    const json fabric = json::parse(ReadFile(root() / "versions/Fabric 1.20.1/Fabric 1.20.1.json"));
    EXPECT_EQ(fabric["id"], "Fabric 1.20.1");
    EXPECT_EQ(fabric["inheritsFrom"], "1.20.1");
    for (const std::string& path : official_.RequestedPaths()) {  // the mirror served every file
        EXPECT_TRUE(path == "/meta/mc/game/version_manifest_v2.json" || path == "/maven/net/minecraftforge/forge/maven-metadata.xml") << path;
    }

    // Vanilla under a name of its own, Quilt and Forge on the parent that is there now.
    Install(*launcher, "1.20.1", "", "", "My Vanilla");
    EXPECT_EQ(Until(*launcher, {"version:done", "version:error"}).Last()["type"], "version:done");
    loaders_.Serve("/quilt/v3/versions/loader/1.20.1/0.26.0/profile/json", TestReply::Ok(Profile("quilt", false).dump()));
    Install(*launcher, "1.20.1", "quilt", "0.26.0", "Quilt 1.20.1");
    EXPECT_EQ(Until(*launcher, {"version:done", "version:error"}).Last()["type"], "version:done");
    const json forgeJson = {{"id", "1.20.1-forge-47.2.0"}, {"inheritsFrom", "1.20.1"}, {"mainClass", "Loader"},
                            {"arguments", {{"jvm", {"-Dloader.kind=forge"}}}},
                            {"libraries", {{{"name", "net.example:loader:1.0"},
                                            {"downloads", {{"artifact", {{"path", "net/example/loader/1.0/loader-1.0.jar"},
                                                                          {"url", loaders_.Url("/maven/net/example/loader/1.0/loader-1.0.jar")}}}}}}}}};
    mirror_.Serve("/maven/net/minecraftforge/forge/1.20.1-47.2.0/forge-1.20.1-47.2.0-installer.jar",
                  TestReply::Ok(FakeInstallerJar(build_ / "forge", "1.20.1-forge-47.2.0", "1.20.1", forgeJson.dump())));
    fs::remove(lib("net/example/loader/1.0/loader-1.0.jar"));  // left to the launcher by the installer
    Install(*launcher, "1.20.1", "forge", "47.2.0", "Forge 1.20.1");
    events = Until(*launcher, {"version:done", "version:error"});
    ASSERT_EQ(events.Last()["type"], "version:done") << events.Last();
    EXPECT_FALSE(fs::exists(root() / "versions/1.20.1-forge-47.2.0"));
    EXPECT_EQ(json::parse(ReadFile(root() / "versions/Forge 1.20.1/Forge 1.20.1.json"))["id"], "Forge 1.20.1");
    EXPECT_NE(ReadFile(home_.program() / "log/forge-install.log").find("installed 1.20.1-forge-47.2.0"), std::string::npos);

    // The list marks the installed game; each core starts with its loader.
    launcher->Send(R"({"type":"version:list"})");
    EXPECT_EQ(json::parse(NextOfType(*launcher, "version:list"))["items"][0]["installed"], true);
    for (const auto& [core, output] : std::vector<std::pair<std::string, std::string>>{
             {"1.20.1", "GAME 1.20.1\n"}, {"My Vanilla", "GAME My Vanilla\n"}, {"Fabric 1.20.1", "LOADER fabric\nGAME Fabric 1.20.1\n"},
             {"Quilt 1.20.1", "LOADER quilt\nGAME Quilt 1.20.1\n"}, {"Forge 1.20.1", "LOADER forge\nGAME Forge 1.20.1\n"}}) {
        EXPECT_EQ(LaunchAndReadGameOutput(*launcher, home_, root() / "versions" / core), output) << core;
    }
    EXPECT_TRUE(fs::exists(root() / "versions/1.20.1/natives_cache/1.20.1/libnative.so"));

    // Both list sources down: the copy kept from the last good answer, marked offline.
    mirror_.Serve("/mc/game/version_manifest_v2.json", TestReply::Status(500));
    launcher->Send(R"({"type":"version:list"})");
    list = json::parse(NextOfType(*launcher, "version:list"));
    EXPECT_EQ(list["offline"], true);
    EXPECT_EQ(list["items"].size(), 1u);
    launcher->CloseInput();
    EXPECT_EQ(launcher->Wait(), 0);
}

TEST_F(VersionInstallTest, AFailedOrCancelledInstallLeavesNothingAndAnExistingFolderStaysUntouched) {
    const std::string slowClient = client_ + std::string(64, ' ');  // another jar, another address
    Publish("1.20.1", client_, {{"a", "asset one"}});
    Publish("1.20.2", client_, {{"good", "asset two"}, {"bad", "asset three"}}, "bad");
    Publish("1.20.3", slowClient, {});
    // The player's own core of the name asked for.
    WriteFile(root() / "versions/Mine/Mine.json", R"({"id":"Mine","players":"own"})");
    auto launcher = Start();

    // A served object whose SHA-1 is not the index's fails the install and nothing of it stays.
    Install(*launcher, "1.20.2", "", "", "1.20.2");
    const std::string badHash = Sha1OfBytes("asset three");
    EXPECT_EQ(Until(*launcher, {"version:done", "version:error"}).Last(),
              (json{{"type", "version:error"}, {"name", "1.20.2"},
                    {"reason", "文件校验失败（SHA-1 与版本信息不符）：assets/objects/" + badHash.substr(0, 2) + "/" + badHash}}));
    EXPECT_FALSE(fs::exists(root() / "versions/1.20.2"));

    // A name that is taken, a name that is no folder name, a loader with the vanilla name.
    for (const auto& [request, reason] : std::vector<std::pair<std::array<std::string, 4>, std::string>>{
             {{"1.20.1", "", "", "Mine"}, "已存在同名版本，安装不会覆盖它：Mine"},
             {{"1.20.1", "", "", "../escape"}, "版本名称不能用作文件夹名：../escape"},
             {{"1.20.1", "fabric", "0.16.0", "1.20.1"}, "带加载器的版本不能与原版同名：1.20.1"},
             {{"1.20.1", "rift", "1.0", "Rift"}, "未知的加载器：rift"},
             {{"9.9", "", "", "9.9"}, "版本列表中没有这个版本：9.9"}}) {
        Install(*launcher, request[0], request[1], request[2], request[3]);
        EXPECT_EQ(Until(*launcher, {"version:done", "version:error"}).Last(),
                  (json{{"type", "version:error"}, {"name", request[3]}, {"reason", reason}}));
    }
    EXPECT_EQ(ReadFile(root() / "versions/Mine/Mine.json"), R"({"id":"Mine","players":"own"})");
    EXPECT_FALSE(fs::exists(root() / "versions/9.9"));
    EXPECT_FALSE(fs::exists(root().parent_path() / "escape"));

    // An install held at its client jar: a second one is refused, a cancel removes what it made.
    std::promise<void> gate;
    mirror_.Handle("/v1/objects/" + Sha1OfBytes(slowClient) + "/client.jar", [open = gate.get_future().share(), slowClient](const TestRequest&) {
        open.wait();
        return TestReply::Ok(slowClient);
    });
    Install(*launcher, "1.20.3", "", "", "Cancelled");
    Events events = Until(*launcher, {"version:progress"});
    while (events.Last()["phase"] != "client") events = Until(*launcher, {"version:progress"});
    Install(*launcher, "1.20.3", "", "", "Second");
    EXPECT_EQ(NextOfType(*launcher, "version:error"), R"({"type":"version:error","name":"Second","reason":"已有版本正在安装"})");
    // The jar stays held until the cancel is answered: the cancel ends the transfer in flight.
    launcher->Send(R"({"type":"version:cancel"})");
    EXPECT_EQ(NextOfType(*launcher, "version:error"), R"({"type":"version:error","name":"Cancelled","reason":"已取消安装"})");
    gate.set_value();
    EXPECT_FALSE(fs::exists(root() / "versions/Cancelled"));
    EXPECT_FALSE(fs::exists(root() / "versions/Second"));
    launcher->CloseInput();
    EXPECT_EQ(launcher->Wait(), 0);
}

}  // namespace
}  // namespace lumivale::test
