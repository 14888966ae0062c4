// Version JSON reading on the real 1.12.2, 1.20.1 and Forge JSON laid out in a fresh game folder.
#include <gtest/gtest.h>

#include <filesystem>

#include "LaunchTestKit.h"
#include "VersionManifest.h"

namespace lumivale::test {
namespace {

using nlohmann::json;

class VersionManifestTest : public GameFolder {};

json Library(const std::string& name, const std::string& path) {
    return {{"name", name}, {"downloads", {{"artifact", {{"path", path}}}}}};
}

TEST(VersionManifestRules, RulesAndArgumentListsFollowTheRunningSystem) {
    const std::vector<std::pair<const char*, bool>> cases = {
        {R"([{"action":"allow"}])", true}, {R"([{"action":"allow","os":{"name":"linux"}}])", true},
        {R"([1,{"action":"allow"},{"action":"disallow","os":{"name":"osx"}}])", true},
        {R"([{"action":"allow"},{"action":"disallow","features":{}}])", true}, {"[]", false}, {R"({"action":"allow"})", false},
        {R"([{"action":"allow","os":{"name":"Linux"}}])", false}, {R"([{"action":"allow","os":{"arch":"x86"}}])", false},
        {R"([{"action":"allow"},{"action":"disallow","os":{"name":"linux"}}])", false},
        {R"([{"action":"disallow"},{"action":"allow"}])", false}, {R"([{"action":"allow","features":{"demo":true}}])", false}};
    for (const auto& [rules, allowed] : cases) {
        EXPECT_EQ(evaluateRules(json::parse(ForThisSystem(rules))), allowed) << rules;
    }
    EXPECT_TRUE(libraryAllowed(json::parse(R"({"rules":{"action":"disallow"}})")));
    EXPECT_FALSE(libraryAllowed(json::parse(R"({"rules":[]})")));

    EXPECT_EQ(evaluateArgumentList(json::parse(ForThisSystem(R"(["a", 5, {"value":"no-rules"}, {"rules":[],"value":"x"},
        {"rules":[{"action":"allow","os":{"name":"linux"}}],"value":["b",1,"c"]}, {"value":{"x":1}}])"))),
              (Strings{"a", "no-rules", "b", "c"}));
}

TEST(VersionManifestRules, LibraryVersionsCompareByParts) {
    const std::vector<std::tuple<const char*, const char*, int>> cases = {
        {"3.2.10", "3.2.1", 1}, {"2.15.0", "2.8.1", 1}, {"1.0", "1.0.0", 0}, {"1-2+3@4", "1..2.3.4", 0}, {"007", "7", 0},
        {"1.0-beta", "1.0", 1}, {"4.1.82.Final", "4.1.82.1", 1},  // a number sorts below a text
        {"1.0-alpha", "1.0-beta", -1}, {"1.0-rc", "1.0-rc1", -1}, {"20230612114412", "2", 1}, {"99999999999", "99999999998", 1}};
    for (const auto& [a, b, order] : cases) {
        EXPECT_EQ(compareLibraryVersions(a, b), order) << a << " " << b;
        EXPECT_EQ(compareLibraryVersions(b, a), -order) << b << " " << a;
    }
}

TEST(VersionManifestRules, LibraryNamesGiveTheirMavenPathAndOddNamesNone) {
    const std::vector<std::pair<const char*, const char*>> names = {
        {"net.fabricmc:fabric-loader:0.16.5", "net/fabricmc/fabric-loader/0.16.5/fabric-loader-0.16.5.jar"},
        {"org.lwjgl:lwjgl:3.3.3:natives-linux", "org/lwjgl/lwjgl/3.3.3/lwjgl-3.3.3-natives-linux.jar"},
        {"net.neoforged:mergetool:2.0.3:api@jar", "net/neoforged/mergetool/2.0.3/mergetool-2.0.3-api.jar"},
        {"de.oceanlabs.mcp:mcp_config:1.20.1@zip", "de/oceanlabs/mcp/mcp_config/1.20.1/mcp_config-1.20.1.zip"},
        {"a:b", ""}, {"a:b:1:c:d", ""}, {"a..b:c:1", ""}, {"a:..:1", ""}, {"a:b:1@", ""}, {"a:b/c:1", ""},
        {"a:b:1@x/y", ""}, {"a:b\\c:1", ""}, {":b:1", ""}};
    for (const auto& [name, path] : names) {
        const auto parsed = parseLibraryName(name);
        EXPECT_EQ(parsed ? libraryPath(*parsed) : "", path) << name;
    }
}

TEST(VersionManifestRules, LibraryFilesForThisSystemWithTheirDeclaredHashes) {
    const auto files = [](const json& library) {
        Strings out;
        for (const LibraryFile& f : libraryFiles(library, "https://libraries.invalid/")) {
            out.push_back(f.path + " " + f.url + " " + f.sha1 + " " + std::to_string(f.size));
        }
        return out;
    };
    const json v189 = Fixture("1.8.9")["libraries"];
    const json forge = Fixture("forge-1.7.10-10.13.4.1614-install_profile")["versionInfo"]["libraries"];
    const std::string platform = "org/lwjgl/lwjgl/lwjgl-platform/2.9.4-nightly-20150209/lwjgl-platform-2.9.4-nightly-20150209";
#if defined(_WIN32)
    const std::string natives = platform + "-natives-windows.jar https://libraries.minecraft.net/" + platform +
                                "-natives-windows.jar b84d5102b9dbfabfeb5e43c7e2828d98a7fc80e0 613748";
    const std::string twitch = "tv/twitch/twitch-external-platform/4.5/twitch-external-platform-4.5-natives-windows-64.jar";
    const Strings windowsOnly = {twitch + " https://libraries.minecraft.net/" + twitch + " c3cde57891b935d41b6680a9c5e1502eeab76d86 7457619"};
#else
    const std::string natives = platform + "-natives-linux.jar https://libraries.minecraft.net/" + platform +
                                "-natives-linux.jar 931074f46c795d2f7b30ed6395df5715cfd7675b 578680";
    const Strings windowsOnly;
#endif
    const std::vector<std::pair<json, Strings>> cases = {
        // An artifact beside old-form natives: both, each with what it declares.
        {v189[29], {platform + ".jar https://libraries.minecraft.net/" + platform + ".jar b04f3ee8f5e43fa3b162981b50bb72fe1acabb33 22",
                    natives}},
        {v189[31], {}},   // macOS only
        {v189.back(), windowsOnly},
        // Named only by coordinates: the library's own base, else the official one.
        {forge[3], {"com/typesafe/akka/akka-actor_2.11/2.3.3/akka-actor_2.11-2.3.3.jar https://maven.minecraftforge.net/com/"
                    "typesafe/akka/akka-actor_2.11/2.3.3/akka-actor_2.11-2.3.3.jar  -1"}},
        {forge[1], {"net/minecraft/launchwrapper/1.12/launchwrapper-1.12.jar https://libraries.invalid/net/minecraft/"
                    "launchwrapper/1.12/launchwrapper-1.12.jar  -1"}},
        {json::parse(ForThisSystem(R"({"name":"g:a:1","url":"http://maven.invalid/x","natives":{"linux":"natives-${arch}"}})")),
         {"g/a/1/a-1-natives-64.jar http://maven.invalid/x/g/a/1/a-1-natives-64.jar  -1"}},
        {json::parse(R"({"name":"g:a:1","downloads":{"artifact":{"url":"http://h.invalid/a.jar","size":3}}})"),
         {"g/a/1/a-1.jar http://h.invalid/a.jar  3"}},  // an artifact without a path: the name gives it
        {json::parse(R"({"name":"g:a:1","downloads":{"artifact":{"path":"p.jar","url":""}}})"), {"p.jar   -1"}}};
    for (const auto& [library, expected] : cases) EXPECT_EQ(files(library), expected) << library.dump();
}

TEST_F(VersionManifestTest, ClasspathOfForge1122IsKeyOrderedNewestWinsAndExistingOnly) {
    installFixture("1.12.2");
    const VersionManifest merged = resolveVersionManifest(Fixture("1.12.2-forge-14.23.5.2859"), rootText());
    for (const char* path : {"com/mojang/patchy/1.3.9/patchy-1.3.9.jar", "lzma/lzma/0.0.1/lzma-0.0.1.jar",
                             "org/apache/logging/log4j/log4j-api/2.8.1/log4j-api-2.8.1.jar",
                             "org/apache/logging/log4j/log4j-api/2.15.0/log4j-api-2.15.0.jar",
                             "ca/weblite/java-objc-bridge/1.0.0/java-objc-bridge-1.0.0.jar",  // osx only
                             "com/mojang/text2speech/1.10.3/text2speech-1.10.3-natives-linux.jar"}) {  // natives only
        touchLibrary(path);
    }
    Strings out = {"kept"};
    collectClasspathLibraries(merged, rootText(), out);
    EXPECT_EQ(out, (Strings{"kept", lib("com/mojang/patchy/1.3.9/patchy-1.3.9.jar"), lib("lzma/lzma/0.0.1/lzma-0.0.1.jar"),
                            lib("org/apache/logging/log4j/log4j-api/2.15.0/log4j-api-2.15.0.jar")}));

    // Ties keep the first, a classifier is its own key, a missing newer one leaves nothing, absolute paths stay in.
    const json libraries = {Library("g:tie:1.0", "tie-1.jar"), Library("g:tie:1.0.0", "tie-2.jar"),
                            Library("g:nat:1:natives-linux", "nat-n.jar"), Library("g:nat:1", "nat.jar"),
                            Library("g:nm:1", "nm-1.jar"), Library("g:nm:2", "nm-2.jar"), Library("nocolon", "nc.jar"),
                            Library("a:abs:1", "/abs/a.jar")};
    for (const char* path : {"tie-1.jar", "tie-2.jar", "nat-n.jar", "nat.jar", "nm-1.jar", "nc.jar", "abs/a.jar"}) {
        touchLibrary(path);
    }
    Strings chosen;
    collectClasspathLibraries(json{{"libraries", libraries}}, rootText(), chosen);
    EXPECT_EQ(chosen, (Strings{lib("abs/a.jar"), lib("nat.jar"), lib("nat-n.jar"), lib("tie-1.jar")}));
}

TEST_F(VersionManifestTest, ClasspathFallsBackToEveryJarBelowFiveEntriesThenAddsSixteenParentJars) {
    // v1 inherits v2 ... inherits v20; v5 has no jar but its JSON carries the chain on.
    for (int i = 1; i <= 20; ++i) {
        json document = {{"id", "v" + std::to_string(i)}};
        if (i < 20) document["inheritsFrom"] = "v" + std::to_string(i + 1);
        installVersion("v" + std::to_string(i), document, i != 5);
    }
    json core = {{"inheritsFrom", "v1"},
                 {"libraries", {Library("a:a:1", "a/a-1.jar"), Library("b:b:1", "b/b-1.jar"), Library("c:c:1", "c/c-1.jar")}}};
    for (const char* path : {"a/a-1.jar", "b/b-1.jar", "c/c-1.jar", "b/old.JAR", "z/z/stray.jar", "z.txt"}) touchLibrary(path);
#if !defined(_WIN32)  // a folder link needs privileges on Windows, and Wine makes none
    fs::create_directory_symlink(root() / "libraries", root() / "libraries" / "a" / "loop");  // not followed
#endif
    const VersionManifest merged = resolveVersionManifest(core, rootText());
    const std::string coreJar = "core.jar";
    Strings expected = {coreJar};  // found on disk: written as the system writes paths
    for (const char* jar : {"a/a-1.jar", "b/b-1.jar", "b/old.JAR", "c/c-1.jar", "z/z/stray.jar"}) {
        expected.push_back(Native(lib(jar)));
    }
    for (int i = 2; i < 2 + kMaxParentJars; ++i) {
        if (i != 5) expected.push_back(versionJarPath(rootText(), "v" + std::to_string(i)));
    }
    EXPECT_EQ(buildClasspathEntries(merged, rootText(), coreJar), expected);

    // Five entries: the chosen libraries stand.
    core.erase("inheritsFrom");
    core["libraries"].push_back(Library("d:d:1", "d/d-1.jar"));
    touchLibrary("d/d-1.jar");
    EXPECT_EQ(buildClasspathEntries(core, rootText(), coreJar),
              (Strings{coreJar, lib("a/a-1.jar"), lib("b/b-1.jar"), lib("c/c-1.jar"), lib("d/d-1.jar")}));

    // A core that inherits from itself, and two that inherit from each other: each jar once.
    installVersion("self", {{"id", "self"}, {"inheritsFrom", "self"}});
    installVersion("ping", {{"id", "ping"}, {"inheritsFrom", "pong"}});
    installVersion("pong", {{"id", "pong"}, {"inheritsFrom", "ping"}});
    const std::string self = versionJarPath(rootText(), "self"), ping = versionJarPath(rootText(), "ping");
    Strings jars;
    collectParentJars(json{{"inheritsFrom", "self"}}, rootText(), jars);
    EXPECT_EQ(jars, Strings{self});
    jars = {ping};
    collectParentJars(json{{"inheritsFrom", "pong"}}, rootText(), jars);
    EXPECT_EQ(jars, (Strings{ping, versionJarPath(rootText(), "pong")}));
}

}  // namespace
}  // namespace lumivale::test
