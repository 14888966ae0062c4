// The pieces of a modpack import that need no network: the zip rules (hostile names included),
// reading both kinds of pack, the Forge merge on real version JSONs, the legacy folder move,
// launcher_profiles.json, the mod type rules and the store catalogue.
#include <gtest/gtest.h>

#include <filesystem>

#include "ForgeInstall.h"
#include "ForgeMerge.h"
#include "LegacyMigration.h"
#include "ModpackCommands.h"
#include "ModDownload.h"
#include "ModpackImport.h"
#include "ModpackZip.h"
#include "ModrinthPack.h"
#include "TempHome.h"
#include "ZipWriter.h"

namespace lumivale::test {
namespace {

namespace fs = std::filesystem;
using json = nlohmann::json;

// Every regular file below `root`, as relative "/" paths, sorted.
std::vector<std::string> FilesBelow(const fs::path& root) {
    std::vector<std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(root)) {
        if (entry.is_regular_file()) files.push_back(fs::relative(entry.path(), root).generic_string());
    }
    std::sort(files.begin(), files.end());
    return files;
}

json Fixture(const std::string& name) {
    return json::parse(ReadFile(fs::path(LUMIVALE_TEST_DATA) / name));
}

TEST(ModpackZip, NamesThatWouldLeaveTheFolderAreRefused) {
    std::string out;
    EXPECT_TRUE(SafeRelativePath("config/a.txt", out));
    EXPECT_EQ(out, "config/a.txt");
    EXPECT_TRUE(SafeRelativePath("config\\sub\\./b.txt", out));
    EXPECT_EQ(out, "config/sub/b.txt");
    for (const char* bad : {"", "/etc/passwd", "\\evil", "../x", "mods/../../x", "a\\..\\..\\x",
                            "C:/Windows/x", "c:x", "./", "a/\x01"}) {
        EXPECT_FALSE(SafeRelativePath(bad, out)) << bad;
    }
    EXPECT_TRUE(IsUsableFileName("Pack: Above & Beyond 1.2"));
    for (const char* bad : {"", ".", "..", "../evil", "a/b", "a\\b", "tab\tname"}) {
        EXPECT_FALSE(IsUsableFileName(bad)) << bad;
    }
}

TEST(ModpackZip, ExtractsThePrefixOnlyAndNothingOutsideTheFolder) {
    TempHome home;
    const fs::path zip = home.root() / "pack.zip";
    WriteZip(zip, {{"manifest.json", "{}"},
                   {"overrides/", ""},
                   {"overrides/config/", ""},
                   {"overrides/config/a.txt", "A"},
                   {"overrides/config\\b.txt", "B"},
                   {"overrides//rooted.txt", "R"},
                   {"overrides/../../escape1.txt", "E"},
                   {"overrides/..\\..\\escape2.txt", "E"},
                   {"overrides/C:/escape3.txt", "E"},
                   {"/escape4.txt", "E"},
                   {"other/readme.txt", "O"}});
    const fs::path target = home.root() / "game" / "versions" / "P";
    fs::create_directories(target);
    WriteFile(target / "config" / "a.txt", "old");

    ASSERT_TRUE(ExtractZipPrefix(zip.string(), "overrides/", target.string()));
    EXPECT_EQ(FilesBelow(home.root() / "game"),
              (std::vector<std::string>{"versions/P/config/a.txt", "versions/P/config/b.txt",
                                        "versions/P/rooted.txt"}));
    EXPECT_EQ(ReadFile(target / "config" / "a.txt"), "A");  // replaced
    EXPECT_EQ(FilesBelow(home.root()).size(), 4u);           // the zip and the three files

    std::string bytes;
    EXPECT_TRUE(ReadZipEntry(zip.string(), "other/readme.txt", bytes));
    EXPECT_EQ(bytes, "O");
    EXPECT_FALSE(ReadZipEntry(zip.string(), "missing.txt", bytes));
    EXPECT_FALSE(ReadZipEntry((home.root() / "none.zip").string(), "manifest.json", bytes));
    EXPECT_FALSE(ExtractZipPrefix(zip.string(), "nothing-here/", target.string()));
    WriteFile(home.root() / "not.zip", "plain text");
    EXPECT_FALSE(ExtractZipPrefix((home.root() / "not.zip").string(), "overrides/", target.string()));
}

TEST(ModpackPlanReading, CurseForgeManifestAndEveryRefusal) {
    TempHome home;
    const fs::path zip = home.root() / "p.zip";
    const auto plan = [&](std::vector<std::pair<std::string, std::string>> entries, std::string& error) {
        WriteZip(zip, entries);
        ModpackPlan result;
        return ReadModpackPlan(zip.string(), result, error) ? result : ModpackPlan{};
    };
    std::string error;
    const ModpackPlan nomi =
        plan({{"manifest.json", ReadFile(fs::path(LUMIVALE_TEST_DATA) / "modpacks/curseforge-manifest-nomi-ceu.json")}},
             error);
    EXPECT_EQ(nomi.name, "nomi-ceu") << error;
    EXPECT_EQ(nomi.gameVersion, "1.12.2");
    EXPECT_EQ(nomi.forgeVersion, "14.23.5.2860");
    EXPECT_EQ(nomi.curseForgeFiles.size(), 129u);
    EXPECT_EQ(nomi.overrides, std::vector<std::string>{"overrides/"});
    EXPECT_FALSE(nomi.modrinth);
    EXPECT_EQ(PeekModpackGameVersion(zip.string()), "1.12.2");

    const ModpackPlan plain = plan(
        {{"manifest.json", R"({"minecraft":{"version":"1.20.1","modLoaders":[{"id":"fabric-0.15"},{"id":"forge-47.2.0"}]},"name":"P"})"}},
        error);
    EXPECT_EQ(plain.forgeVersion, "47.2.0");
    EXPECT_EQ(plain.overrides, std::vector<std::string>{"overrides/"});
    EXPECT_TRUE(plain.curseForgeFiles.empty());
    const ModpackPlan noForge = plan(
        {{"manifest.json", R"({"minecraft":{"version":"1.20.1","modLoaders":[{"id":"fabric-0.15"}]},"name":"P","overrides":"data"})"}},
        error);
    EXPECT_EQ(noForge.forgeVersion, "");
    EXPECT_EQ(noForge.overrides, std::vector<std::string>{"data/"});

    const std::vector<std::pair<std::string, std::string>> refusals{
        {"", "zip 内找不到 manifest.json"},
        {"{not json", "manifest.json 不是合法 JSON"},
        {R"([1,2])", "manifest 缺少 minecraft 段"},
        {R"({"name":"P","minecraft":"1.20.1"})", "manifest 缺少 minecraft 段"},
        {R"({"minecraft":{"version":"1.20.1"}})", "manifest 缺少 version 或 name"},
        {R"({"minecraft":{"version":""},"name":"P"})", "manifest 缺少 version 或 name"},
        {R"({"minecraft":{"version":"1.20.1"},"name":"../evil"})", "整合包名称无法用作文件夹名：../evil"},
        {R"({"minecraft":{"version":"1.20.1"},"name":".."})", "整合包名称无法用作文件夹名：.."},
        {R"({"minecraft":{"version":"1.20.1"},"name":"a\\b"})", "整合包名称无法用作文件夹名：a\\b"},
        {R"({"minecraft":{"version":"1.20.1"},"name":"a\nb"})", "整合包名称无法用作文件夹名：a\nb"},
        {R"({"minecraft":{"version":"../1.20.1"},"name":"P"})", "整合包的游戏版本无法用作文件夹名：../1.20.1"},
        {R"({"minecraft":{"version":"1.20.1","modLoaders":[{"id":"forge-../x"}]},"name":"P"})",
         "整合包的 Forge 版本无法用作文件名：../x"},
    };
    for (const auto& [manifest, message] : refusals) {
        error.clear();
        if (manifest.empty()) {
            plan({{"readme.txt", "no manifest"}}, error);
        } else {
            plan({{"manifest.json", manifest}}, error);
        }
        EXPECT_EQ(error, message) << manifest;
    }
}

TEST(ModpackPlanReading, ModrinthIndexFromTheFixtureAndLoadersWeCannotInstall) {
    const std::string fixture = ReadFile(fs::path(LUMIVALE_TEST_DATA) / "modpacks/modrinth.index.json");
    ModrinthIndex index;
    std::string error;
    ASSERT_TRUE(ParseModrinthIndex(fixture, index, error)) << error;
    EXPECT_EQ(index.name, "The 128MB Pack");
    EXPECT_EQ(index.gameVersion, "1.20.2");
    EXPECT_EQ(index.unsupportedLoader, "fabric-loader");
    ASSERT_EQ(index.files.size(), 8u);  // one is server-unsupported, none client-unsupported
    EXPECT_EQ(index.files[0].path, "mods/NoChatReports-FABRIC-1.20.2-v2.3.1.jar");
    EXPECT_EQ(index.files[0].sha1, "cb77c14bfc458066eda3c7962c3286e0f973725e");
    EXPECT_TRUE(index.files[0].url.starts_with("https://cdn.modrinth.com/"));

    TempHome home;
    const fs::path pack = home.root() / "p.mrpack";
    WriteZip(pack, {{"modrinth.index.json", fixture}});
    ModpackPlan plan;
    EXPECT_FALSE(ReadModpackPlan(pack.string(), plan, error));
    EXPECT_EQ(error, "暂不支持该整合包的加载器：fabric-loader");
    EXPECT_EQ(PeekModpackGameVersion(pack.string()), "1.20.2");

    json forge = json::parse(fixture);
    forge["dependencies"] = {{"minecraft", "1.20.1"}, {"forge", "47.2.0"}};
    WriteZip(pack, {{"modrinth.index.json", forge.dump()}});
    ASSERT_TRUE(ReadModpackPlan(pack.string(), plan, error)) << error;
    EXPECT_TRUE(plan.modrinth);
    EXPECT_EQ(plan.forgeVersion, "47.2.0");
    EXPECT_EQ(plan.overrides, (std::vector<std::string>{"overrides/", "client-overrides/"}));
    EXPECT_EQ(plan.modrinthFiles.size(), 8u);

    for (const char* loader : {"quilt-loader", "neoforge"}) {
        json other = forge;
        other["dependencies"][loader] = "1.0";
        WriteZip(pack, {{"modrinth.index.json", other.dump()}});
        EXPECT_FALSE(ReadModpackPlan(pack.string(), plan, error));
        EXPECT_EQ(error, std::string("暂不支持该整合包的加载器：") + loader);
    }
    EXPECT_FALSE(ParseModrinthIndex(R"({"formatVersion":2,"game":"minecraft"})", index, error));
    EXPECT_FALSE(ParseModrinthIndex("nope", index, error));
}

TEST(ForgeMergeTest, RealForgeJsonFoldsIntoTheVanillaOne) {
    const json vanilla = Fixture("versions/1.20.1.json");
    const json forge = Fixture("versions/1.20.1-forge-47.2.0.json");
    const json merged = MergeForgeVersionJson(vanilla, forge, "My Pack");

    EXPECT_EQ(merged["id"], "My Pack");
    EXPECT_FALSE(merged.contains("inheritsFrom"));
    EXPECT_EQ(merged["mainClass"], forge["mainClass"]);
    EXPECT_EQ(merged["time"], vanilla["time"]);
    EXPECT_EQ(merged["releaseTime"], vanilla["releaseTime"]);
    EXPECT_EQ(merged["assetIndex"], vanilla["assetIndex"]);
    EXPECT_EQ(merged["downloads"], vanilla["downloads"]);
    EXPECT_EQ(merged["arguments"]["game"].size(),
              vanilla["arguments"]["game"].size() + forge["arguments"]["game"].size());
    EXPECT_EQ(merged["arguments"]["jvm"].back(), forge["arguments"]["jvm"].back());
    // Every vanilla library keeps its place; the Forge ones follow.
    ASSERT_GE(merged["libraries"].size(), vanilla["libraries"].size());
    for (std::size_t i = 0; i < vanilla["libraries"].size(); ++i) {
        EXPECT_EQ(LibraryMergeKey(merged["libraries"][i]["name"]),
                  LibraryMergeKey(vanilla["libraries"][i]["name"]));
    }
    EXPECT_EQ(merged["libraries"].back(), forge["libraries"].back());

    const json legacy = MergeForgeVersionJson(Fixture("versions/1.12.2.json"),
                                              Fixture("versions/1.12.2-forge-14.23.5.2859.json"), "Old");
    EXPECT_NE(legacy["minecraftArguments"].get<std::string>().find("--tweakClass"), std::string::npos);
    EXPECT_EQ(legacy["logging"], Fixture("versions/1.12.2.json")["logging"]);  // Forge's is empty
}

TEST(ForgeMergeTest, LibraryKeysReplaceInPlaceAndClassifiersStayApart) {
    EXPECT_EQ(LibraryMergeKey("a.b:c:1.0"), "a.b:c");
    EXPECT_EQ(LibraryMergeKey("a.b:c:1.0:natives-linux"), "a.b:c:natives-linux");
    EXPECT_EQ(LibraryMergeKey("single"), "single");
    const json vanilla = {
        {"id", "1.20.1"}, {"time", "t0"}, {"mainClass", "Vanilla"},
        {"arguments", {{"game", {"--a"}}}},
        {"libraries", json::array({{{"name", "g:one:1"}}, {{"name", "g:two:1"}}, {{"url", "nameless"}}})}};
    const json forge = {
        {"id", "1.20.1-forge-1"}, {"inheritsFrom", "1.20.1"}, {"time", "t1"}, {"_comment_", "x"},
        {"mainClass", "Forge"}, {"assetIndex", json::object()}, {"type", ""}, {"extra", json::array()},
        {"arguments", json::object()},
        {"libraries", json::array({{{"name", "g:one:2"}}, {{"name", "g:two:1:universal"}}, {{"url", "nameless"}}})}};
    const json merged = MergeForgeVersionJson(vanilla, forge, "P");
    EXPECT_EQ(merged["libraries"],
              json::parse(R"([{"name":"g:one:2"},{"name":"g:two:1"},{"url":"nameless"},)"
                          R"({"name":"g:two:1:universal"},{"url":"nameless"}])"));
    EXPECT_EQ(merged["arguments"], vanilla["arguments"]);
    EXPECT_EQ(merged["mainClass"], "Forge");
    EXPECT_EQ(merged["time"], "t0");
    EXPECT_FALSE(merged.contains("assetIndex"));
    EXPECT_FALSE(merged.contains("type")) << merged.dump();
    EXPECT_FALSE(merged.contains("extra"));
    EXPECT_FALSE(merged.contains("_comment_"));
}

TEST(LegacyFolders, MoveOnlyWhereThePlaceIsFree) {
    TempHome home;
    const fs::path versions = home.root() / "versions";
    WriteFile(versions / "Pmods" / "old.jar", "jar");
    WriteFile(versions / "Pconfig" / "new.cfg", "legacy");
    WriteFile(versions / "P" / "config" / "keep.cfg", "proper");
    WriteFile(versions / "Pkubejs", "a file, not a folder");
    fs::create_directory(versions / "P" / "x");

    MigrateLegacyFolders(home.root().string(), "P");
    EXPECT_EQ(ReadFile(versions / "P" / "mods" / "old.jar"), "jar");
    EXPECT_FALSE(fs::exists(versions / "Pmods"));
    EXPECT_EQ(ReadFile(versions / "Pconfig" / "new.cfg"), "legacy");
    EXPECT_FALSE(fs::exists(versions / "P" / "config" / "new.cfg"));
    EXPECT_TRUE(fs::is_regular_file(versions / "Pkubejs"));
    EXPECT_FALSE(fs::exists(versions / "P" / "kubejs"));
    EXPECT_EQ(kLegacyFolderNames.front(), std::string("config"));
    EXPECT_EQ(kLegacyFolderNames.back(), std::string("ftbquests"));
}

TEST(ForgeFiles, LauncherProfilesPointAtThePackAndTreesGo) {
    TempHome home;
    const fs::path game = home.root();
    UpdateLauncherProfiles(game.string(), "P");  // no file: nothing happens
    EXPECT_FALSE(fs::exists(game / "launcher_profiles.json"));
    WriteFile(game / "launcher_profiles.json",
              R"({"profiles":{"a":{"name":"A","lastVersionId":"1.20.1"},"b":{},"c":5},"other":true})");
    UpdateLauncherProfiles(game.string(), "P");
    const json profiles = json::parse(ReadFile(game / "launcher_profiles.json"));
    EXPECT_EQ(profiles["profiles"]["a"]["lastVersionId"], "P");
    EXPECT_EQ(profiles["profiles"]["a"]["name"], "A");
    EXPECT_EQ(profiles["profiles"]["b"]["lastVersionId"], "P");
    EXPECT_EQ(profiles["profiles"]["c"], 5);
    EXPECT_EQ(profiles["other"], true);
    EXPECT_NE(ReadFile(game / "launcher_profiles.json").find("\n  \"other\""), std::string::npos);

    WriteFile(game / "tree" / "a" / "b" / "c.txt", "x");
    WriteFile(game / "outside" / "kept.txt", "x");
    fs::create_directory_symlink(game / "outside", game / "tree" / "link");
    EXPECT_TRUE(DeleteTree((game / "tree").string()));
    EXPECT_FALSE(fs::exists(game / "tree"));
    EXPECT_TRUE(fs::exists(game / "outside" / "kept.txt"));
    EXPECT_TRUE(DeleteTree((game / "never").string()));
}

TEST(ForgeFiles, InstallerProblemsEndTheStepWithTheirTexts) {
    TempHome home;
    const fs::path game = home.root() / "game";
    const fs::path program = home.root() / "program";
    fs::create_directories(game);
    WriteFile(program / "cache" / "forge-1.20.1-47.2.0-installer.jar", "cached, never checked");
    std::vector<std::string> statuses;
    const ModpackProgress progress = [&](int step, int total, int, const std::string& text) {
        EXPECT_EQ(step, 6);
        EXPECT_EQ(total, 7);
        statuses.push_back(text);
    };
    std::string error;
    EXPECT_FALSE(InstallForgeForModpack(game.string(), program.string(), "1.20.1", "47.2.0", "P", "",
                                        json::object(), progress, error));
    EXPECT_EQ(error, "未找到可用的 Java（安装 Forge 需要 Java 17+）");
    EXPECT_EQ(statuses, (std::vector<std::string>{"Forge 安装包已缓存，跳过下载", "正在静默安装 Forge（需要 Java）…"}));
    EXPECT_FALSE(fs::exists(game / "launcher_profiles.json"));

    // "auto" (no Java of the pack's version and nothing chosen) cannot start.
    EXPECT_FALSE(InstallForgeForModpack(game.string(), program.string(), "1.20.1", "47.2.0", "P", "auto",
                                        json::object(), progress, error));
    EXPECT_EQ(error, "Forge 安装失败：无法启动 Forge 安装程序（java 路径是否正确？）");
    EXPECT_EQ(ReadFile(game / "launcher_profiles.json"), kLauncherProfilesStub);
    EXPECT_TRUE(fs::exists(program / "log" / "forge-install.log"));

    // An existing file of another launcher is left as it is.
    WriteFile(game / "launcher_profiles.json", R"({"profiles":{"x":{}}})");
    EXPECT_FALSE(RunForgeInstaller("auto", "installer.jar", game.string(),
                                   (program / "log" / "forge-install.log").string(), error));
    EXPECT_EQ(ReadFile(game / "launcher_profiles.json"), R"({"profiles":{"x":{}}})");
}

TEST(ModTypes, ClassIdsFoldersIdsAndTheStoreCatalogue) {
    EXPECT_EQ(ModTypeForClassId(6552), "shader");
    EXPECT_EQ(ModTypeForClassId(4471), "shader");
    EXPECT_EQ(ModTypeForClassId(12), "resourcepack");
    EXPECT_EQ(ModTypeForClassId(4195), "resourcepack");
    EXPECT_EQ(ModTypeForClassId(6), "mod");
    EXPECT_EQ(ModTypeForClassId(0), "mod");
    EXPECT_EQ(FolderForModType("resourcepack"), "resourcepacks");
    EXPECT_EQ(FolderForModType("shader"), "shaderpacks");
    EXPECT_EQ(FolderForModType(""), "mods");
    EXPECT_EQ(FolderForModType("mod"), "mods");
    EXPECT_EQ(ModIdText(json(123)), ModIdText(json("123")));
    EXPECT_EQ(ModIdText(json(nullptr)), "");

    const ModCatalogue catalogue = ParseModCatalogue(
        R"({"success":true,"items":[{"project":"1","file":"2","name":"a.jar"},)"
        R"({"project":"3","file":"4","name":"old.zip","type":"resourcepack"},)"
        R"({"project":"3","file":"4","name":"new.zip","type":"resourcepack"},)"
        R"({"project":5,"file":"6","name":"numeric project: skipped"},{"project":"7","file":"8"}]})");
    ASSERT_EQ(catalogue.size(), 3u);
    EXPECT_EQ(catalogue.at("1:2").name, "a.jar");
    EXPECT_EQ(catalogue.at("1:2").type, "mod");
    EXPECT_EQ(catalogue.at("3:4").name, "new.zip");
    EXPECT_EQ(catalogue.at("7:8").name, "");
    EXPECT_TRUE(ParseModCatalogue("").empty());
    EXPECT_TRUE(ParseModCatalogue("<html>").empty());
}

TEST(ModpackEvents, FieldsInThePagesOrderAndTheJavaForForge) {
    EXPECT_EQ(ModpackProgressEvent(3, 7, 40, "资源文件 \"a\"\n"),
              R"({"type":"modpack:progress","step":3,"total":7,"pct":40,"status":"资源文件 \"a\"\n"})");
    EXPECT_EQ(ModpackDoneEvent(7, 4, 1, 0, 1),
              R"({"type":"modpack:done","total":7,"direct":4,"s3":1,"skipped":0,"failed":1})");
    EXPECT_EQ(ModpackErrorEvent("已有整合包正在导入中"), R"({"type":"modpack:error","reason":"已有整合包正在导入中"})");

    const std::vector<JavaInstall> javas{{"1.8.0_392", "/j8/java", false}, {"17.0.9", "/j17/java", false},
                                         {"17.0.2", "/other17/java", true}};
    EXPECT_EQ(JavaForModpack("1.20.1", javas, "auto"), "/j17/java");
    EXPECT_EQ(JavaForModpack("1.12.2", javas, "auto"), "/j8/java");
    EXPECT_EQ(JavaForModpack("1.21", javas, "auto"), "auto");  // no 21: the setting as it is
    EXPECT_EQ(JavaForModpack("1.21", javas, "/chosen/java"), "/chosen/java");
}

}  // namespace
}  // namespace lumivale::test
