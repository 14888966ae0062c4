// The Java command of a launch from real version JSONs and natives jars, and the natives extraction.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <regex>
#include <set>

#include "LaunchCommand.h"
#include "LaunchFiles.h"
#include "CoreCatalogue.h"
#include "LaunchTestKit.h"
#include "Log.h"
#include "Resources.h"
#include "VersionManifest.h"

namespace lumivale::test {
namespace {

using nlohmann::json;

const Strings kFixedOptions = {
    "--add-opens", "java.base/java.lang.invoke=ALL-UNNAMED", "--add-opens", "java.base/java.lang.reflect=ALL-UNNAMED",
    "--add-opens", "java.base/java.util=ALL-UNNAMED",
    "-XX:HeapDumpPath=MojangTricksIntelDriversForPerformance_javaw.exe_minecraft.exe.heapdump"};

// 1.20.1's JVM arguments that only Windows gets.
#if defined(_WIN32)
const Strings kParentOnThisSystem = {kFixedOptions.back()};
#else
const Strings kParentOnThisSystem;
#endif

std::string Join(const Strings& parts, const std::string& separator) {
    std::string out;
    for (std::size_t i = 0; i < parts.size(); ++i) out += (i ? separator : "") + parts[i];
    return out;
}

Strings Concat(std::initializer_list<Strings> lists) {
    Strings out;
    for (const auto& list : lists) out.insert(out.end(), list.begin(), list.end());
    return out;
}

TEST(LaunchCommandText, SplittingPlaceholdersAndMasking) {
    EXPECT_EQ(splitCustomJvmArgs(" a\tb\nc\vd\fe\rf \"-Da=b c\" "), (Strings{"a", "b", "c", "d", "e", "f", "\"-Da=b", "c\""}));
    // Table order; the search goes on after an inserted value, so a value naming itself ends.
    EXPECT_EQ(substitutePlaceholders("${a}|${n}/${n}|${x}", {{"a", "${a}${b}"}, {"b", "B"}, {"n", "S"}}), "${a}B|S/S|${x}");
    EXPECT_EQ(maskSecret("--accessToken tok --x tok2", "tok"), "--accessToken *** --x ***2");
    EXPECT_EQ(maskSecret("aaaa", "aa"), "******");
    EXPECT_EQ(maskSecret("kept", ""), "kept");  // no token when signed out
    EXPECT_EQ(authServerPart("https://skin.example.invalid:8443/api/yggdrasil"), "skin.example.invalid:8443");
}

class LaunchCommandTest : public GameFolder {
protected:
    LaunchCommandTest() { SetConsoleLogToStderr(false); }

    LaunchRequest requestFor(const std::string& id) const {
        LaunchRequest request;
        request.javaPath = "/usr/lib/jvm/java-17/bin/java";
        request.gameRoot = rootText();
        request.coreId = id;
        request.coreFolder = request.gameDirectory = folderOf(id);
        request.coreJar = folderOf(id) + "/" + id + ".jar";
        request.memoryMb = 4096;
        request.options = buildOptionList("g1_std", "");
        request.playerName = "Steve";
        request.playerUuid = "0123456789abcdef0123456789abcdef";
        request.accessToken = "token-1";
        request.launchId = "launch-1";
        return request;
    }
    LaunchRequest smallCore(const json& extra) const {
        json document = {{"mainClass", "Main"}};
        document.update(extra);
        installVersion("small", document);
        return requestFor("small");
    }
    std::string natives(const std::string& id) const { return Native(folderOf(id) + "/natives_cache/" + id); }
};

TEST_F(LaunchCommandTest, Vanilla1122WithThisSystemsNativesAndLegacyArguments) {
    installFixture("1.12.2");
    const Strings libraries = {"com/mojang/patchy/1.3.9/patchy-1.3.9.jar",
                               "net/sf/jopt-simple/jopt-simple/5.0.3/jopt-simple-5.0.3.jar",
                               "org/apache/logging/log4j/log4j-api/2.8.1/log4j-api-2.8.1.jar",
                               "org/lwjgl/lwjgl/lwjgl/2.9.4-nightly-20150209/lwjgl-2.9.4-nightly-20150209.jar",
                               "org/lwjgl/lwjgl/lwjgl_util/2.9.4-nightly-20150209/lwjgl_util-2.9.4-nightly-20150209.jar"};
    for (const auto& path : libraries) touchLibrary(path);
    const std::string platform = "org/lwjgl/lwjgl/lwjgl-platform/2.9.4-nightly-20150209/lwjgl-platform-2.9.4-nightly-20150209";
    zipLibrary(platform + ForThisSystem("-natives-linux.jar"), {{"META-INF/MANIFEST.MF", "m"}, {"liblwjgl64.so", "elf"}, {"readme.txt", "r"}});
    const std::string elsewhere = std::string(platform_constants::kOsName) == "linux" ? "windows" : "linux";
    zipLibrary(platform + "-natives-" + elsewhere + ".jar", {{"lwjgl64.dll", "pe"}});  // another system's

    const LaunchRequest request = requestFor("1.12.2");
    const LaunchPlan plan = buildLaunchCommand(request);
    ASSERT_TRUE(plan.success) << plan.error;
    Strings classpath = {request.coreJar};
    for (const auto& path : libraries) classpath.push_back(lib(path));
    const std::string n = natives("1.12.2");
    const Strings expected = Concat({
        {request.javaPath, "-Dlumivale.launch.id=launch-1", "-Xmx4096M", "-Xms4096M"}, kFixedOptions,
        {"-Djna.tmpdir=" + n, "-Dorg.lwjgl.system.SharedLibraryExtractPath=" + n, "-Dio.netty.native.workdir=" + n,
         "-XX:+UseG1GC", "-Djava.library.path=" + n, "-cp", Join(classpath, kClassPathSeparator), "net.minecraft.client.main.Main",
         "--username", "Steve", "--version", "1.12.2", "--gameDir", folderOf("1.12.2"), "--assetsDir",
         Native(rootText() + "/assets"), "--assetIndex", "1.12", "--uuid", request.playerUuid, "--accessToken", "token-1",
         "--userType", "mojang", "--versionType", "release"},
    });
    EXPECT_EQ(plan.arguments, expected);
    EXPECT_EQ(plan.commandLine, Join(expected, " "));
    EXPECT_EQ(ReadFile(fs::path(n) / "liblwjgl64.so"), "elf");
    for (const char* other : {"lwjgl64.dll", "readme.txt", "META-INF"}) EXPECT_FALSE(fs::exists(fs::path(n) / other));
}

TEST_F(LaunchCommandTest, Forge1201OverItsParentWithQuickJoinAgentAndOwnHeap) {
    installFixture("1.20.1");
    installFixture("1.20.1-forge-47.2.0");
    const std::string nativesJar = ForThisSystem("org/lwjgl/lwjgl-glfw/3.3.1/lwjgl-glfw-3.3.1-natives-linux.jar");
    zipLibrary(nativesJar, {{"linux/x64/org/lwjgl/glfw/libglfw.so", "glfw"}, {"META-INF/x.so", "no"}});
    const std::string id = "1.20.1-forge-47.2.0";
    LaunchRequest request = requestFor(id);
    request.options = buildOptionList("zgc", "-Xmx2048M");
    request.serverAddress = "play.example.invalid";
    request.serverPort = 0;  // outside 1..65535: the default port
    request.authRoot = "https://skin.example.invalid:8443/api/yggdrasil";
    request.launchId.clear();
    testing::internal::CaptureStdout();
    LaunchPlan plan = buildLaunchCommand(request);
    const std::string console = testing::internal::GetCapturedStdout();
    ASSERT_TRUE(plan.success) << plan.error;

    // The client id is a fresh UUID: its form, then the rest whole.
    const auto clientId = std::find(plan.arguments.begin(), plan.arguments.end(), "--clientId");
    ASSERT_LT(clientId + 1, plan.arguments.end());
    EXPECT_TRUE(std::regex_match(clientId[1], std::regex("[0-9a-f]{8}(-[0-9a-f]{4}){3}-[0-9a-f]{12}"))) << clientId[1];
    clientId[1] = "<uuid>";

    // Forge's own argument texts with the placeholders they use filled in.
    const std::string game = folderOf(id), n = natives(id);
    const std::vector<std::pair<std::string, std::string>> filled = {
        {"${library_directory}", Native(rootText() + "/libraries")}, {"${classpath_separator}", kClassPathSeparator}, {"${version_name}", id}};
    const json forgeJson = Fixture(id);
    const auto forge = [&](const char* key) {
        Strings out;
        for (std::string text : forgeJson["arguments"][key]) {
            for (const auto& [name, value] : filled) {
                for (auto at = text.find(name); at != text.npos; at = text.find(name)) text.replace(at, name.size(), value);
            }
            out.push_back(text);
        }
        return out;
    };
    Strings agent;
    if (!GetResource(IDR_AGENT_JAR).empty()) {
        agent = {"-javaagent:" + Native(game + "/authlib-injector-1.2.8.jar") + "=skin.example.invalid:8443"};
        EXPECT_TRUE(fs::exists(fs::path(game) / "authlib-injector-1.2.8.jar"));
    } else {
        EXPECT_NE(console.find(kAgentExtractFailedMessage), std::string::npos) << console;
    }
    const Strings expected = Concat({
        {request.javaPath}, agent, kFixedOptions,  // the player's -Xmx replaces both memory flags
        {"-Djna.tmpdir=" + n, "-Dorg.lwjgl.system.SharedLibraryExtractPath=" + n, "-Dio.netty.native.workdir=" + n,
         "-XX:+UnlockExperimentalVMOptions", "-XX:+UseZGC", "-XX:+AlwaysPreTouch", "-Xmx2048M"},
        // The parent's JVM arguments here, then Forge's; below five entries every library jar is the class path.
        kParentOnThisSystem,
        {"-Djava.library.path=" + n, "-Djna.tmpdir=" + n, "-Dorg.lwjgl.system.SharedLibraryExtractPath=" + n,
         "-Dio.netty.native.workdir=" + n, "-Dminecraft.launcher.brand=LumivaleLauncher", "-Dminecraft.launcher.version=1.0",
         "-cp", request.coreJar + kClassPathSeparator + Native(lib(nativesJar))},
        forge("jvm"),
        {"cpw.mods.bootstraplauncher.BootstrapLauncher", "--username", "Steve", "--version", id, "--gameDir", game,
         "--assetsDir", Native(rootText() + "/assets"), "--assetIndex", "5", "--uuid", request.playerUuid, "--accessToken", "token-1",
         "--clientId", "<uuid>", "--xuid", request.playerUuid, "--userType", "mojang", "--versionType", "release"},
        forge("game"),
        {"--server", "play.example.invalid", "--port", "25565"},
    });
    EXPECT_EQ(plan.arguments, expected);
    EXPECT_EQ(ReadFile(fs::path(n) / "linux/x64/org/lwjgl/glfw/libglfw.so"), "glfw");
    EXPECT_FALSE(fs::exists(fs::path(n) / "META-INF"));
}

// Every era in one shared game folder: main class, class path, this version's natives only, the arguments.
TEST_F(LaunchCommandTest, RealVersionsOfEveryEraStartFromOneSharedGameFolder) {
#if defined(_WIN32)
    // The counts are Linux's; Windows rules are checked by VersionManifestRules and the commands above.
    GTEST_SKIP() << "the expectations are Linux's";
#endif
    using Pairs = std::vector<std::pair<std::string, std::string>>;  // an argument and the next one
    struct Era {
        std::string id, fixture, parent, mainClass, realVersion;
        int javaMajor;
        std::size_t libraries;  // class-path entries after the core jar
        Strings first;          // the first of them, below libraries/
        Strings natives;        // what the natives folder holds
        Pairs arguments;
    };
    const std::string forge = "1.7.10-Forge10.13.4.1614-1.7.10", legacy = "net.minecraft.launchwrapper.Launch",
                      main = "net.minecraft.client.main.Main", jinput = "jinput-platform-2.0.5-natives-linux.so",
                      session = "token:token-1:0123456789abcdef0123456789abcdef";
    const Strings lwjgl3 = {"lwjgl-3.3.3-natives-linux.so", "lwjgl-freetype-3.3.3-natives-linux.so", "lwjgl-glfw-3.3.3-natives-linux.so",
                            "lwjgl-jemalloc-3.3.3-natives-linux.so", "lwjgl-openal-3.3.3-natives-linux.so",
                            "lwjgl-opengl-3.3.3-natives-linux.so", "lwjgl-stb-3.3.3-natives-linux.so", "lwjgl-tinyfd-3.3.3-natives-linux.so"};
    const Strings oldFirst = {"net/java/jinput/jinput/2.0.5/jinput-2.0.5.jar", "net/java/jutils/jutils/1.0.0/jutils-1.0.0.jar"};
    const std::vector<Era> eras = {
        {"rd-132211", "rd-132211", "", "com.mojang.rubydung.RubyDung", "rd-132211", 0, 7,
         {oldFirst[0], oldFirst[1], "net/minecraft/launchwrapper/1.6/launchwrapper-1.6.jar"},
         {"lwjgl-platform-2.9.0-natives-linux.so", jinput}, {{"com.mojang.rubydung.RubyDung", "Steve"}, {"Steve", session}}},
        {"b1.7.3", "b1.7.3", "", legacy, "b1.7.3", 0, 7, {oldFirst[0], oldFirst[1], "net/minecraft/launchwrapper/1.5/launchwrapper-1.5.jar"},
         {"lwjgl-platform-2.9.0-natives-linux.so", jinput},
         {{legacy, "Steve"}, {"Steve", session}, {"--assetsDir", "%game%/resources"}}},
        {"1.5.2", "1.5.2", "", legacy, "1.5.2", 0, 7, oldFirst, {"lwjgl-platform-2.9.0-natives-linux.so", jinput},
         {{session, "--gameDir"}, {"--gameDir", "%game%"}, {"--assetsDir", "%game%/resources"}}},
        {"1.7.10", "1.7.10", "", main, "1.7.10", 8, 29, {"com/google/code/gson/gson/2.2.4/gson-2.2.4.jar", "com/google/guava/guava/15.0/guava-15.0.jar"},
         {"lwjgl-platform-2.9.1-natives-linux.so", jinput}, {{"--userProperties", "{}"}, {"--assetsDir", "%root%/assets"}}},
        {"1.8.9", "1.8.9", "", main, "1.8.9", 8, 31, {"com/google/code/gson/gson/2.2.4/gson-2.2.4.jar", "com/google/guava/guava/17.0/guava-17.0.jar"},
         {"lwjgl-platform-2.9.4-nightly-20150209-natives-linux.so", jinput}, {{"--userProperties", "{}"}, {"--assetIndex", "1.8"}}},
        {"1.21.1", "1.21.1", "", main, "1.21.1", 21, 56, {"com/github/oshi/oshi-core/6.4.10/oshi-core-6.4.10.jar"}, lwjgl3,
         {{"--version", "1.21.1"}, {"--xuid", "0123456789abcdef0123456789abcdef"}}},
        {forge, "forge-1.7.10-10.13.4.1614-install_profile", "1.7.10", legacy, "1.7.10", 8, 44,
         {"com/google/code/gson/gson/2.2.4/gson-2.2.4.jar", "com/google/guava/guava/17.0/guava-17.0.jar"},
         {"lwjgl-platform-2.9.1-natives-linux.so", jinput},
         {{"--version", forge}, {"--userProperties", "{}"}, {"--tweakClass", "cpw.mods.fml.common.launcher.FMLTweaker"}}},
        {"neoforge-21.1.77", "neoforge-21.1.77", "1.21.1", "cpw.mods.bootstraplauncher.BootstrapLauncher", "1.21.1", 21, 92,
         {"com/electronwill/night-config/core/3.8.0/core-3.8.0.jar"}, lwjgl3,
         {{"-DlibraryDirectory=%root%/libraries", "-p"}, {"--fml.mcVersion", "1.21.1"}, {"--launchTarget", "forgeclient"}}},
        {"fabric-loader-0.14.0-1.18.2", "fabric-loader-0.14.0-1.18.2", "1.18.2", "net.fabricmc.loader.impl.launch.knot.KnotClient",
         "1.18.2", 0, 11, {"net/fabricmc/access-widener/2.1.0/access-widener-2.1.0.jar", "net/fabricmc/fabric-loader/0.14.0/fabric-loader-0.14.0.jar"},
         {}, {{"--username", "Steve"}}}};

    // Versions, jar-less cores' parents and their libraries' files (natives jars as zips of one library).
    installVersion("1.18.2", {{"id", "1.18.2"}, {"mainClass", main}, {"minecraftArguments", "--username ${auth_player_name}"}});
    for (const Era& era : eras) {
        const json document = era.id == forge ? Fixture(era.fixture)["versionInfo"] : Fixture(era.fixture);
        installVersion(era.id, document, era.parent.empty());
        std::set<std::string> natives;
        for (const NativeArchive& archive : nativeArchives(document)) natives.insert(archive.path);
        for (const auto& library : document["libraries"]) {
            for (const LibraryFile& file : libraryFiles(library, "https://libraries.invalid/")) {
                const std::string stem = fs::path(file.path).stem().string();
                if (!natives.count(file.path)) touchLibrary(file.path);
                else zipLibrary(file.path, {{stem + ".so", "so"}, {"META-INF/" + stem + ".so", "no"}});
            }
        }
    }
    // The old games' index maps its objects to the game's resources folder.
    WriteFile(root() / "assets/indexes/pre-1.6.json", R"({"map_to_resources":true,"objects":{"sound3/step.ogg":{"hash":"ab12","size":3}}})");
    WriteFile(root() / "assets/objects/ab/ab12", "ogg");

    bool found = false;
    const std::vector<CoreEntry> cores = ListCores(rootText(), found);
    for (const Era& era : eras) {
        const auto core = std::find_if(cores.begin(), cores.end(), [&](const CoreEntry& c) { return c.name == era.id; });
        ASSERT_NE(core, cores.end()) << era.id;
        EXPECT_EQ(std::tie(core->realVersion, core->javaMajor), std::tie(era.realVersion, era.javaMajor)) << era.id;
        LaunchRequest request = requestFor(era.id);
        request.coreJar = core->jar;
        EXPECT_EQ(core->jar, Native(folderOf(era.parent.empty() ? era.id : era.parent) + "/" + (era.parent.empty() ? era.id : era.parent) + ".jar"));
        const LaunchPlan plan = buildLaunchCommand(request);
        ASSERT_TRUE(plan.success) << era.id << ": " << plan.error;
        const Strings& args = plan.arguments;
        const auto cp = std::find(args.begin(), args.end(), "-cp");
        ASSERT_LT(cp + 2, args.end()) << era.id;
        EXPECT_NE(std::find(cp + 2, args.end(), era.mainClass), args.end()) << era.id;  // after the JVM arguments
        Strings classpath;
        for (std::size_t at = 0, next; at != std::string::npos; at = next == std::string::npos ? next : next + 1) {
            next = cp[1].find(platform_constants::kClassPathSeparator, at);
            classpath.push_back(cp[1].substr(at, next == std::string::npos ? next : next - at));
        }
        EXPECT_EQ(classpath.front(), core->jar) << era.id;
        EXPECT_EQ(classpath.size(), era.libraries + 1) << era.id;
        for (std::size_t i = 0; i < era.first.size() && i + 1 < classpath.size(); ++i) EXPECT_EQ(classpath[i + 1], lib(era.first[i])) << era.id;

        std::set<std::string> extracted;
        for (const auto& entry : fs::recursive_directory_iterator(natives(era.id))) extracted.insert(entry.path().filename().string());
        EXPECT_EQ(extracted, std::set<std::string>(era.natives.begin(), era.natives.end())) << era.id;
        for (auto [argument, next] : era.arguments) {
            for (std::string* text : {&argument, &next}) {
                for (const auto& [mark, value] : {std::pair<std::string, std::string>{"%game%", folderOf(era.id)}, {"%root%", rootText()}}) {
                    if (const auto at = text->find(mark); at != std::string::npos) text->replace(at, mark.size(), value);
                }
            }
            const auto at = std::find(args.begin(), args.end(), argument);
            EXPECT_TRUE(at != args.end() && at + 1 != args.end() && at[1] == next) << era.id << ": " << argument << " " << next;
        }
    }
    EXPECT_EQ(ReadFile(fs::path(folderOf("b1.7.3")) / "resources/sound3/step.ogg"), "ogg");
}

TEST_F(LaunchCommandTest, QuickJoinMemoryFlagsQuotingAndEmptyArgumentsFollowTheRequest) {
    const auto tail = [](const LaunchRequest& r, std::size_t count) {
        const Strings args = buildLaunchCommand(r).arguments;
        return Strings(args.end() - std::min(count, args.size()), args.end());
    };
    LaunchRequest request = smallCore(json::object());
    request.serverAddress = "mc.invalid";
    for (const auto& [port, used] : std::vector<std::pair<int, std::string>>{{65536, "25565"}, {-1, "25565"}, {65535, "65535"}}) {
        request.serverPort = port;
        EXPECT_EQ(tail(request, 5), (Strings{"Main", "--server", "mc.invalid", "--port", used})) << port;
    }
    request.serverAddress.clear();
    EXPECT_EQ(tail(request, 1), Strings{"Main"});
    // A heap size from the player or the manifest replaces both memory flags.
    LaunchRequest manifestHeap = smallCore({{"arguments", {{"jvm", {"-Xms3G"}}}}});
    const Strings args = buildLaunchCommand(manifestHeap).arguments;
    EXPECT_EQ(std::count_if(args.begin(), args.end(), [](const std::string& a) { return a.starts_with("-Xm"); }), 1);

    // The command line quotes what holds blanks or quotes; an empty value stays one argument.
    request = smallCore({{"minecraftArguments", "--username ${auth_player_name} --accessToken ${auth_access_token} "
                                                "--userType ${user_type}"},
                         {"arguments", {{"game", {"--ignored"}}}}});  // the legacy text wins
    request.javaPath = "/opt/my java/bin/java";
    request.playerName = "Say \"hi\" now";
    request.accessToken.clear();
    request.options = {"-Dd=C:\\Games\\"};
    const LaunchPlan plan = buildLaunchCommand(request);
    EXPECT_EQ(Strings(plan.arguments.end() - 7, plan.arguments.end()),
              (Strings{"Main", "--username", "Say \"hi\" now", "--accessToken", "", "--userType", "mojang"}));
    EXPECT_TRUE(plan.commandLine.starts_with("\"/opt/my java/bin/java\" -Dlumivale.launch.id=launch-1 ")) << plan.commandLine;
    EXPECT_TRUE(plan.commandLine.ends_with(" -Dd=C:\\Games\\ -cp " + request.coreJar +
                                           " Main --username \"Say \\\"hi\\\" now\" --accessToken \"\" --userType mojang"))
        << plan.commandLine;
}

TEST_F(LaunchCommandTest, ACommandPastTheSystemsLimitPassesItsJvmArgumentsThroughAFile) {
    // 600 libraries of long names: a class path far above the 128 KiB one argument may hold.
    json libraries = json::array();
    const std::string group = "org." + std::string(180, 'x');
    for (int i = 0; i < 600; ++i) {
        const std::string name = group + ":lib" + std::to_string(i) + ":1";
        libraries.push_back({{"name", name}});
        touchLibrary(libraryPath(*parseLibraryName(name)));
    }
    LaunchRequest request = smallCore({{"libraries", libraries}, {"minecraftArguments", "--name ${auth_player_name}"}});
    request.options = {"-Dpath=C:\\a \"b\""};
    const LaunchPlan plan = buildLaunchCommand(request);
    ASSERT_TRUE(plan.success) << plan.error;
    const std::string file = Native(folderOf("small") + "/" + kArgumentFileName);
    EXPECT_EQ(plan.arguments, (Strings{request.javaPath, "-Dlumivale.launch.id=launch-1", "@" + file, "Main", "--name", "Steve"}));
    const std::string text = ReadFile(file);
    EXPECT_TRUE(text.starts_with("\"-Xmx4096M\"\n\"-Xms4096M\"\n")) << text.substr(0, 200);
    std::string coreJar = request.coreJar;  // its backslashes doubled, as the file writes them
    for (std::size_t at = 0; (at = coreJar.find('\\', at)) != std::string::npos; at += 2) coreJar.insert(at, 1, '\\');
    EXPECT_NE(text.find("\n\"-Dpath=C:\\\\a \\\"b\\\"\"\n\"-cp\"\n\"" + coreJar + kClassPathSeparator), std::string::npos);
    const std::size_t longest = platform_constants::kLongestArgument;
    EXPECT_TRUE(exceedsCommandLimit({std::string(longest + 1, 'a')}, "") && !exceedsCommandLimit({std::string(longest - 100, 'a')}, ""));

    request.javaMajor = 8;  // Java 8 reads no argument file
    EXPECT_EQ(buildLaunchCommand(request).error, kCommandTooLongForJava8Message);
}

TEST_F(LaunchCommandTest, BrokenCoresFailWithTheirMessage) {
    WriteFile(root() / "versions" / "bad" / "bad.json", "{\"mainClass\":\"M\",}");
    fs::create_directories(root() / "versions" / "folder" / "folder.json");  // there, but no file to read
    const std::string noMain = "版本 JSON 缺少 mainClass";
    const std::vector<std::tuple<std::string, json, std::string>> cores = {  // id, JSON written, error
        {"absent", nullptr, "未找到版本 JSON：" + Native(folderOf("absent") + "/absent.json")},
        {"bad", nullptr, "版本 JSON 已损坏（不是有效的 JSON）：" + Native(folderOf("bad") + "/bad.json")},
        {"folder", nullptr, "无法读取版本 JSON：" + Native(folderOf("folder") + "/folder.json")}, {"empty", {{"mainClass", ""}}, noMain},
        {"number", {{"mainClass", 5}}, noMain}, {"list", {1, 2}, noMain},
        {"typed", json::parse(R"({"mainClass":"M","libraries":[{"name":"a:b:1","rules":[{"action":true}]}]})"), "版本 JSON 的内容不符合格式，无法启动（可重新安装该版本）"}};
    for (const auto& [id, document, error] : cores) {
        if (!document.is_null()) installVersion(id, document);
        LaunchPlan plan;
        EXPECT_NO_THROW(plan = buildLaunchCommand(requestFor(id))) << id;
        EXPECT_TRUE(!plan.success && plan.arguments.empty() && plan.commandLine.empty()) << id;
        EXPECT_EQ(plan.workingDirectory, folderOf(id));
        EXPECT_EQ(plan.error, error);
    }
}

TEST(LaunchFiles, OnlyNativeLibrariesAreExtractedAndHostileNamesWriteNothingOutside) {
    TempHome home;
    const fs::path jar = home.root() / "natives.jar";
    WriteZip(jar, {{"META-INF/hidden.so", "no"}, {"lib.so", "so"}, {"x64/glfw.dll", "dll"}, {"a.jnilib", "j"},
                   {"b.dylib", "d"}, {"UPPER.DLL", "no"}, {"libfoo.so.1", "no"}, {"readme.txt", "no"},
                   {"../escaped.so", "x"}, {"inner/../../escaped2.so", "x"}, {PathUtf8(home.root() / "abs.so"), "x"},
                   {"..\\backslash.so", "x"}, {"C:/drive.dll", "x"}, {"inner/../stays.so", "ok"}});
    const fs::path natives = home.root() / "game" / "natives";
    EXPECT_EQ(extractNatives(PathUtf8(jar), PathUtf8(natives)), 5);
    std::set<std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(home.root())) {
        if (entry.is_regular_file()) files.insert(fs::relative(entry.path(), home.root()).generic_string());
    }
    EXPECT_EQ(files, (std::set<std::string>{"natives.jar", "game/natives/lib.so", "game/natives/x64/glfw.dll",
                                            "game/natives/a.jnilib", "game/natives/b.dylib", "game/natives/stays.so"}));

    WriteFile(jar, "not a zip");
    EXPECT_EQ(extractNatives(PathUtf8(jar), PathUtf8(natives)), 0);
}

TEST(LaunchFiles, AVirtualIndexGetsItsObjectsByNameAndAModernOneTheAssetsFolder) {
    TempHome home;
    const fs::path assets = home.root() / "assets";
    WriteFile(assets / "indexes/legacy.json", R"({"virtual":true,"objects":{"lang/zh.lang":{"hash":"cd34"},"../../out":{"hash":"cd34"},)"
                                              R"("gone.ogg":{"hash":"ef56"},"stale.txt":{"hash":"cd34"}}})");
    WriteFile(assets / "objects/cd/cd34", "text");
    WriteFile(assets / "virtual/legacy/stale.txt", "old!!");  // another size: copied again
    WriteFile(assets / "indexes/17.json", R"({"objects":{"lang/zh.lang":{"hash":"cd34"}}})");
    const std::string root = PathUtf8(home.root()), game = PathUtf8(home.root() / "game");
    EXPECT_EQ(prepareGameAssets(root, game, "legacy"), Native(PathUtf8(assets / "virtual/legacy")));
    EXPECT_EQ(ReadFile(assets / "virtual/legacy/lang/zh.lang") + ReadFile(assets / "virtual/legacy/stale.txt"), "texttext");
    EXPECT_FALSE(fs::exists(assets / "virtual/legacy/gone.ogg") || fs::exists(home.root() / "out") || fs::exists(assets / "out"));
    for (const char* index : {"17", "missing", "../indexes/17"}) EXPECT_EQ(prepareGameAssets(root, game, index), PathUtf8(assets)) << index;
}

}  // namespace
}  // namespace lumivale::test
