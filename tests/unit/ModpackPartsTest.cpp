// Modpack import pieces on real manifests and version JSONs (names never usable: the Modpack fuzz target).
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <tuple>

#include "ForgeInstall.h"
#include "ForgeMerge.h"
#include "LegacyMigration.h"
#include "HttpTransport.h"
#include "ModpackImport.h"
#include "ModpackZip.h"
#include "Subprocess.h"
#include "TempHome.h"
#include "TestHttpServer.h"
#include "TestJava.h"
#include "ZipWriter.h"

namespace lumivale::test {
namespace {

namespace fs = std::filesystem;
using json = nlohmann::json;

std::string Fixture(const std::string& name) { return ReadFile(fs::path(LUMIVALE_TEST_DATA) / name); }

TEST(ModpackZip, NamesThatWouldLeaveTheFolderAreRefused) {
    std::string out;
    EXPECT_TRUE(SafeRelativePath("config\\sub\\./b.txt", out));
    EXPECT_EQ(out, "config/sub/b.txt");
    for (const char* bad : {"", "/etc/passwd", "\\evil", "../x", "mods/../../x", "a\\..\\..\\x", "C:/Windows/x", "c:x", "./",
                            "a/\x01"}) {
        EXPECT_FALSE(SafeRelativePath(bad, out)) << bad;
    }
    EXPECT_TRUE(IsUsableFileName("Pack: Above & Beyond 1.2"));
    for (const char* bad : {"", ".", "..", "../evil", "a/b", "a\\b", "tab\tname"}) EXPECT_FALSE(IsUsableFileName(bad)) << bad;
}

TEST(ModpackPlanReading, CurseForgeManifestsAndEveryRefusal) {
    TempHome home;
    const fs::path zip = home.root() / "p.zip";
    ModpackPlan plan;
    std::string error;
    WriteZip(zip, {{"manifest.json", Fixture("modpacks/curseforge-manifest-nomi-ceu.json")}});
    ASSERT_TRUE(ReadModpackPlan(zip.string(), plan, error)) << error;
    EXPECT_EQ(plan.name + " " + plan.gameVersion + " " + plan.forgeVersion, "nomi-ceu 1.12.2 14.23.5.2860");
    EXPECT_EQ(plan.curseForgeFiles.size(), 129u);
    EXPECT_EQ(plan.overrides, std::vector<std::string>{"overrides/"});
    EXPECT_EQ(PeekModpackGameVersion(zip.string()), "1.12.2");
    for (const auto& [manifest, message] : std::vector<std::pair<std::string, std::string>>{
             {"", "zip 内找不到 manifest.json"},
             {"{not json", "manifest.json 不是合法 JSON"},
             {R"({"minecraft":{"version":""},"name":"P"})", "manifest 缺少 version 或 name"},
             {R"({"minecraft":{"version":"1.20.1"},"name":"../evil"})", "整合包名称无法用作文件夹名：../evil"},
             {R"({"minecraft":{"version":"../1.20.1"},"name":"P"})", "整合包的游戏版本无法用作文件夹名：../1.20.1"}}) {
        WriteZip(zip, {{manifest.empty() ? "readme.txt" : "manifest.json", manifest}});
        EXPECT_FALSE(ReadModpackPlan(zip.string(), plan, error));
        EXPECT_EQ(error, message) << manifest;
    }
    // A pack that is not there, and a file that is no zip, say so rather than blame the manifest.
    EXPECT_FALSE(ReadModpackPlan((home.root() / "gone.zip").string(), plan, error));
    EXPECT_EQ(error, "找不到整合包文件：" + (home.root() / "gone.zip").string());
    WriteFile(zip, "PK but not really a zip");
    EXPECT_FALSE(ReadModpackPlan(zip.string(), plan, error));
    EXPECT_EQ(error, "整合包不是有效的 zip 文件：" + zip.string());
    // A zip bomb: 17 MiB of zeros deflate to about 17 KB; the pack is refused before any write.
    WriteZip(zip, {{"manifest.json", Fixture("modpacks/curseforge-manifest-nomi-ceu.json")},
                   {"overrides/zeros.bin", std::string(17u << 20, '\0')}});
    EXPECT_FALSE(ReadModpackPlan(zip.string(), plan, error));
    EXPECT_EQ(error, kPackRatioMessage + zip.string());
}

TEST(ModpackPlanReading, ModrinthIndexFromTheFixtureNamesItsLoader) {
    TempHome home;
    const fs::path pack = home.root() / "p.mrpack";
    WriteZip(pack, {{"modrinth.index.json", Fixture("modpacks/modrinth.index.json")}});
    ModpackPlan plan;
    std::string error;
    ASSERT_TRUE(ReadModpackPlan(pack.string(), plan, error)) << error;
    EXPECT_EQ(plan.loader + " " + plan.loaderVersion + " " + plan.gameVersion, "fabric 0.14.24 1.20.2");
    json index = json::parse(Fixture("modpacks/modrinth.index.json"));
    index["dependencies"] = {{"minecraft", "1.20.1"}, {"forge", "47.2.0"}, {"neoforge", "47.1.82"}};
    index["files"][1]["env"]["client"] = "unsupported";
    WriteZip(pack, {{"modrinth.index.json", index.dump()}});
    ASSERT_TRUE(ReadModpackPlan(pack.string(), plan, error)) << error;
    EXPECT_EQ(plan.name + " " + plan.forgeVersion + " [" + plan.loader + "]", "The 128MB Pack 47.2.0 []");  // Forge first
    EXPECT_EQ(plan.overrides, (std::vector<std::string>{"overrides/", "client-overrides/"}));
    ASSERT_EQ(plan.modrinthFiles.size(), 7u);  // the client-unsupported one left out, not the server one
    EXPECT_EQ(plan.modrinthFiles[0].path + " " + plan.modrinthFiles[0].sha1,
              "mods/NoChatReports-FABRIC-1.20.2-v2.3.1.jar cb77c14bfc458066eda3c7962c3286e0f973725e");
    EXPECT_TRUE(plan.modrinthFiles[0].url.starts_with("https://cdn.modrinth.com/"));
}

TEST(ForgeMerge, RealForgeJsonsFoldIntoTheVanillaOnesLibrariesByKeyInPlace) {
    const json vanilla = json::parse(Fixture("versions/1.20.1.json"));
    const json forge = json::parse(Fixture("versions/1.20.1-forge-47.2.0.json"));
    const json merged = MergeForgeVersionJson(vanilla, forge, "My Pack");
    EXPECT_EQ(merged["id"], "My Pack");
    EXPECT_FALSE(merged.contains("inheritsFrom"));
    EXPECT_EQ(merged["mainClass"], forge["mainClass"]);
    for (const char* kept : {"time", "releaseTime", "assetIndex", "downloads"}) EXPECT_EQ(merged[kept], vanilla[kept]) << kept;
    EXPECT_EQ(merged["arguments"]["game"].size(), vanilla["arguments"]["game"].size() + forge["arguments"]["game"].size());
    EXPECT_EQ(merged["arguments"]["jvm"].back(), forge["arguments"]["jvm"].back());
    ASSERT_GE(merged["libraries"].size(), vanilla["libraries"].size());
    for (std::size_t i = 0; i < vanilla["libraries"].size(); ++i) {
        EXPECT_EQ(LibraryMergeKey(merged["libraries"][i]["name"]), LibraryMergeKey(vanilla["libraries"][i]["name"]));
    }
    EXPECT_EQ(merged["libraries"].back(), forge["libraries"].back());
    const json legacy = MergeForgeVersionJson(json::parse(Fixture("versions/1.12.2.json")),
                                              json::parse(Fixture("versions/1.12.2-forge-14.23.5.2859.json")), "Old");
    EXPECT_NE(legacy["minecraftArguments"].get<std::string>().find("--tweakClass"), std::string::npos);
    EXPECT_EQ(legacy["logging"], json::parse(Fixture("versions/1.12.2.json"))["logging"]);  // Forge's is empty

    // A later version replaces an earlier one in its place; a classifier keeps its own key.
    EXPECT_EQ(LibraryMergeKey("a.b:c:1.0") + " " + LibraryMergeKey("a.b:c:1.0:natives-linux"), "a.b:c a.b:c:natives-linux");
}

TEST(ModpackFolders, LegacyFoldersMoveOnlyWhereThePlaceIsFreeAndTreesGoWithoutFollowingLinks) {
    TempHome home;
    const fs::path versions = home.root() / "versions";
    WriteFile(versions / "Pconfig" / "new.cfg", "legacy");
    WriteFile(versions / "P" / "config" / "keep.cfg", "proper");
    MigrateLegacyFolders(home.root().string(), "P");  // a free place: the modpack import shows that
    EXPECT_EQ(ReadFile(versions / "Pconfig" / "new.cfg"), "legacy");
    EXPECT_FALSE(fs::exists(versions / "P" / "config" / "new.cfg"));

    WriteFile(home.root() / "outside" / "kept.txt", "x");
    fs::create_directory_symlink(home.root() / "outside", versions / "P" / "link");
    EXPECT_TRUE(DeleteTree(versions.string()));
    EXPECT_FALSE(fs::exists(versions));
    EXPECT_TRUE(fs::exists(home.root() / "outside" / "kept.txt"));
}

// A hung installer is stopped with what it started once its time is up; a cancel stops it too.
TEST(ModpackFolders, AnInstallerThatHangsIsStoppedWithItsChildren) {
    TempHome home;
    const fs::path java = home.root() / "java", pidFile = home.root() / "child.pid";
    WriteFile(java, "#!/bin/sh\nsleep 600 &\necho $! > " + pidFile.string() + "\necho installing\nwait\n");
    fs::permissions(java, fs::perms::owner_all);
    const std::string log = (home.root() / "log" / "forge.log").string();
    for (const bool cancel : {false, true}) {
        std::string error;
        fs::remove(pidFile);
        InstallerLimits limits;
        limits.timeLimit = std::chrono::milliseconds(cancel ? 60000 : 2000);
        // The cancel comes once the installer has started its child and said so (slow on a busy machine).
        if (cancel) limits.cancelled = [&] { return fs::exists(log) && ReadFile(log) == "installing\n"; };
        EXPECT_FALSE(RunForgeInstaller(java.string(), "installer.jar", home.root().string(), log, error, limits));
        EXPECT_EQ(error, cancel ? "Forge 安装已取消" : "Forge 安装程序超过 1 分钟仍未结束，已停止（详见日志 " + log + "）");
        EXPECT_EQ(ReadFile(log), "installing\n");
        const std::string pid = ReadFile(pidFile).substr(0, ReadFile(pidFile).find('\n'));
        ASSERT_FALSE(pid.empty());
        EXPECT_TRUE(Eventually([&] { return !ProcessAlive(std::stol(pid)); })) << "the installer's child still runs";
    }
}

TEST(ModrinthFiles, OnlyFilesWhoseSha1MatchesAreKeptAndPathsStayInsideTheFolder) {
    TestHttpServer server;
    TempHome home;
    const fs::path folder = home.root() / "versions" / "P";
    WriteFile(folder / "mods" / "present.jar", "kept");
    std::vector<ModrinthFile> files;
    // (path, body served, body the index promises)
    for (const auto& [path, served, promised] : std::vector<std::tuple<std::string, std::string, std::string>>{
             {"mods/good.jar", "a good mod", "a good mod"}, {"mods/bad.jar", "tampered bytes", "what was promised"},
             {"../../escape.jar", "escaped", "escaped"}, {"mods/present.jar", "newer", "kept"}}) {
        const std::string url = "/" + fs::path(path).filename().string();
        server.Serve(url, TestReply::Ok(served));
        files.push_back({path, server.Url(url), Sha1OfBytes(promised)});
    }
    ModCounters counters;
    DownloadModrinthFiles(files, folder.string(), nullptr, counters);
    EXPECT_EQ(std::vector<int>({counters.total, counters.direct, counters.skipped, counters.failed}),
              std::vector<int>({4, 1, 1, 2}));
    EXPECT_EQ(ReadFile(folder / "mods" / "good.jar") + ReadFile(folder / "mods" / "present.jar"), "a good modkept");
    EXPECT_FALSE(fs::exists(folder / "mods" / "bad.jar") || fs::exists(folder / "mods" / "bad.jar.download"));
    EXPECT_EQ(server.CountOf("/escape.jar") + server.CountOf("/present.jar"), 0);
    CloseHttpConnections();
}

}  // namespace
}  // namespace lumivale::test
