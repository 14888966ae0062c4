// "modpack:import" end to end: loopback mirror, a compiled Forge installer, CurseForge API and the reference backend.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <future>
#include <memory>
#include <nlohmann/json.hpp>

#include "BackendServer.h"
#include "FakeInstaller.h"
#include "HttpTransport.h"
#include "ModpackCommands.h"
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
constexpr const char* kForgeId = "1.20.1-forge-47.2.0";
constexpr const char* kPack = "Test Pack";
constexpr const char* kForgeLibrary = "libraries/net/minecraftforge/forge/1.20.1-47.2.0/forge-1.20.1-47.2.0-universal.jar";
constexpr const char* kInstallerPath = "/maven/net/minecraftforge/forge/1.20.1-47.2.0/forge-1.20.1-47.2.0-installer.jar";

// Like Forge's client install: needs launcher_profiles.json and the vanilla JSON; "fail" mode logs long, exits 1.
constexpr const char* kInstallerSource = R"(import java.io.*;
import java.nio.file.*;
public class Installer {
    static void copy(String name, Path to) throws IOException {
        Files.createDirectories(to.getParent());
        Files.copy(Installer.class.getResourceAsStream("/" + name), to, StandardCopyOption.REPLACE_EXISTING);
    }
    public static void main(String[] args) throws Exception {
        java.util.Properties p = new java.util.Properties();
        p.load(Installer.class.getResourceAsStream("/install.properties"));
        if (p.getProperty("mode").equals("fail")) {
            for (int i = 0; i < 40; i++) System.out.println("installer line " + i + " ..........................................");
            System.err.println("FINAL WORDS OF THE INSTALLER");
            System.exit(1);
        }
        Path game = Paths.get(args[1]);
        String parent = p.getProperty("parent"), id = p.getProperty("id");
        if (!args[0].equals("--installClient") || !Files.exists(game.resolve("launcher_profiles.json"))
            || !Files.exists(game.resolve("versions/" + parent + "/" + parent + ".json"))) System.exit(2);
        copy("version.json", game.resolve("versions/" + id + "/" + id + ".json"));
        copy("patched.jar", game.resolve("versions/" + id + "/" + id + ".jar"));
        copy("library.jar", game.resolve(p.getProperty("library")));
        System.out.println("installed " + id);
    }
})";

// Every file below `root` named `name`.
std::vector<fs::path> FilesNamed(const fs::path& root, const std::string& name) {
    std::vector<fs::path> found;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        if (entry.path().filename() == name) found.push_back(entry.path());
    }
    return found;
}

// The events of one import: types, the progress statuses, and the error's reason.
struct Events {
    std::vector<json> all;
    std::string Last() const { return all.empty() ? "" : all.back().value("type", ""); }
    std::string Reason() const {
        return Last() == "modpack:error" || Last() == "modpack:refused" ? all.back()["reason"].get<std::string>() : "<no error>";
    }
    std::vector<std::string> Statuses() const {
        std::vector<std::string> statuses;
        for (const json& e : all) {
            if (e.value("type", "") == "modpack:progress") statuses.push_back(e["status"].get<std::string>());
        }
        return statuses;
    }
    bool Has(const std::string& status) const {
        const auto statuses = Statuses();
        return std::find(statuses.begin(), statuses.end(), status) != statuses.end();
    }
};

// Events up to and including the first of a type in `last`.
Events EventsUntil(Subprocess& launcher, const std::vector<std::string>& last = {"modpack:done", "modpack:error"}) {
    Events events;
    while (auto line = launcher.ReadLine(std::chrono::seconds(120))) {
        json body = json::parse(*line, nullptr, false);
        if (!body.is_object()) continue;
        events.all.push_back(body);
        if (std::find(last.begin(), last.end(), events.Last()) != last.end()) break;
    }
    return events;
}

class ModpackImportTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!HasTestJdk()) GTEST_SKIP() << "no JDK 17 here";
        gameDir_ = home_.program() / ".minecraft";
        build_ = home_.root() / "build";
        ASSERT_TRUE(CompileJava(build_, {{"Installer", kInstallerSource}}));
        // The vanilla client, large enough to count as a core.
        client_ = CoreJarBytes(build_ / "client.jar", "vanilla game", 1);
        mirror_.Serve("/v1/objects/client.jar", TestReply::Ok(client_));
        mirror_.Serve("/libraries/com/example/lib/1.0/lib-1.0.jar", TestReply::Ok("library one"));
        // Assets: two objects, one the mirror lacks, a hash that would climb out to the program folder.
        json objects = {{"gone", {{"hash", std::string(40, 'd')}}}, {"climbing", {{"hash", "../../evil"}}}};
        mirror_.Serve("/assets/../../../evil", TestReply::Ok("evil"));  // as it would be asked for
        for (const char* asset : {"asset a", "asset b"}) {
            const std::string hash = Sha1OfBytes(asset);
            objects[asset] = {{"hash", hash}, {"size", 7}};
            mirror_.Serve("/assets/" + hash.substr(0, 2) + "/" + hash, TestReply::Ok(asset));
        }
        mirror_.Serve("/indexes/test.json", TestReply::Ok(json{{"objects", objects}}.dump()));
        vanilla_ = json{
            {"id", kVersion}, {"type", "release"}, {"time", "vanilla-time"}, {"mainClass", "net.minecraft.client.main.Main"},
            {"minecraftArguments", "--username ${auth_player_name} --version ${version_name}"},
            {"assetIndex", {{"id", "test"}, {"url", mirror_.Url("/indexes/test.json")}}},
            {"downloads", {{"client", {{"sha1", Sha1OfBytes(client_)}, {"url", official_.Url("/data/v1/objects/client.jar")}}}}},
            {"libraries", json::array({LibraryJson("1.0")})}}.dump();
        mirror_.Serve("/version/1.20.1/json", TestReply::Ok(vanilla_));
        BuildInstaller("ok");
        WriteFile(home_.config(), "[launcher]\nselected_java=auto\nmemory_mb=256\n");
    }

    void TearDown() override {
        CloseHttpConnections();
        if (backend_) backend_->Stop();
    }

    json LibraryJson(const std::string& version) const {
        const std::string path = "com/example/lib/" + version + "/lib-" + version + ".jar";
        return {{"name", "com.example:lib:" + version},
                {"downloads", {{"artifact", {{"path", path}, {"url", official_.Url("/maven2/" + path)}}}}}};
    }

    void BuildInstaller(const std::string& mode) {
        const json version = {
            {"id", kForgeId}, {"inheritsFrom", kVersion}, {"time", "forge-time"}, {"mainClass", "Game"},
            {"minecraftArguments", "--username ${auth_player_name} --version ${version_name} --tweakClass forge"},
            {"libraries", json::array({LibraryJson("2.0"),
                                       {{"name", "net.minecraftforge:forge:1.20.1-47.2.0:universal"},
                                        {"downloads", {{"artifact", {{"path", std::string(kForgeLibrary).substr(10)}, {"url", ""}}}}}}})}};
        patched_ = CoreJarBytes(build_ / "patched.jar", "patched game", 2);
        mirror_.Serve(kInstallerPath,
                      TestReply::Ok(ZipBytes(build_ / "installer.jar",
                                             {{"META-INF/MANIFEST.MF", "Manifest-Version: 1.0\r\nMain-Class: Installer\r\n\r\n"},
                                              {"Installer.class", ReadFile(build_ / "Installer.class")},
                                              {"install.properties", "mode=" + mode + "\nid=" + kForgeId + "\nparent=" +
                                                                         kVersion + "\nlibrary=" + kForgeLibrary + "\n"},
                                              {"version.json", version.dump()},
                                              {"patched.jar", patched_},
                                              {"library.jar", ZipBytes(build_ / "library.jar", {{"forge.txt", "forge"}})}})));
    }

    // The reference backend (two store mods, the CurseForge key) and a CurseForge API that wants that key.
    void StartCloud() {
        backend_ = std::make_unique<backend::BackendServer>(home_.root() / "backend.sqlite");
        backend_->Store().AddMod({"3003", "3004", "pack.zip", "resourcepack", curseForge_.Url("/cdn/pack.zip")});
        backend_->Store().AddMod({"4004", "4005", "store-mod.jar", "mod", curseForge_.Url("/cdn/store-mod.jar")});
        backend_->Store().SetSetting("curseforge_key", "cf-test-key");
        ASSERT_TRUE(backend_->Start("127.0.0.1", 0));

        const auto file = [&](const std::string& fields, const char* cdn) {
            return R"({"data":{)" + fields + R"("downloadUrl":")" + (cdn ? curseForge_.Url(cdn) : "") + R"("}})";
        };
        for (const auto& [path, body] : std::vector<std::pair<std::string, std::string>>{
                 {"/v1/mods/1001/files/1002", file(R"("id":1002,"fileName":"jei.jar",)", "/cdn/r/jei.jar")},
                 {"/v1/mods/1001", R"({"data":{"id":1001,"classId":6,"name":"JEI"}})"},
                 {"/v1/mods/2002/files/2003", file(R"("fileName":"shader.zip","classId": 6552 ,)", "/cdn/shader.zip")},
                 {"/v1/mods/3003/files/3004", file(R"("fileName":"pack.zip",)", nullptr)},
                 {"/v1/mods/4004/files/4005", file(R"("fileName":"gone.jar","classId":6,)", "/cdn/gone.jar")},
                 {"/v1/mods/6006/files/6007", file(R"("fileName":"../evil.jar","classId":6,)", "/cdn/evil.jar")}}) {
            curseForge_.Handle(path, [body](const TestRequest& request) {
                return request.Header("x-api-key") == "cf-test-key" ? TestReply::Ok(body) : TestReply::Status(403, "{}");
            });
        }
        for (const char* name : {"jei.jar", "shader.zip", "pack.zip", "store-mod.jar", "evil.jar"}) {
            curseForge_.Serve(std::string("/cdn/") + name, TestReply::Ok(std::string("content of ") + name));
        }
        // The file host answers one link with a relative redirect, resolved against that link.
        curseForge_.Serve("/cdn/r/jei.jar", TestReply::Redirect(302, "../jei.jar"));
    }

    fs::path WritePack(const std::string& name, const json& manifest,
                       std::vector<std::pair<std::string, std::string>> extra = {}) {
        extra.insert(extra.begin(), {"manifest.json", manifest.dump()});
        WriteZip(home_.root() / "packs" / name, extra);
        return home_.root() / "packs" / name;
    }

    std::unique_ptr<Subprocess> Start() {
        return std::make_unique<Subprocess>(
            LUMIVALE_EXE, std::vector<std::string>{"--headless", "--home", home_.program().string()},
            std::vector<std::string>{
                "XDG_DATA_HOME=" + home_.data().string(), "JAVA_HOME=" + std::string(kTestJdk),
                "LUMIVALE_MIRROR_BASE=" + mirror_.Url("/"), "LUMIVALE_CURSEFORGE_API_BASE=" + curseForge_.base(),
                "LUMIVALE_BACKEND_BASE=" + (backend_ ? "http://127.0.0.1:" + std::to_string(backend_->Port()) : official_.base()),
                // The official hosts answer nothing: every file must come from the mirror.
                "LUMIVALE_OFFICIAL_DATA_BASE=" + official_.Url("/data/"), "LUMIVALE_OFFICIAL_META_BASE=" + official_.Url("/meta/"),
                "LUMIVALE_OFFICIAL_LIBRARIES_BASE=" + official_.Url("/maven2/"),
                "LUMIVALE_OFFICIAL_ASSETS_BASE=" + official_.Url("/assets/"),
                "LUMIVALE_OFFICIAL_MAVEN_BASE=" + official_.Url("/forge/"),
                "LUMIVALE_FABRIC_META_BASE=" + official_.Url("/fabric/"), "LUMIVALE_QUILT_META_BASE=" + official_.Url("/quilt/"),
                "LUMIVALE_NEOFORGE_MAVEN_BASE=" + official_.Url("/neoforge/")});
    }

    static void Import(Subprocess& launcher, const fs::path& zip) {
        launcher.Send(json{{"type", "modpack:import"}, {"zip", zip.string()}}.dump());
    }

    TempHome home_;
    TestHttpServer mirror_;
    TestHttpServer official_;
    TestHttpServer curseForge_;
    std::unique_ptr<backend::BackendServer> backend_;
    std::string vanilla_;
    fs::path gameDir_;
    fs::path build_;
    std::string client_;
    std::string patched_;
};

TEST_F(ModpackImportTest, ForgePackWithModsBecomesACoreThatASecondImportLeavesAlone) {
    StartCloud();
    const json manifest = {
        {"minecraft", {{"version", kVersion}, {"modLoaders", {{{"id", "forge-47.2.0"}, {"primary", true}}}}}},
        {"name", kPack},
        {"overrides", "overrides"},
        {"files", {{{"projectID", 1001}, {"fileID", 1002}}, {{"projectID", "2002"}, {"fileID", "2003"}},
                   {{"projectID", 3003}, {"fileID", 3004}}, {{"projectID", 4004}, {"fileID", 4005}},
                   {{"projectID", 5005}, {"fileID", 5006}}, {{"projectID", 6006}, {"fileID", 6007}},
                   {{"required", true}}}}};
    const fs::path zip = WritePack("pack.zip", manifest,
                                   {{"overrides/config/", ""}, {"overrides/config/a.cfg", "config a"}, {"overrides/config/c..cfg", "config c"},
                                    {"overrides/config\\b.cfg", "config b"}, {"overrides/../../x.txt", "escaped"},
                                    {"overrides/..\\..\\y.txt", "escaped"}, {"overrides/C:/z.txt", "escaped"},
                                    {"/abs-evil.txt", "escaped"}, {"other/ignored.txt", "not an override"}});
    // A folder an earlier import left beside the core, and the player's launcher profiles.
    WriteFile(gameDir_ / "versions" / "Test Packkubejs" / "startup.js", "legacy");
    WriteFile(gameDir_ / "launcher_profiles.json", R"({"profiles":{"other":{"lastVersionId":"1.19"}}})");

    // The first import waits at the vanilla JSON while a second one is refused with an answer of
    // its own (the running import's screen stays as it is; the page test drops files meanwhile).
    std::promise<void> gate;
    mirror_.Handle("/version/1.20.1/json", [open = gate.get_future().share(), this](const TestRequest&) {
        open.wait();
        return TestReply::Ok(vanilla_);
    });
    auto launcher = Start();
    Import(*launcher, zip);
    Import(*launcher, zip);
    Events events = EventsUntil(*launcher, {"modpack:refused"});
    ASSERT_EQ(events.Reason(), kModpackBusyMessage);
    EXPECT_EQ(events.all.front(), (json{{"type", "modpack:started"}, {"path", zip.string()}}));
    events.all.pop_back();
    gate.set_value();
    const Events rest = EventsUntil(*launcher);
    events.all.insert(events.all.end(), rest.all.begin(), rest.all.end());
    ASSERT_EQ(events.Last(), "modpack:done") << events.all.back().dump() << "\n" << launcher->Stderr();

    const std::vector<std::string> milestones{
        "正在解析整合包清单…", "整合包：Test Pack / MC 1.20.1", "正在获取版本信息…", "正在下载依赖库…",
        "依赖库就绪", "正在下载资源文件…", "资源文件就绪", "正在下载游戏核心…", "游戏核心就绪",
        "正在解压整合包文件…", "整合包文件就绪", "正在安装 Forge…", "正在静默安装 Forge（需要 Java）…",
        "Forge 安装完成", "正在准备 Mod / 资源包…",
        "Mod/资源包就绪(直链 4 个，S3 1 个，跳过 0 个，缺 1 个)", "导入完成：Test Pack"};
    std::vector<std::string> reached;
    for (const std::string& s : events.Statuses()) {
        if (std::find(milestones.begin(), milestones.end(), s) != milestones.end()) reached.push_back(s);
    }
    EXPECT_EQ(reached, milestones) << ::testing::PrintToString(events.Statuses());
    EXPECT_EQ(events.all[events.all.size() - 2]["type"], "sys:cores");
    EXPECT_NE(events.all[events.all.size() - 2].dump().find("Test Pack"), std::string::npos);
    EXPECT_EQ(events.all.back(), json::parse(R"({"type":"modpack:done","total":7,"direct":4,"s3":1,"skipped":0,"failed":1})"));

    // The core: merged JSON, patched jar, overrides, mods in their folders.
    const fs::path core = gameDir_ / "versions" / kPack;
    const json merged = json::parse(ReadFile(core / "Test Pack.json"));
    EXPECT_EQ(merged["id"], kPack);
    EXPECT_EQ(merged["mainClass"], "Game");
    EXPECT_EQ(merged["clientVersion"], kVersion);  // the core's game version for the Java choice
    ASSERT_EQ(merged["libraries"].size(), 2u);
    EXPECT_EQ(merged["libraries"][0]["name"], "com.example:lib:2.0");  // in the vanilla library's place
    EXPECT_EQ(ReadFile(core / "Test Pack.jar"), patched_);
    for (const auto& [file, content] : std::vector<std::pair<std::string, std::string>>{
             {"config/a.cfg", "config a"}, {"config/b.cfg", "config b"}, {"config/c..cfg", "config c"}, {"kubejs/startup.js", "legacy"},
             {"mods/jei.jar", "content of jei.jar"}, {"shaderpacks/shader.zip", "content of shader.zip"},
             {"resourcepacks/pack.zip", "content of pack.zip"}, {"mods/store-mod.jar", "content of store-mod.jar"},
             {"mods/mod-6006-6007.jar", "content of evil.jar"}}) {
        EXPECT_EQ(ReadFile(core / file), content) << file;
    }
    EXPECT_FALSE(fs::exists(gameDir_ / "versions" / "Test Packkubejs"));
    EXPECT_EQ(curseForge_.CountOf("/cdn/gone.jar"), 2);
    EXPECT_EQ(curseForge_.CountOf("/v1/mods/1001"), 1);  // class looked up once
    EXPECT_EQ(curseForge_.CountOf("/v1/mods/2002"), 0);  // class in the file answer
    for (const char* asset : {"asset a", "asset b"}) {
        EXPECT_EQ(ReadFile(gameDir_ / "assets/objects" / Sha1OfBytes(asset).substr(0, 2) / Sha1OfBytes(asset)), asset);
    }
    for (const char* name : {"x.txt", "y.txt", "z.txt", "abs-evil.txt", "evil.jar", "evil", "ignored.txt"}) {
        EXPECT_EQ(FilesNamed(home_.root(), name), std::vector<fs::path>{}) << name;
    }
    EXPECT_FALSE(fs::exists("/abs-evil.txt"));

    // Forge's traces: profiles, the installer's version and vanilla folders; the vanilla files.
    EXPECT_EQ(json::parse(ReadFile(gameDir_ / "launcher_profiles.json"))["profiles"]["other"]["lastVersionId"], kPack);
    EXPECT_FALSE(fs::exists(gameDir_ / "versions" / kForgeId));
    EXPECT_FALSE(fs::exists(gameDir_ / "versions" / kVersion));
    EXPECT_TRUE(fs::exists(gameDir_ / kForgeLibrary));
    EXPECT_EQ(ReadFile(gameDir_ / "libraries/com/example/lib/1.0/lib-1.0.jar"), "library one");
    EXPECT_EQ(ReadFile(gameDir_ / "libraries/net/minecraft/client/1.20.1/client-1.20.1-official.jar"), client_);

    // The same pack again: the core it made is the player's now and is never written over.
    WriteFile(core / "options.txt", "the player's options");
    Import(*launcher, zip);
    EXPECT_EQ(EventsUntil(*launcher).Reason(), "已存在同名版本，导入不会覆盖它（请先重命名或删除）：Test Pack");
    EXPECT_EQ(ReadFile(core / "Test Pack.jar"), patched_);
    EXPECT_EQ(json::parse(ReadFile(core / "Test Pack.json")), merged);
    EXPECT_EQ(ReadFile(core / "options.txt"), "the player's options");
    launcher->CloseInput();
    EXPECT_EQ(launcher->Wait(), 0);
}

TEST_F(ModpackImportTest, ACancelStopsAnImportAndLeavesNoCore) {
    const fs::path zip = WritePack("pack.zip", {{"minecraft", {{"version", kVersion}}}, {"name", kPack}});
    std::promise<void> reached, gate;
    std::atomic<bool> asked{false};
    // The answer the import waited for fails: a cancel meanwhile is still said as a cancel.
    mirror_.Handle("/version/1.20.1/json", [&, open = gate.get_future().share()](const TestRequest&) {
        if (!asked.exchange(true)) reached.set_value();
        open.wait();
        return TestReply::Status(404, "");
    });
    auto launcher = Start();
    Import(*launcher, zip);
    reached.get_future().wait();
    launcher->Send(R"({"type":"modpack:cancel"})");
    // The cancel is read before the answer arrives: the launcher handles its input in order.
    launcher->Send(R"({"type":"sys:init"})");
    EXPECT_EQ(EventsUntil(*launcher, {"sys:java"}).Last(), "sys:java");
    gate.set_value();
    EXPECT_EQ(EventsUntil(*launcher).Reason(), "已取消整合包导入");
    EXPECT_FALSE(fs::exists(gameDir_ / "versions" / kPack));
    launcher->CloseInput();
    EXPECT_EQ(launcher->Wait(), 0);
}

// Without a loader nothing needs Java: this import also runs against the Windows build under Wine.
TEST_F(ModpackImportTest, APackWithoutLoaderTakesTheMirrorsFilesAndTheCloudsMods) {
    StartCloud();
    const json manifest = {{"minecraft", {{"version", kVersion}, {"modLoaders", json::array()}}},
                           {"name", "Plain Pack"},
                           {"files", {{{"projectID", 1001}, {"fileID", 1002}}, {{"projectID", 4004}, {"fileID", 4005}}}}};
    const fs::path zip = WritePack("plain 整合包.zip", manifest, {{"overrides/config/a.cfg", "config a"}});
    auto launcher = Start();
    Import(*launcher, zip);
    const Events events = EventsUntil(*launcher);
    ASSERT_EQ(events.Last(), "modpack:done") << events.all.back().dump() << "\n" << launcher->Stderr();
    EXPECT_TRUE(events.Has("无需 Forge"));
    const fs::path core = gameDir_ / "versions" / "Plain Pack";
    EXPECT_EQ(json::parse(ReadFile(core / "Plain Pack.json"))["mainClass"], "net.minecraft.client.main.Main");
    EXPECT_EQ(ReadFile(core / "Plain Pack.jar"), client_);
    for (const auto& [file, content] : std::vector<std::pair<std::string, std::string>>{
             {"config/a.cfg", "config a"}, {"mods/jei.jar", "content of jei.jar"},
             {"mods/store-mod.jar", "content of store-mod.jar"}}) {
        EXPECT_EQ(ReadFile(core / file), content) << file;
    }
    for (const char* asset : {"asset a", "asset b"}) {
        EXPECT_EQ(ReadFile(gameDir_ / "assets/objects" / Sha1OfBytes(asset).substr(0, 2) / Sha1OfBytes(asset)), asset);
    }
    launcher->CloseInput();
    EXPECT_EQ(launcher->Wait(), 0);
}

TEST_F(ModpackImportTest, FailuresSayWhyAndLeaveThePlayersCoreAlone) {
    BuildInstaller("fail");
    // The player's own core of the pack's game version.
    WriteFile(gameDir_ / "versions" / kVersion / "1.20.1.json", R"({"id":"1.20.1","players":"own"})");
    WriteFile(gameDir_ / "versions" / kVersion / "1.20.1.jar", "the player's jar");
    WriteFile(gameDir_ / "versions" / "Forge Packconfig" / "old.cfg", "legacy");  // an earlier import's
    const json forgePack = {{"minecraft", {{"version", kVersion}, {"modLoaders", {{{"id", "forge-47.2.0"}}}}}},
                            {"name", "Forge Pack"}};
    auto launcher = Start();
    Import(*launcher, WritePack("forge.zip", forgePack));
    const std::string log = (home_.program() / "log" / "forge-install.log").string();
    EXPECT_EQ(EventsUntil(*launcher).Reason(), "Forge 安装失败：Forge 安装程序返回退出码 1（详见日志 " + log +
                                                   "）。常见原因：Java 版本不匹配、网络不通或 jar 文件损坏");
    EXPECT_NE(ReadFile(log).find("FINAL WORDS OF THE INSTALLER"), std::string::npos);
    EXPECT_TRUE(ReadFile(gameDir_ / "launcher_profiles.json").starts_with(R"({"profiles":{},)"));  // the stub it needs
    EXPECT_EQ(ReadFile(gameDir_ / "versions" / kVersion / "1.20.1.jar"), "the player's jar");
    EXPECT_EQ(ReadFile(gameDir_ / "versions" / kVersion / "1.20.1.json"), R"({"id":"1.20.1","players":"own"})");
    // What the failed import made is gone again; the legacy folder it had moved is back.
    EXPECT_FALSE(fs::exists(gameDir_ / "versions" / "Forge Pack"));
    EXPECT_EQ(ReadFile(gameDir_ / "versions" / "Forge Packconfig" / "old.cfg"), "legacy");

    // The same pack succeeding later still leaves the player's core where it was.
    BuildInstaller("ok");
    fs::remove(home_.program() / "cache" / "forge-1.20.1-47.2.0-installer.jar");
    Import(*launcher, WritePack("forge.zip", forgePack));
    const Events events = EventsUntil(*launcher);
    EXPECT_EQ(events.Last(), "modpack:done") << events.all.back().dump();
    EXPECT_TRUE(events.Has("无需下载 Mod"));
    EXPECT_EQ(ReadFile(gameDir_ / "versions" / kVersion / "1.20.1.jar"), "the player's jar");
    EXPECT_EQ(ReadFile(gameDir_ / "versions" / "Forge Pack" / "config" / "old.cfg"), "legacy");

    // A client jar whose SHA-1 differs from the vanilla JSON's is refused, wherever it comes from.
    official_.Serve("/data/v1/objects/client.jar", TestReply::Ok(client_));
    json badClient = json::parse(vanilla_);
    badClient["downloads"]["client"]["sha1"] = std::string(40, '0');
    mirror_.Serve("/version/1.20.2/json", TestReply::Ok(badClient.dump()));
    Import(*launcher, WritePack("bad.zip", {{"minecraft", {{"version", "1.20.2"}}}, {"name", "Bad Client"}}));
    EXPECT_EQ(EventsUntil(*launcher).Reason(), "原版客户端校验失败（sha1 不符）");
    EXPECT_FALSE(fs::exists(gameDir_ / "versions" / "Bad Client"));
    EXPECT_FALSE(fs::exists(gameDir_ / "versions" / "1.20.2"));  // made for the Forge installer

    launcher->CloseInput();
    EXPECT_EQ(launcher->Wait(), 0);
    EXPECT_NE(launcher->Stderr().find("日志摘要："), std::string::npos);
    EXPECT_EQ(launcher->Stderr().find("installer line 0 "), std::string::npos);  // only the tail
}

// Modrinth packs get their loader: Fabric folded in from its profile, NeoForge through its installer.
TEST_F(ModpackImportTest, ModrinthPacksGetTheirFabricOrNeoForgeLoader) {
    const auto pack = [&](const std::string& name, const json& dependencies) {
        const fs::path zip = home_.root() / "packs" / (name + ".mrpack");
        WriteZip(zip, {{"modrinth.index.json", json{{"formatVersion", 1}, {"game", "minecraft"}, {"name", name},
                                                    {"dependencies", dependencies}, {"files", json::array()}}.dump()}});
        return zip;
    };
    mirror_.Serve("/fabric-meta/v2/versions/loader/1.20.1/0.15.0/profile/json",
                  TestReply::Ok(json{{"id", "fabric-loader-0.15.0-1.20.1"}, {"inheritsFrom", kVersion}, {"mainClass", "Knot"},
                                     {"arguments", {{"game", json::array()}, {"jvm", {"-DFabricMcEmu= net.minecraft.client.main.Main "}}}},
                                     {"libraries", {{{"name", "net.example:knot:1.0"}, {"url", mirror_.Url("/maven/")}}}}}.dump()));
    mirror_.Serve("/maven/net/example/knot/1.0/knot-1.0.jar", TestReply::Ok("knot"));
    const json neoJson = {{"id", "neoforge-47.1.82"}, {"inheritsFrom", kVersion}, {"mainClass", "Neo"}, {"libraries", json::array()}};
    mirror_.Serve("/maven/net/neoforged/forge/47.1.82/forge-47.1.82-installer.jar",
                  TestReply::Ok(FakeInstallerJar(build_ / "neo", "neoforge-47.1.82", kVersion, neoJson.dump())));
    auto launcher = Start();

    Import(*launcher, pack("Fabric Pack", {{"minecraft", kVersion}, {"fabric-loader", "0.15.0"}}));
    Events events = EventsUntil(*launcher);
    ASSERT_EQ(events.Last(), "modpack:done") << events.all.back().dump();
    EXPECT_TRUE(events.Has("正在安装 Fabric…") && events.Has("Fabric 安装完成")) << ::testing::PrintToString(events.Statuses());
    const json fabric = json::parse(ReadFile(gameDir_ / "versions/Fabric Pack/Fabric Pack.json"));
    EXPECT_EQ(fabric["mainClass"], "Knot");
    EXPECT_FALSE(fabric.contains("inheritsFrom"));
    EXPECT_EQ(fabric["clientVersion"], kVersion);
    EXPECT_EQ(fabric["libraries"].size(), 2u);  // the vanilla library and the loader's
    EXPECT_EQ(ReadFile(gameDir_ / "libraries/net/example/knot/1.0/knot-1.0.jar"), "knot");

    Import(*launcher, pack("Neo Pack", {{"minecraft", kVersion}, {"neoforge", "47.1.82"}}));
    events = EventsUntil(*launcher);
    ASSERT_EQ(events.Last(), "modpack:done") << events.all.back().dump() << launcher->Stderr();
    EXPECT_TRUE(events.Has("NeoForge 安装完成")) << ::testing::PrintToString(events.Statuses());
    const json neo = json::parse(ReadFile(gameDir_ / "versions/Neo Pack/Neo Pack.json"));
    EXPECT_EQ(neo["mainClass"], "Neo");
    EXPECT_EQ(neo["id"], "Neo Pack");
    EXPECT_FALSE(fs::exists(gameDir_ / "versions/neoforge-47.1.82"));
    EXPECT_FALSE(fs::exists(gameDir_ / "versions" / kVersion));
    launcher->CloseInput();
    EXPECT_EQ(launcher->Wait(), 0);
}

}  // namespace
}  // namespace lumivale::test
