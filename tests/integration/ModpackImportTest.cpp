// "modpack:import" from end to end through the headless launcher: a pack zip built here, a
// loopback mirror with the vanilla JSON, libraries, assets, the client jar and a Forge installer
// (a small Java program compiled here that behaves like the real one), a loopback CurseForge API
// with its file host, and the reference backend with the store's mods and the CurseForge key.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <future>
#include <memory>
#include <mutex>
#include <regex>

#include <nlohmann/json.hpp>

#include "BackendServer.h"
#include "HttpTransport.h"
#include "Subprocess.h"
#include "TempHome.h"
#include "TestHttpServer.h"
#include "TestJava.h"
#include "ZipWriter.h"

namespace lumivale::test {
namespace {

namespace fs = std::filesystem;
using json = nlohmann::json;

constexpr const char* kVersion = "1.20.1";
constexpr const char* kForge = "47.2.0";
constexpr const char* kForgeId = "1.20.1-forge-47.2.0";
constexpr const char* kPack = "Test Pack";

constexpr const char* kGameSource = R"(public class Game {
    public static void main(String[] args) {
        System.out.println("GAME ARGS " + String.join(" ", args));
    }
}
)";

// Behaves like the Forge installer's client install: needs launcher_profiles.json and the
// vanilla version JSON, writes versions/<id>/<id>.json and .jar and a library, exits 0; in
// "fail" mode it writes a long log and exits 1.
constexpr const char* kInstallerSource = R"(import java.io.*;
import java.nio.file.*;
import java.util.Properties;
public class Installer {
    static InputStream resource(String name) { return Installer.class.getResourceAsStream("/" + name); }
    public static void main(String[] args) throws Exception {
        if (args.length != 2 || !args[0].equals("--installClient")) { System.err.println("usage"); System.exit(3); }
        Path game = Paths.get(args[1]);
        Properties p = new Properties();
        try (InputStream in = resource("install.properties")) { p.load(in); }
        if (p.getProperty("mode").equals("fail")) {
            for (int i = 0; i < 40; i++) System.out.println("installer line " + i + " ..........................................");
            System.err.println("FINAL WORDS OF THE INSTALLER");
            System.exit(1);
        }
        if (!Files.exists(game.resolve("launcher_profiles.json"))) { System.err.println("no profiles"); System.exit(2); }
        String parent = p.getProperty("parent");
        if (!Files.exists(game.resolve("versions").resolve(parent).resolve(parent + ".json"))) { System.err.println("no vanilla"); System.exit(4); }
        String id = p.getProperty("id");
        Path dir = game.resolve("versions").resolve(id);
        Files.createDirectories(dir);
        Files.copy(resource("version.json"), dir.resolve(id + ".json"), StandardCopyOption.REPLACE_EXISTING);
        Files.copy(resource("patched.jar"), dir.resolve(id + ".jar"), StandardCopyOption.REPLACE_EXISTING);
        Path lib = game.resolve(p.getProperty("library"));
        Files.createDirectories(lib.getParent());
        Files.copy(resource("library.jar"), lib, StandardCopyOption.REPLACE_EXISTING);
        System.out.println("installed " + id);
    }
}
)";

// Every regular file below `root` whose name is `name`.
std::vector<fs::path> FilesNamed(const fs::path& root, const std::string& name) {
    std::vector<fs::path> found;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        if (entry.path().filename() == name) found.push_back(entry.path());
    }
    return found;
}

struct Event {
    std::string type;
    json body;
};

class ModpackImportTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!HasTestJdk()) GTEST_SKIP() << "no JDK 17 here";
        gameDir_ = home_.program() / ".minecraft";
        build_ = home_.root() / "build";
        ASSERT_TRUE(CompileJava(build_, {{"Game", kGameSource}, {"Installer", kInstallerSource}}));

        // The vanilla client: the test game, large enough to count as a core.
        client_ = CoreJarBytes(build_ / "client.jar", ReadFile(build_ / "Game.class"), 1);
        mirror_.Serve("/v1/objects/client.jar", TestReply::Ok(client_));
        mirror_.Serve("/libraries/com/example/lib/1.0/lib-1.0.jar", TestReply::Ok("library one"));
        mirror_.Serve("/libraries/com/example/lib/2.0/lib-2.0.jar", TestReply::Ok("library two"));
        const json index = {{"objects",
                             {{"icons/a.png", {{"hash", Sha1OfBytes("asset a")}, {"size", 7}}},
                              {"lang/b.json", {{"hash", Sha1OfBytes("asset b")}, {"size", 7}}}}}};
        mirror_.Serve("/indexes/test.json", TestReply::Ok(index.dump()));
        for (const char* asset : {"asset a", "asset b"}) {
            const std::string hash = Sha1OfBytes(asset);
            mirror_.Serve("/assets/" + hash.substr(0, 2) + "/" + hash, TestReply::Ok(asset));
        }
        vanilla_ = {{"id", kVersion},
                    {"type", "release"},
                    {"time", "vanilla-time"},
                    {"releaseTime", "vanilla-release"},
                    {"mainClass", "net.minecraft.client.main.Main"},
                    {"minecraftArguments", "--username ${auth_player_name} --version ${version_name}"},
                    {"assetIndex", {{"id", "test"}, {"url", mirror_.Url("/indexes/test.json")}}},
                    {"downloads", {{"client", {{"sha1", Sha1OfBytes(client_)}, {"url", official_.Url("/data/v1/objects/client.jar")}}}}},
                    {"libraries", json::array({LibraryJson("1.0")})}};
        mirror_.Handle("/version/1.20.1/json", [this](const TestRequest&) {
            gate_.wait();
            return TestReply::Ok(vanilla_.dump());
        });
        Release();
        BuildInstaller("ok");
        WriteFile(home_.config(), "[launcher]\nselected_java=auto\nmemory_mb=256\n");
    }

    void TearDown() override {
        Release();
        CloseHttpConnections();
        if (backend_) backend_->Stop();
    }

    // The vanilla JSON waits for the test until it is released.
    void Hold() { gatePromise_ = std::make_unique<std::promise<void>>(); gate_ = gatePromise_->get_future().share(); }
    void Release() {
        if (gatePromise_) gatePromise_->set_value();
        gatePromise_.reset();
        if (!gate_.valid()) {
            std::promise<void> done;
            done.set_value();
            gate_ = done.get_future().share();
        }
    }

    json LibraryJson(const std::string& version) const {
        const std::string path = "com/example/lib/" + version + "/lib-" + version + ".jar";
        return {{"name", "com.example:lib:" + version},
                {"downloads", {{"artifact", {{"path", path}, {"url", official_.Url("/maven2/" + path)}}}}}};
    }

    void BuildInstaller(const std::string& mode) {
        const std::string library = "libraries/net/minecraftforge/forge/1.20.1-47.2.0/forge-1.20.1-47.2.0-universal.jar";
        const json version = {
            {"id", kForgeId},
            {"inheritsFrom", kVersion},
            {"time", "forge-time"},
            {"mainClass", "Game"},
            {"minecraftArguments", "--username ${auth_player_name} --version ${version_name} --tweakClass forge"},
            {"libraries", json::array({LibraryJson("2.0"),
                                       {{"name", "net.minecraftforge:forge:1.20.1-47.2.0:universal"},
                                        {"downloads", {{"artifact", {{"path", library.substr(10)}, {"url", ""}}}}}}})}};
        patched_ = ZipBytes(build_ / "patched.jar", {{"Game.class", ReadFile(build_ / "Game.class")},
                                                     {"forge-patched.txt", "patched"},
                                                     {"padding.bin", RandomBytes(11u << 20, 2)}});
        const std::string installer = ZipBytes(
            build_ / "installer.jar",
            {{"META-INF/MANIFEST.MF", "Manifest-Version: 1.0\r\nMain-Class: Installer\r\n\r\n"},
             {"Installer.class", ReadFile(build_ / "Installer.class")},
             {"install.properties", "mode=" + mode + "\nid=" + kForgeId + "\nparent=" + kVersion + "\nlibrary=" + library + "\n"},
             {"version.json", version.dump()},
             {"patched.jar", patched_},
             {"library.jar", ZipBytes(build_ / "library.jar", {{"forge.txt", "forge"}})}});
        mirror_.Serve("/maven/net/minecraftforge/forge/1.20.1-47.2.0/forge-1.20.1-47.2.0-installer.jar",
                      TestReply::Ok(installer));
    }

    // The reference backend with two store mods and the CurseForge key, set up by its own tool.
    void StartBackend() {
        const fs::path database = home_.root() / "backend.sqlite";
        const fs::path tool = fs::path(LUMIVALE_EXE).parent_path() / "lumivale-backend";
        const auto run = [&](std::vector<std::string> args) {
            args.insert(args.begin(), {"--db", database.string()});
            Subprocess process(tool.string(), args);
            process.CloseInput();
            return process.Wait();
        };
        ASSERT_EQ(run({"add-mod", "3003", "3004", "pack.zip", curseForge_.Url("/cdn/pack.zip"), "resourcepack"}), 0);
        ASSERT_EQ(run({"add-mod", "4004", "4005", "store-mod.jar", curseForge_.Url("/cdn/store-mod.jar")}), 0);
        ASSERT_EQ(run({"set-curseforge-key", "cf-test-key"}), 0);
        backend_ = std::make_unique<backend::BackendServer>(database);
        ASSERT_TRUE(backend_->Start("127.0.0.1", 0));
    }

    // The CurseForge API stand-in: answers only with the key the backend handed out.
    void ServeCurseForge() {
        const auto file = [this](std::string body) {
            return [body = std::move(body)](const TestRequest& request) {
                if (request.Header("x-api-key") != "cf-test-key") return TestReply::Status(403, "{}");
                return TestReply::Ok(body);
            };
        };
        curseForge_.Handle("/v1/mods/1001/files/1002",
                           file(R"({"data":{"id":1002,"fileName":"jei.jar","downloadUrl":")" +
                                curseForge_.Url("/cdn/jei.jar") + R"("}})"));
        curseForge_.Handle("/v1/mods/1001", file(R"({"data":{"id":1001,"classId":6,"name":"JEI"}})"));
        curseForge_.Handle("/v1/mods/2002/files/2003",
                           file(R"({"data":{"fileName":"shader.zip","classId": 6552 ,"downloadUrl":")" +
                                curseForge_.Url("/cdn/shader.zip") + R"("}})"));
        curseForge_.Handle("/v1/mods/3003/files/3004", file(R"({"data":{"fileName":"pack.zip","downloadUrl":""}})"));
        curseForge_.Handle("/v1/mods/4004/files/4005",
                           file(R"({"data":{"fileName":"gone.jar","classId":6,"downloadUrl":")" +
                                curseForge_.Url("/cdn/gone.jar") + R"("}})"));
        curseForge_.Handle("/v1/mods/6006/files/6007",
                           file(R"({"data":{"fileName":"../evil.jar","classId":6,"downloadUrl":")" +
                                curseForge_.Url("/cdn/evil.jar") + R"("}})"));
        for (const char* name : {"jei.jar", "shader.zip", "pack.zip", "store-mod.jar", "evil.jar"}) {
            curseForge_.Serve(std::string("/cdn/") + name, TestReply::Ok(std::string("content of ") + name));
        }
    }

    fs::path WritePack(const std::string& name, const json& manifest,
                       std::vector<std::pair<std::string, std::string>> extra = {}) {
        extra.insert(extra.begin(), {"manifest.json", manifest.dump()});
        const fs::path zip = home_.root() / "packs" / name;
        WriteZip(zip, extra);
        return zip;
    }

    std::unique_ptr<Subprocess> Start() {
        std::vector<std::string> env{"XDG_DATA_HOME=" + home_.data().string(),
                                     "JAVA_HOME=" + std::string(kTestJdk),
                                     "LUMIVALE_MIRROR_BASE=" + mirror_.Url("/"),
                                     "LUMIVALE_OFFICIAL_DATA_BASE=" + official_.Url("/data/"),
                                     "LUMIVALE_OFFICIAL_LIBRARIES_BASE=" + official_.Url("/maven2/"),
                                     "LUMIVALE_OFFICIAL_META_BASE=" + official_.Url("/meta/"),
                                     "LUMIVALE_OFFICIAL_ASSETS_BASE=" + official_.Url("/assets/"),
                                     "LUMIVALE_OFFICIAL_MAVEN_BASE=" + official_.Url("/forge/"),
                                     "LUMIVALE_CURSEFORGE_API_BASE=" + curseForge_.base()};
        env.push_back("LUMIVALE_BACKEND_BASE=" + (backend_ ? "http://127.0.0.1:" + std::to_string(backend_->Port())
                                                           : official_.Url("/no-backend")));
        return std::make_unique<Subprocess>(
            LUMIVALE_EXE, std::vector<std::string>{"--headless", "--home", home_.program().string()}, env);
    }

    static void Import(Subprocess& launcher, const fs::path& zip) {
        launcher.Send(json{{"type", "modpack:import"}, {"zip", zip.string()}}.dump());
    }

    // Events up to and including the first of a type in `last`.
    static std::vector<Event> EventsUntil(Subprocess& launcher, std::vector<std::string> last) {
        std::vector<Event> events;
        while (auto line = launcher.ReadLine(std::chrono::seconds(120))) {
            json body = json::parse(*line, nullptr, false);
            if (!body.is_object()) continue;
            events.push_back({body.value("type", ""), body});
            if (std::find(last.begin(), last.end(), events.back().type) != last.end()) break;
        }
        return events;
    }

    static std::vector<std::string> Statuses(const std::vector<Event>& events) {
        std::vector<std::string> statuses;
        for (const Event& e : events) {
            if (e.type == "modpack:progress") statuses.push_back(e.body["status"]);
        }
        return statuses;
    }

    // The statuses among `events` that are in `wanted`, in order.
    static std::vector<std::string> Milestones(const std::vector<Event>& events, const std::vector<std::string>& wanted) {
        std::vector<std::string> found;
        for (const std::string& s : Statuses(events)) {
            if (std::find(wanted.begin(), wanted.end(), s) != wanted.end()) found.push_back(s);
        }
        return found;
    }

    static std::string Reason(const std::vector<Event>& events) {
        return events.empty() || events.back().type != "modpack:error" ? "<no error>"
                                                                        : events.back().body["reason"].get<std::string>();
    }

    TempHome home_;
    TestHttpServer mirror_;
    TestHttpServer official_;
    TestHttpServer curseForge_;
    std::unique_ptr<backend::BackendServer> backend_;
    std::unique_ptr<std::promise<void>> gatePromise_;
    std::shared_future<void> gate_;
    json vanilla_;
    fs::path gameDir_;
    fs::path build_;
    std::string client_;
    std::string patched_;
};

TEST_F(ModpackImportTest, ForgePackWithModsBecomesACoreThatLaunches) {
    StartBackend();
    ServeCurseForge();
    const json manifest = {
        {"minecraft", {{"version", kVersion}, {"modLoaders", {{{"id", "forge-47.2.0"}, {"primary", true}}}}}},
        {"name", kPack},
        {"overrides", "overrides"},
        {"files", {{{"projectID", 1001}, {"fileID", 1002}},
                   {{"projectID", "2002"}, {"fileID", "2003"}},
                   {{"projectID", 3003}, {"fileID", 3004}},
                   {{"projectID", 4004}, {"fileID", 4005}},
                   {{"projectID", 5005}, {"fileID", 5006}},
                   {{"projectID", 6006}, {"fileID", 6007}},
                   {{"required", true}}}}};
    const fs::path zip = WritePack("pack.zip", manifest,
                                   {{"overrides/config/", ""},
                                    {"overrides/config/a.cfg", "config a"},
                                    {"overrides/config\\b.cfg", "config b"},
                                    {"overrides/../../x.txt", "escaped"},
                                    {"overrides/..\\..\\y.txt", "escaped"},
                                    {"/abs-evil.txt", "escaped"},
                                    {"other/ignored.txt", "not an override"}});
    // A folder an earlier import left beside the core, and the player's launcher profiles.
    WriteFile(gameDir_ / "versions" / "Test Packkubejs" / "startup.js", "legacy");
    WriteFile(gameDir_ / "launcher_profiles.json", R"({"profiles":{"other":{"lastVersionId":"1.19"}}})");

    auto launcher = Start();
    Hold();  // the first import waits at the vanilla JSON while a second one is refused
    Import(*launcher, zip);
    Import(*launcher, zip);
    std::vector<Event> busy = EventsUntil(*launcher, {"modpack:error"});
    EXPECT_EQ(Reason(busy), "已有整合包正在导入中");
    Release();
    std::vector<Event> events = EventsUntil(*launcher, {"modpack:done", "modpack:error"});
    events.insert(events.begin(), busy.begin(), busy.end() - 1);
    ASSERT_EQ(events.back().type, "modpack:done") << events.back().body.dump() << "\n" << launcher->Stderr();

    const std::vector<std::string> milestones{
        "正在解析整合包清单…", "整合包：Test Pack / MC 1.20.1", "正在获取版本信息…", "正在并发下载依赖库…",
        "依赖库就绪", "正在下载资源文件…", "资源文件就绪", "正在下载游戏核心…", "游戏核心就绪",
        "正在解压整合包文件…", "整合包文件就绪", "正在安装 Forge…", "正在静默安装 Forge（需要 Java）…",
        "Forge 安装完成", "正在并发准备 Mod / 资源包…",
        "Mod/资源包就绪(直链 4 个，S3 1 个，跳过 0 个，缺 1 个)", "导入完成：Test Pack"};
    EXPECT_EQ(Milestones(events, milestones), milestones) << ::testing::PrintToString(Statuses(events));
    int lastStep = 0;
    for (const Event& e : events) {
        if (e.type != "modpack:progress") continue;
        EXPECT_EQ(e.body["total"], 7);
        EXPECT_GE(e.body["step"].get<int>(), lastStep) << e.body.dump();
        lastStep = e.body["step"];
    }
    ASSERT_GE(events.size(), 2u);
    EXPECT_EQ(events[events.size() - 2].type, "sys:cores");
    EXPECT_NE(events[events.size() - 2].body.dump().find("Test Pack"), std::string::npos);
    EXPECT_EQ(events.back().body, json::parse(R"({"type":"modpack:done","total":7,"direct":4,"s3":1,"skipped":0,"failed":1})"));

    // The core: merged JSON, patched jar, overrides, mods in their folders.
    const fs::path core = gameDir_ / "versions" / kPack;
    const json merged = json::parse(ReadFile(core / "Test Pack.json"));
    EXPECT_EQ(merged["id"], kPack);
    EXPECT_FALSE(merged.contains("inheritsFrom"));
    EXPECT_EQ(merged["mainClass"], "Game");
    EXPECT_EQ(merged["time"], "vanilla-time");
    EXPECT_EQ(merged["clientVersion"], kVersion);  // the core's game version for the Java choice
    EXPECT_EQ(merged["assetIndex"]["id"], "test");
    ASSERT_EQ(merged["libraries"].size(), 2u);
    EXPECT_EQ(merged["libraries"][0]["name"], "com.example:lib:2.0");  // in the vanilla library's place
    EXPECT_NE(ReadFile(core / "Test Pack.json").find("\n  \"assetIndex\": {\n    \"id\""), std::string::npos);
    EXPECT_EQ(ReadFile(core / "Test Pack.jar"), patched_);
    EXPECT_EQ(ReadFile(core / "config" / "a.cfg"), "config a");
    EXPECT_EQ(ReadFile(core / "config" / "b.cfg"), "config b");
    EXPECT_EQ(ReadFile(core / "kubejs" / "startup.js"), "legacy");
    EXPECT_FALSE(fs::exists(gameDir_ / "versions" / "Test Packkubejs"));
    EXPECT_EQ(ReadFile(core / "mods" / "jei.jar"), "content of jei.jar");
    EXPECT_EQ(ReadFile(core / "shaderpacks" / "shader.zip"), "content of shader.zip");
    EXPECT_EQ(ReadFile(core / "resourcepacks" / "pack.zip"), "content of pack.zip");
    EXPECT_EQ(ReadFile(core / "mods" / "store-mod.jar"), "content of store-mod.jar");
    EXPECT_EQ(ReadFile(core / "mods" / "mod-6006-6007.jar"), "content of evil.jar");
    EXPECT_EQ(curseForge_.CountOf("/cdn/gone.jar"), 2);
    EXPECT_EQ(curseForge_.CountOf("/v1/mods/1001"), 1);   // class looked up once
    EXPECT_EQ(curseForge_.CountOf("/v1/mods/2002"), 0);   // class in the file answer
    for (const char* name : {"x.txt", "y.txt", "abs-evil.txt", "evil.jar", "ignored.txt"}) {
        EXPECT_EQ(FilesNamed(home_.root(), name), std::vector<fs::path>{}) << name;
    }
    EXPECT_FALSE(fs::exists("/abs-evil.txt"));

    // Forge's traces: profiles, the installer folder, the vanilla folder, the log and the cache.
    const json profiles = json::parse(ReadFile(gameDir_ / "launcher_profiles.json"));
    EXPECT_EQ(profiles["profiles"]["other"]["lastVersionId"], kPack);
    EXPECT_FALSE(fs::exists(gameDir_ / "versions" / kForgeId));
    EXPECT_FALSE(fs::exists(gameDir_ / "versions" / kVersion));
    EXPECT_TRUE(fs::exists(gameDir_ / "libraries/net/minecraftforge/forge/1.20.1-47.2.0/forge-1.20.1-47.2.0-universal.jar"));
    EXPECT_NE(ReadFile(home_.program() / "log" / "forge-install.log").find("installed 1.20.1-forge-47.2.0"), std::string::npos);
    EXPECT_TRUE(fs::exists(home_.program() / "cache" / "mp_1.20.1.json"));
    EXPECT_TRUE(fs::exists(home_.program() / "cache" / "forge-1.20.1-47.2.0-installer.jar"));
    EXPECT_EQ(ReadFile(gameDir_ / "libraries/com/example/lib/1.0/lib-1.0.jar"), "library one");
    EXPECT_EQ(ReadFile(gameDir_ / "libraries/net/minecraft/client/1.20.1/client-1.20.1-official.jar"), client_);

    // The same pack again: the vanilla JSON is fetched anew, the rest is found in place.
    Import(*launcher, zip);
    events = EventsUntil(*launcher, {"modpack:done", "modpack:error"});
    ASSERT_EQ(events.back().type, "modpack:done") << events.back().body.dump();
    EXPECT_EQ(events.back().body, json::parse(R"({"type":"modpack:done","total":7,"direct":0,"s3":0,"skipped":5,"failed":1})"));
    EXPECT_EQ(mirror_.CountOf("/version/1.20.1/json"), 2);
    EXPECT_EQ(mirror_.CountOf("/libraries/com/example/lib/1.0/lib-1.0.jar"), 1);
    EXPECT_EQ(mirror_.CountOf("/indexes/test.json"), 1);
    EXPECT_EQ(mirror_.CountOf("/maven/net/minecraftforge/forge/1.20.1-47.2.0/forge-1.20.1-47.2.0-installer.jar"), 1);
    const auto again = Statuses(events);
    EXPECT_NE(std::find(again.begin(), again.end(), "Forge 安装包已缓存，跳过下载"), again.end());
    EXPECT_EQ(ReadFile(core / "Test Pack.jar"), patched_);

    // The new core launches the test game with Forge's main class and arguments.
    launcher->Send(R"({"type":"game:launch"})");
    const auto launch = EventsUntil(*launcher, {"game:stopped", "game:error"});
    ASSERT_EQ(launch.back().type, "game:stopped") << launch.back().body.dump();
    const std::string log = ReadFile(home_.program() / "log" / "MC启动诊断.log");
    EXPECT_NE(log.find("GAME ARGS --username"), std::string::npos) << log;
    EXPECT_NE(log.find("--tweakClass forge"), std::string::npos) << log;
    EXPECT_EQ(ReadFile(gameDir_ / "libraries/com/example/lib/2.0/lib-2.0.jar"), "library two");

    launcher->CloseInput();
    EXPECT_EQ(launcher->Wait(), 0);
}

TEST_F(ModpackImportTest, FailuresSayWhyAndLeaveThePlayersCoreAlone) {
    BuildInstaller("fail");
    // The player's own core of the pack's game version.
    WriteFile(gameDir_ / "versions" / kVersion / "1.20.1.json", R"({"id":"1.20.1","players":"own"})");
    WriteFile(gameDir_ / "versions" / kVersion / "1.20.1.jar", "the player's jar");
    const json forgePack = {{"minecraft", {{"version", kVersion}, {"modLoaders", {{{"id", "forge-47.2.0"}}}}}},
                            {"name", "Forge Pack"}};
    const json unknownVersion = {{"minecraft", {{"version", "9.9.9"}}}, {"name", "Future"}};
    const json evilName = {{"minecraft", {{"version", kVersion}}}, {"name", "../evil"}};

    auto launcher = Start();
    launcher->Send(R"({"type":"modpack:browse"})");
    const json pick = json::parse(launcher->ReadLine().value_or("{}"));
    EXPECT_EQ(pick, json::parse(R"({"type":"host:pick","kind":"file","title":"选择整合包 zip 文件"})"));
    launcher->Send(json{{"type", "host:picked"}, {"path", "/packs/\"quoted\" pack.zip"}}.dump());
    EXPECT_EQ(launcher->ReadLine().value_or(""), R"({"type":"modpack:selected","path":"/packs/\"quoted\" pack.zip"})");
    launcher->Send(R"({"type":"modpack:browse"})");
    launcher->ReadLine();
    launcher->Send(R"({"type":"host:picked","path":""})");  // cancelled: nothing
    launcher->Send(R"({"type":"modpack:import","zip":""})");  // no file: nothing
    launcher->Send(R"({"type":"sys:init"})");
    EXPECT_TRUE(launcher->ReadLine().value_or("").starts_with(R"({"type":"sys:java")"));
    EventsUntil(*launcher, {"sys:memory"});

    Import(*launcher, WritePack("forge.zip", forgePack));
    auto events = EventsUntil(*launcher, {"modpack:done", "modpack:error"});
    const std::string log = (home_.program() / "log" / "forge-install.log").string();
    EXPECT_EQ(Reason(events), "Forge 安装失败：Forge 安装程序返回退出码 1（详见日志 " + log +
                                  "）。常见原因：Java 版本不匹配、网络不通或 jar 文件损坏");
    EXPECT_NE(ReadFile(log).find("FINAL WORDS OF THE INSTALLER"), std::string::npos);
    EXPECT_EQ(ReadFile(gameDir_ / "launcher_profiles.json"),
              R"({"profiles":{},"selectedProfile":"","clientToken":"","launcherVersion":{"format":1,"profilesFormat":2},"settings":{}})");
    EXPECT_EQ(ReadFile(gameDir_ / "versions" / kVersion / "1.20.1.jar"), "the player's jar");
    EXPECT_EQ(ReadFile(gameDir_ / "versions" / kVersion / "1.20.1.json"), R"({"id":"1.20.1","players":"own"})");
    EXPECT_TRUE(fs::exists(gameDir_ / "versions" / "Forge Pack" / "Forge Pack.jar"));  // kept for a retry

    // The same pack succeeding later still leaves the player's core where it was.
    BuildInstaller("ok");
    fs::remove(home_.program() / "cache" / "forge-1.20.1-47.2.0-installer.jar");
    Import(*launcher, WritePack("forge.zip", forgePack));
    events = EventsUntil(*launcher, {"modpack:done", "modpack:error"});
    EXPECT_EQ(events.back().type, "modpack:done") << events.back().body.dump();
    const auto statuses = Statuses(events);
    EXPECT_NE(std::find(statuses.begin(), statuses.end(), "无需下载 Mod"), statuses.end());
    EXPECT_EQ(ReadFile(gameDir_ / "versions" / kVersion / "1.20.1.jar"), "the player's jar");

    Import(*launcher, WritePack("future.zip", unknownVersion));
    events = EventsUntil(*launcher, {"modpack:done", "modpack:error"});
    EXPECT_TRUE(Reason(events).starts_with("原版版本信息下载失败（")) << Reason(events);
    EXPECT_FALSE(fs::exists(gameDir_ / "versions" / "9.9.9"));

    const auto before = FilesNamed(home_.root(), "evil");
    Import(*launcher, WritePack("evil.zip", evilName, {{"overrides/a.txt", "a"}}));
    events = EventsUntil(*launcher, {"modpack:done", "modpack:error"});
    EXPECT_EQ(Reason(events), "整合包名称无法用作文件夹名：../evil");
    EXPECT_FALSE(fs::exists(gameDir_ / "evil"));
    EXPECT_EQ(FilesNamed(home_.root(), "evil"), before);

    WriteZip(home_.root() / "packs" / "empty.zip", {{"readme.txt", "no manifest"}});
    Import(*launcher, home_.root() / "packs" / "empty.zip");
    events = EventsUntil(*launcher, {"modpack:done", "modpack:error"});
    EXPECT_EQ(Reason(events), "zip 内找不到 manifest.json");

    launcher->CloseInput();
    EXPECT_EQ(launcher->Wait(), 0);
    EXPECT_NE(launcher->Stderr().find("日志摘要："), std::string::npos);
    EXPECT_EQ(launcher->Stderr().find("installer line 0 "), std::string::npos);  // only the tail
}

TEST_F(ModpackImportTest, ModrinthPackChecksEveryFileAndRefusesOtherLoaders) {
    const std::string good = "a good mod";
    const std::string bad = "tampered bytes";
    official_.Serve("/cdn/good.jar", TestReply::Ok(good));
    official_.Serve("/cdn/bad.jar", TestReply::Ok(bad));
    official_.Serve("/cdn/pack.zip", TestReply::Ok("resource pack"));
    official_.Serve("/cdn/escape.jar", TestReply::Ok("escaped"));
    official_.Serve("/cdn/server.jar", TestReply::Ok("server only"));
    const auto file = [&](const std::string& path, const std::string& url, const std::string& sha1,
                          const std::string& client = "required") {
        return json{{"path", path}, {"downloads", {official_.Url(url), "https://unused.invalid/"}},
                    {"env", {{"client", client}, {"server", "required"}}},
                    {"hashes", {{"sha1", sha1}, {"sha512", "ignored"}}}, {"fileSize", 1}};
    };
    json index = json::parse(ReadFile(fs::path(LUMIVALE_TEST_DATA) / "modpacks/modrinth.index.json"));
    index["name"] = "Rinth Pack";
    index["dependencies"] = {{"minecraft", kVersion}};
    index["files"] = {file("mods/good.jar", "/cdn/good.jar", Sha1OfBytes(good)),
                      file("mods/bad.jar", "/cdn/bad.jar", Sha1OfBytes("what the index promised")),
                      file("resourcepacks/pack.zip", "/cdn/pack.zip", Sha1OfBytes("resource pack")),
                      file("../../escape.jar", "/cdn/escape.jar", Sha1OfBytes("escaped")),
                      file("mods/server.jar", "/cdn/server.jar", Sha1OfBytes("server only"), "unsupported")};
    const fs::path pack = home_.root() / "packs" / "rinth.mrpack";
    WriteZip(pack, {{"modrinth.index.json", index.dump()},
                    {"overrides/config/common.cfg", "common"},
                    {"client-overrides/config/common.cfg", "client"},
                    {"client-overrides/options.txt", "options"}});
    const fs::path fabric = home_.root() / "packs" / "fabric.mrpack";
    WriteZip(fabric, {{"modrinth.index.json", ReadFile(fs::path(LUMIVALE_TEST_DATA) / "modpacks/modrinth.index.json")}});

    auto launcher = Start();
    launcher->Send(json{{"type", "modpack:drop"}, {"path", fabric.string()}}.dump());
    auto events = EventsUntil(*launcher, {"modpack:done", "modpack:error"});
    EXPECT_EQ(Reason(events), "暂不支持该整合包的加载器：fabric-loader");
    EXPECT_FALSE(fs::exists(gameDir_ / "versions" / "The 128MB Pack"));

    launcher->Send(json{{"type", "modpack:drop"}, {"path", pack.string()}}.dump());
    events = EventsUntil(*launcher, {"modpack:done", "modpack:error"});
    ASSERT_EQ(events.back().type, "modpack:done") << events.back().body.dump();
    EXPECT_EQ(events.back().body, json::parse(R"({"type":"modpack:done","total":4,"direct":2,"s3":0,"skipped":0,"failed":2})"));
    const fs::path core = gameDir_ / "versions" / "Rinth Pack";
    EXPECT_EQ(ReadFile(core / "mods" / "good.jar"), good);
    EXPECT_FALSE(fs::exists(core / "mods" / "bad.jar"));
    EXPECT_FALSE(fs::exists(core / "mods" / "bad.jar.download"));
    EXPECT_FALSE(fs::exists(core / "mods" / "server.jar"));
    EXPECT_EQ(ReadFile(core / "resourcepacks" / "pack.zip"), "resource pack");
    EXPECT_EQ(ReadFile(core / "config" / "common.cfg"), "client");  // client overrides come last
    EXPECT_EQ(ReadFile(core / "options.txt"), "options");
    EXPECT_EQ(json::parse(ReadFile(core / "Rinth Pack.json"))["id"], kVersion);
    EXPECT_EQ(ReadFile(core / "Rinth Pack.jar"), client_);
    EXPECT_FALSE(fs::exists(gameDir_ / "versions" / kVersion));
    EXPECT_EQ(FilesNamed(home_.root(), "escape.jar"), std::vector<fs::path>{});
    EXPECT_EQ(official_.CountOf("/cdn/escape.jar"), 0);
    EXPECT_EQ(official_.CountOf("/cdn/server.jar"), 0);

    launcher->CloseInput();
    EXPECT_EQ(launcher->Wait(), 0);
    EXPECT_NE(launcher->Stderr().find("整合包文件校验失败（sha1 不符），已丢弃：mods/bad.jar"), std::string::npos);
}

}  // namespace
}  // namespace lumivale::test
