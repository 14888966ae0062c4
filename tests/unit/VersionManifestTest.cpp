// Version JSON reading: the inheritsFrom merge, rules, argument lists, the class-path libraries,
// the parent jars, the jar scan and the download choice, on the real version JSON of 1.12.2,
// 1.20.1 and their Forge cores laid out in a fresh game folder.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "Paths.h"
#include "TempHome.h"
#include "VersionManifest.h"

#ifndef LUMIVALE_TEST_DATA
#error "LUMIVALE_TEST_DATA must name the fixtures folder"
#endif

namespace lumivale {
namespace {

using nlohmann::json;
namespace fs = std::filesystem;
using Strings = std::vector<std::string>;

json Fixture(const std::string& id) {
    return loadJsonFile(std::string(LUMIVALE_TEST_DATA) + "/versions/" + id + ".json");
}

class VersionManifestTest : public ::testing::Test {
protected:
    fs::path root() const { return home_.program() / ".minecraft"; }
    std::string rootText() const { return PathUtf8(root()); }
    std::string lib(const std::string& relative) const {
        return PathUtf8(root() / "libraries" / relative);
    }

    void installVersion(const std::string& id, const json& document, bool withJar = false) const {
        test::WriteFile(root() / "versions" / id / (id + ".json"), document.dump());
        if (withJar) test::WriteFile(root() / "versions" / id / (id + ".jar"), "jar");
    }
    void installFixture(const std::string& id) const { installVersion(id, Fixture(id)); }
    void touchLibrary(const std::string& relative) const { test::WriteFile(lib(relative), "jar"); }

    test::TempHome home_;
};

TEST_F(VersionManifestTest, LoadJsonFileGivesNullForAnythingButStrictJson) {
    const fs::path folder = home_.root();
    test::WriteFile(folder / "ok.json", R"({"b":1,"a":[true]})");
    test::WriteFile(folder / "comment.json", "{\"a\":1 /* no */}");
    test::WriteFile(folder / "broken.json", "{\"a\":");
    test::WriteFile(folder / "empty.json", "");
    test::WriteFile(folder / "\xE7\x89\x88\xE6\x9C\xAC.json", "[1]");

    EXPECT_EQ(loadJsonFile(PathUtf8(folder / "ok.json")), json::parse(R"({"a":[true],"b":1})"));
    EXPECT_EQ(loadJsonFile(PathUtf8(folder / "\xE7\x89\x88\xE6\x9C\xAC.json")), json::array({1}));
    for (const char* name : {"comment.json", "broken.json", "empty.json", "missing.json"}) {
        EXPECT_TRUE(loadJsonFile(PathUtf8(folder / name)).is_null()) << name;
    }
    EXPECT_TRUE(loadJsonFile(PathUtf8(folder)).is_null());  // a folder is not a file
    ASSERT_TRUE(Fixture("1.20.1").is_object());
}

TEST_F(VersionManifestTest, ForgeCoreMergesOntoItsParent) {
    installFixture("1.20.1");
    const json parent = Fixture("1.20.1");
    const json child = Fixture("1.20.1-forge-47.2.0");

    const VersionManifest merged = resolveVersionManifest(child, rootText());

    json expected = parent;  // id, assets, downloads, javaVersion... stay the parent's
    expected["mainClass"] = "cpw.mods.bootstraplauncher.BootstrapLauncher";
    expected["type"] = "release";
    for (const auto& library : child["libraries"]) expected["libraries"].push_back(library);
    for (const char* key : {"game", "jvm"}) {
        for (const auto& element : child["arguments"][key]) {
            expected["arguments"][key].push_back(element);
        }
    }
    EXPECT_EQ(merged, expected);
    EXPECT_EQ(merged["id"], "1.20.1");
    EXPECT_FALSE(merged.contains("_comment_"));
    EXPECT_FALSE(merged.contains("inheritsFrom"));
    ASSERT_EQ(merged["libraries"].size(), 88u + 29u);
    EXPECT_EQ(merged["libraries"][0]["name"], "ca.weblite:java-objc-bridge:1.1");
    EXPECT_EQ(merged["libraries"][88]["name"], "cpw.mods:securejarhandler:2.1.10");
}

TEST_F(VersionManifestTest, MergeKeepsChildAloneOrCreatesMissingContainers) {
    const json child = Fixture("1.12.2-forge-14.23.5.2859");
    // No parent on disk: the child as it is.
    EXPECT_EQ(resolveVersionManifest(child, rootText()), child);
    // No inheritsFrom, or one that is not a string.
    const json plain = json::parse(R"({"mainClass":"M","inheritsFrom":7})");
    installVersion("7", json::parse(R"({"mainClass":"P"})"));
    EXPECT_EQ(resolveVersionManifest(plain, rootText()), plain);

    // A parent without libraries or arguments, and one that itself inherits (kept, not merged).
    installVersion("base", json::parse(
        R"({"inheritsFrom":"grand","libraries":{"x":1},"arguments":[1],"assets":"old","z":1})"));
    installVersion("grand", json::parse(R"({"mainClass":"G","libraries":[{"name":"g:g:1"}]})"));
    const json derived = json::parse(R"({
        "inheritsFrom":"base","mainClass":"C","assets":null,"minecraftArguments":"--a",
        "libraries":[{"name":"c:c:1"}],"arguments":{"game":["--g"],"jvm":"not a list"},"z":2})");
    EXPECT_EQ(resolveVersionManifest(derived, rootText()), json::parse(R"({
        "inheritsFrom":"grand","mainClass":"C","assets":null,"minecraftArguments":"--a",
        "libraries":[{"name":"c:c:1"}],"arguments":{"game":["--g"]},"z":1})"));
}

TEST_F(VersionManifestTest, RulesFollowTheRunningSystem) {
    const auto rules = [](const char* text) { return evaluateRules(json::parse(text)); };
    EXPECT_TRUE(rules(R"([{"action":"allow"}])"));
    EXPECT_TRUE(rules(R"([{"action":"allow","os":{"name":"linux"}}])"));
    EXPECT_TRUE(rules(R"([{"action":"allow"},{"action":"disallow","os":{"name":"osx"}}])"));
    EXPECT_TRUE(rules(R"([1,"x",{"os":{"name":"linux"}},{"action":"allow"}])"));
    EXPECT_TRUE(rules(R"([{"action":"allow","os":"ignored"}])"));
    // Excluded.
    EXPECT_FALSE(rules("[]"));
    EXPECT_FALSE(rules(R"({"action":"allow"})"));
    EXPECT_FALSE(rules(R"([{"action":"allow","os":{"name":"windows"}}])"));
    EXPECT_FALSE(rules(R"([{"action":"allow","os":{"name":"Linux"}}])"));
    EXPECT_FALSE(rules(R"([{"action":"allow","os":{"arch":"x86"}}])"));
    EXPECT_FALSE(rules(R"([{"action":"allow"},{"action":"disallow","os":{"name":"linux"}}])"));
    EXPECT_FALSE(rules(R"([{"action":"disallow"},{"action":"allow"}])"));
    EXPECT_FALSE(rules(R"([{"action":"permit"}])"));
    // A rule with features never applies, whatever its value.
    EXPECT_FALSE(rules(R"([{"action":"allow","features":{"is_demo_user":true}}])"));
    EXPECT_FALSE(rules(R"([{"action":"allow","features":false}])"));
    EXPECT_TRUE(rules(R"([{"action":"allow"},{"action":"disallow","features":{}}])"));
    // A non-string action is a type error of the JSON library.
    EXPECT_THROW(rules(R"([{"action":1}])"), json::type_error);

    EXPECT_TRUE(libraryAllowed(json::parse(R"({"name":"a:b:1"})")));
    EXPECT_TRUE(libraryAllowed(json::parse(R"({"rules":{"action":"disallow"}})")));
    EXPECT_TRUE(libraryAllowed(json::parse(R"("not an object")")));
    EXPECT_FALSE(libraryAllowed(json::parse(R"({"rules":[]})")));
    EXPECT_FALSE(libraryAllowed(json::parse(R"({"rules":[{"action":"allow","os":{"name":"osx"}}]})")));
}

TEST_F(VersionManifestTest, ArgumentListsOfTheMergedForgeCore) {
    installFixture("1.20.1");
    const json child = Fixture("1.20.1-forge-47.2.0");
    const VersionManifest merged = resolveVersionManifest(child, rootText());

    Strings jvm = {"-Djava.library.path=${natives_directory}",
                   "-Djna.tmpdir=${natives_directory}",
                   "-Dorg.lwjgl.system.SharedLibraryExtractPath=${natives_directory}",
                   "-Dio.netty.native.workdir=${natives_directory}",
                   "-Dminecraft.launcher.brand=${launcher_name}",
                   "-Dminecraft.launcher.version=${launcher_version}",
                   "-cp",
                   "${classpath}"};
    for (const auto& element : child["arguments"]["jvm"]) {
        jvm.push_back(element.get<std::string>());
    }
    EXPECT_EQ(evaluateArgumentList(merged["arguments"]["jvm"]), jvm);

    const Strings game = {
        "--username", "${auth_player_name}", "--version", "${version_name}", "--gameDir",
        "${game_directory}", "--assetsDir", "${assets_root}", "--assetIndex", "${assets_index_name}",
        "--uuid", "${auth_uuid}", "--accessToken", "${auth_access_token}", "--clientId",
        "${clientid}", "--xuid", "${auth_xuid}", "--userType", "${user_type}", "--versionType",
        "${version_type}", "--launchTarget", "forgeclient", "--fml.forgeVersion", "47.2.0",
        "--fml.mcVersion", "1.20.1", "--fml.forgeGroup", "net.minecraftforge", "--fml.mcpVersion",
        "20230612.114412"};
    EXPECT_EQ(evaluateArgumentList(merged["arguments"]["game"]), game);

    EXPECT_EQ(evaluateArgumentList(json::parse(R"([
        "a", 5, null, {"value":"no-rules"}, {"rules":[],"value":"empty-rules"},
        {"rules":[{"action":"allow","os":{"name":"linux"}}],"value":["b",1,"c"]},
        {"rules":[{"action":"allow"}]}, {"value":{"x":1}}, ["nested"]])")),
              (Strings{"a", "no-rules", "b", "c"}));
    EXPECT_TRUE(evaluateArgumentList(json::parse(R"({"value":"x"})")).empty());
}

TEST_F(VersionManifestTest, LibraryVersionsCompareByParts) {
    EXPECT_EQ(compareLibraryVersions("3.2.10", "3.2.1"), 1);
    EXPECT_EQ(compareLibraryVersions("3.2.1", "3.2.10"), -1);
    EXPECT_EQ(compareLibraryVersions("2.15.0", "2.8.1"), 1);
    EXPECT_EQ(compareLibraryVersions("1.0", "1.0.0"), 0);
    EXPECT_EQ(compareLibraryVersions("1..2", "1.2"), 0);
    EXPECT_EQ(compareLibraryVersions("1-2+3@4", "1.2.3.4"), 0);
    EXPECT_EQ(compareLibraryVersions("007", "7"), 0);
    EXPECT_EQ(compareLibraryVersions("", ""), 0);
    // A number sorts below a text in the same place; a missing part reads as "0".
    EXPECT_EQ(compareLibraryVersions("1.0-beta", "1.0"), 1);
    EXPECT_EQ(compareLibraryVersions("31.1-jre", "31.1.1"), 1);
    EXPECT_EQ(compareLibraryVersions("4.1.82.Final", "4.1.82.1"), 1);
    // Texts: first differing byte, then the longer one.
    EXPECT_EQ(compareLibraryVersions("1.0-alpha", "1.0-beta"), -1);
    EXPECT_EQ(compareLibraryVersions("1.0-rc", "1.0-rc1"), -1);
    EXPECT_EQ(compareLibraryVersions("nightly-b", "nightly-a"), 1);
    // Numbers wider than 32 bits still compare by value.
    EXPECT_EQ(compareLibraryVersions("20230612114412", "2"), 1);
    EXPECT_EQ(compareLibraryVersions("99999999999", "99999999998"), 1);
    EXPECT_EQ(compareLibraryVersions("2.9.4-nightly-20150209", "2.9.4-nightly-20140822"), 1);
}

TEST_F(VersionManifestTest, ClasspathOfForge1122IsKeyOrderedAndNewestWins) {
    installFixture("1.12.2");
    const VersionManifest merged =
        resolveVersionManifest(Fixture("1.12.2-forge-14.23.5.2859"), rootText());
    for (const char* path : {
             "com/mojang/patchy/1.3.9/patchy-1.3.9.jar",
             "net/sf/jopt-simple/jopt-simple/5.0.3/jopt-simple-5.0.3.jar",
             "org/apache/logging/log4j/log4j-api/2.8.1/log4j-api-2.8.1.jar",
             "org/apache/logging/log4j/log4j-api/2.15.0/log4j-api-2.15.0.jar",
             "org/lwjgl/lwjgl/lwjgl/2.9.4-nightly-20150209/lwjgl-2.9.4-nightly-20150209.jar",
             "org/lwjgl/lwjgl/lwjgl/2.9.2-nightly-20140822/lwjgl-2.9.2-nightly-20140822.jar",
             "ca/weblite/java-objc-bridge/1.0.0/java-objc-bridge-1.0.0.jar",
             "net/java/jinput/jinput-platform/2.0.5/jinput-platform-2.0.5-natives-linux.jar",
             "com/mojang/text2speech/1.10.3/text2speech-1.10.3.jar",
             "com/mojang/text2speech/1.10.3/text2speech-1.10.3-natives-linux.jar",
             "net/minecraftforge/forge/1.12.2-14.23.5.2859/forge-1.12.2-14.23.5.2859.jar",
             "lzma/lzma/0.0.1/lzma-0.0.1.jar",
         }) {
        touchLibrary(path);
    }
    Strings out = {"already there"};
    collectClasspathLibraries(merged, rootText(), out);
    // Key order, not JSON order; log4j-api 2.15.0 of Forge beats 2.8.1 of the parent; osx-only
    // libraries and natives-only entries stay off.
    EXPECT_EQ(out, (Strings{
                       "already there",
                       lib("com/mojang/patchy/1.3.9/patchy-1.3.9.jar"),
                       lib("com/mojang/text2speech/1.10.3/text2speech-1.10.3.jar"),
                       lib("lzma/lzma/0.0.1/lzma-0.0.1.jar"),
                       lib("net/minecraftforge/forge/1.12.2-14.23.5.2859/forge-1.12.2-14.23.5.2859.jar"),
                       lib("net/sf/jopt-simple/jopt-simple/5.0.3/jopt-simple-5.0.3.jar"),
                       lib("org/apache/logging/log4j/log4j-api/2.15.0/log4j-api-2.15.0.jar"),
                       lib("org/lwjgl/lwjgl/lwjgl/2.9.4-nightly-20150209/lwjgl-2.9.4-nightly-20150209.jar"),
                   }));
}

TEST_F(VersionManifestTest, ClasspathKeysVersionsAndExclusions) {
    const auto library = [](const std::string& name, const std::string& path) {
        return json{{"name", name}, {"downloads", {{"artifact", {{"path", path}}}}}};
    };
    json libraries = json::array({
        library("g:old:3.2.1", "old-3.2.1.jar"), library("g:old:3.2.10", "old-3.2.10.jar"),
        library("g:new:3.2.10", "new-3.2.10.jar"), library("g:new:3.2.1", "new-3.2.1.jar"),
        library("g:tie:1.0", "tie-first.jar"), library("g:tie:1.0.0", "tie-second.jar"),
        library("g:nat:1:natives-linux", "nat-natives.jar"), library("g:nat:1", "nat.jar"),
        library("only:two", "two.jar"), library("nocolon", "nocolon.jar"),
        library("g:gone:1", "gone.jar"),                  // its file is missing
        library("g:newer-missing:1", "nm-1.jar"),         // the newer one is missing: nothing
        library("g:newer-missing:2", "nm-2.jar"),
        json{{"name", "g:nodl:1"}, {"url", "https://example.invalid/"}},
        json{{"name", "g:badpath:1"}, {"downloads", {{"artifact", {{"path", 5}}}}}},
        "not an object",
    });
    json excluded = library("g:ruled:1", "ruled.jar");
    excluded["rules"] = json::array();
    libraries.push_back(excluded);
    json allowed = library("a:first:1", "/abs/first.jar");  // stays below libraries/
    allowed["rules"] = json::parse(R"([{"action":"allow","os":{"name":"linux"}}])");
    libraries.push_back(allowed);

    for (const char* path : {"old-3.2.1.jar", "old-3.2.10.jar", "new-3.2.10.jar", "new-3.2.1.jar",
                             "tie-first.jar", "tie-second.jar", "nat-natives.jar", "nat.jar",
                             "two.jar", "nocolon.jar", "nm-1.jar", "ruled.jar", "abs/first.jar"}) {
        touchLibrary(path);
    }
    Strings out;
    collectClasspathLibraries(json{{"libraries", libraries}}, rootText(), out);
    EXPECT_EQ(out, (Strings{lib("abs/first.jar"), lib("nat.jar"), lib("nat-natives.jar"),
                            lib("new-3.2.10.jar"), lib("old-3.2.10.jar"), lib("tie-first.jar")}));

    Strings none;
    collectClasspathLibraries(json::parse(R"({"libraries":{"a":1}})"), rootText(), none);
    collectClasspathLibraries(json::parse("[]"), rootText(), none);
    EXPECT_TRUE(none.empty());
}

TEST_F(VersionManifestTest, ParentJarChainStopsAfterSixteen) {
    // v0 inherits v1 inherits ... v20; v5 has no jar but its JSON carries the chain on.
    for (int i = 0; i <= 20; ++i) {
        json document = {{"id", "v" + std::to_string(i)}};
        if (i < 20) document["inheritsFrom"] = "v" + std::to_string(i + 1);
        installVersion("v" + std::to_string(i), document, /*withJar=*/i != 5);
    }
    json core = Fixture("1.12.2");
    core["inheritsFrom"] = "v1";
    const VersionManifest merged = resolveVersionManifest(core, rootText());
    ASSERT_EQ(merged["inheritsFrom"], "v2");  // the merge carries the grandparent

    Strings out;
    collectParentJars(merged, rootText(), out);
    Strings expected;
    for (int i = 2; i < 2 + kMaxParentJars; ++i) {
        if (i != 5) expected.push_back(versionJarPath(rootText(), "v" + std::to_string(i)));
    }
    EXPECT_EQ(out, expected);
    EXPECT_EQ(out.front(), PathUtf8(root() / "versions" / "v2" / "v2.jar"));

    // A short chain ends where a JSON is missing.
    installVersion("lonely", json{{"inheritsFrom", "nowhere"}}, true);
    Strings shortChain;
    collectParentJars(json{{"inheritsFrom", "lonely"}}, rootText(), shortChain);
    EXPECT_EQ(shortChain, (Strings{versionJarPath(rootText(), "lonely")}));
}

TEST_F(VersionManifestTest, ScanJarsWalksDepthFirstInNameOrder) {
    const fs::path libraries = root() / "libraries";
    for (const char* path : {"b/x.JAR", "a/y.jar", "a/z.txt", "a/sub/w.jar", "top.jar", "jar",
                             "a/.jar", "c/d/e/deep.Jar"}) {
        test::WriteFile(libraries / path, "x");
    }
    fs::create_directories(libraries / "empty");
    fs::create_directory_symlink(libraries, libraries / "a" / "loop");  // not followed
    fs::create_directory(libraries / "folder.jar");                    // a folder, walked into

    Strings out = {"kept"};
    scanJars(PathUtf8(libraries), out);
    EXPECT_EQ(out, (Strings{"kept", lib("a/.jar"), lib("a/sub/w.jar"), lib("a/y.jar"),
                            lib("b/x.JAR"), lib("c/d/e/deep.Jar"), lib("top.jar")}));
    Strings missing;
    scanJars(PathUtf8(root() / "nothing"), missing);
    EXPECT_TRUE(missing.empty());
}

TEST_F(VersionManifestTest, FewerThanFiveEntriesFallBackToEveryLibraryJar) {
    installVersion("grand", json::object(), /*withJar=*/true);
    const std::string coreJar = PathUtf8(root() / "versions" / "core" / "core.jar");
    const json core = json::parse(R"({"libraries":[
        {"name":"a:a:1","downloads":{"artifact":{"path":"a/a-1.jar"}}},
        {"name":"b:b:1","downloads":{"artifact":{"path":"b/b-1.jar"}}},
        {"name":"c:c:1","downloads":{"artifact":{"path":"c/c-1.jar"}}}]})");
    for (const char* path : {"a/a-1.jar", "b/b-1.jar", "c/c-1.jar", "z/stray.jar", "b/old.jar"}) {
        touchLibrary(path);
    }
    json withParent = core;
    withParent["inheritsFrom"] = "grand";

    // Core jar + 3 libraries = 4: every jar below libraries/ instead, then the parent jars.
    EXPECT_EQ(buildClasspathEntries(withParent, rootText(), coreJar),
              (Strings{coreJar, lib("a/a-1.jar"), lib("b/b-1.jar"), lib("b/old.jar"),
                       lib("c/c-1.jar"), lib("z/stray.jar"), versionJarPath(rootText(), "grand")}));

    // Five entries: the chosen libraries stand.
    json five = core;
    five["libraries"].push_back(json::parse(R"({"name":"d:d:1","downloads":{"artifact":{"path":"d/d-1.jar"}}})"));
    touchLibrary("d/d-1.jar");
    EXPECT_EQ(buildClasspathEntries(five, rootText(), coreJar),
              (Strings{coreJar, lib("a/a-1.jar"), lib("b/b-1.jar"), lib("c/c-1.jar"),
                       lib("d/d-1.jar")}));
}

TEST_F(VersionManifestTest, DownloadChoicePrefersThisSystemsNatives) {
    const json vanilla = Fixture("1.12.2");
    const auto find = [&](const std::string& name, int nth = 0) {
        for (const auto& library : vanilla["libraries"]) {
            if (library["name"] == name && nth-- == 0) return library;
        }
        return json();
    };
    struct Case {
        json library;
        bool chosen;
        std::string path;
    };
    const std::string base = "https://libraries.minecraft.net/";
    const std::vector<Case> cases = {
        {find("org.lwjgl.lwjgl:lwjgl-platform:2.9.4-nightly-20150209"), true,
         "org/lwjgl/lwjgl/lwjgl-platform/2.9.4-nightly-20150209/"
         "lwjgl-platform-2.9.4-nightly-20150209-natives-linux.jar"},
        {find("net.java.jinput:jinput-platform:2.0.5"), true,
         "net/java/jinput/jinput-platform/2.0.5/jinput-platform-2.0.5-natives-linux.jar"},
        {find("com.mojang:text2speech:1.10.3", 1), true,
         "com/mojang/text2speech/1.10.3/text2speech-1.10.3-natives-linux.jar"},
        {find("com.mojang:text2speech:1.10.3", 0), true,
         "com/mojang/text2speech/1.10.3/text2speech-1.10.3.jar"},
        {find("com.mojang:patchy:1.3.9"), true, "com/mojang/patchy/1.3.9/patchy-1.3.9.jar"},
        {find("org.lwjgl.lwjgl:lwjgl-platform:2.9.2-nightly-20140822"), false, ""},  // osx only
        {find("ca.weblite:java-objc-bridge:1.0.0"), false, ""},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(c.library.is_object());
        std::string url = "unchanged";
        std::string path = "unchanged";
        EXPECT_EQ(selectLibraryDownload(c.library, url, path), c.chosen) << c.library["name"];
        if (c.chosen) {
            EXPECT_EQ(path, c.path);
            EXPECT_EQ(url, base + c.path);
        } else {
            EXPECT_EQ(url, "unchanged");
            EXPECT_EQ(path, "unchanged");
        }
    }

    const auto pick = [](const char* text) {
        std::string url, path;
        const bool chosen = selectLibraryDownload(json::parse(text), url, path);
        return chosen ? url + " " + path : std::string("none");
    };
    // The classifier is taken literally; without its entry the artifact serves.
    EXPECT_EQ(pick(R"({"natives":{"linux":"natives-linux-${arch}"},"downloads":{
        "classifiers":{"natives-linux-64":{"url":"u64","path":"p64"}},
        "artifact":{"url":"ua","path":"pa"}}})"), "ua pa");
    EXPECT_EQ(pick(R"({"natives":{"windows":"natives-windows"},"downloads":{
        "classifiers":{"natives-windows":{"url":"uw","path":"pw"}},
        "artifact":{"url":"ua","path":"pa"}}})"), "ua pa");
    EXPECT_EQ(pick(R"({"natives":{"linux":"natives-linux"},"downloads":{
        "classifiers":{"natives-linux":{"url":"un"}},"artifact":{"url":"ua","path":"pa"}}})"),
              "ua pa");
    EXPECT_EQ(pick(R"({"natives":{"linux":"natives-linux"},"downloads":{
        "classifiers":{"natives-linux":{"url":"un","path":"pn"}}}})"), "un pn");
    EXPECT_EQ(pick(R"({"downloads":{"artifact":{"path":"pa"}}})"), "none");
    EXPECT_EQ(pick(R"({"name":"a:b:1","url":"https://maven.example.invalid/"})"), "none");
    EXPECT_EQ(pick(R"({"rules":[],"downloads":{"artifact":{"url":"ua","path":"pa"}}})"), "none");
}

}  // namespace
}  // namespace lumivale
