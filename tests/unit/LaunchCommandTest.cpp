// The Java command of a launch, built from the real version JSON with real natives jars, and the
// natives extraction itself.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <regex>
#include <set>

#include "LaunchCommand.h"
#include "LaunchFiles.h"
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
        // The parent's JVM arguments that apply here (java.library.path among them), then Forge's;
        // core jar + one library is below five entries: every jar below libraries/ is the class path.
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

    // The command line quotes what holds blanks or quotes; an empty argument is dropped from both forms.
    request = smallCore({{"minecraftArguments", "--username ${auth_player_name} --accessToken ${auth_access_token} "
                                                "--userType ${user_type}"},
                         {"arguments", {{"game", {"--ignored"}}}}});  // the legacy text wins
    request.javaPath = "/opt/my java/bin/java";
    request.playerName = "Say \"hi\" now";
    request.accessToken.clear();
    request.options = {"-Dd=C:\\Games\\"};
    const LaunchPlan plan = buildLaunchCommand(request);
    EXPECT_EQ(Strings(plan.arguments.end() - 6, plan.arguments.end()),
              (Strings{"Main", "--username", "Say \"hi\" now", "--accessToken", "--userType", "mojang"}));
    EXPECT_TRUE(plan.commandLine.starts_with("\"/opt/my java/bin/java\" -Dlumivale.launch.id=launch-1 ")) << plan.commandLine;
    EXPECT_TRUE(plan.commandLine.ends_with(" -Dd=C:\\Games\\ -cp " + request.coreJar +
                                           " Main --username \"Say \\\"hi\\\" now\" --accessToken --userType mojang"))
        << plan.commandLine;
}

TEST_F(LaunchCommandTest, BrokenCoresFailWithTheirMessage) {
    WriteFile(root() / "versions" / "bad" / "bad.json", "{\"mainClass\":\"M\",}");
    const std::string noMain = "版本 JSON 缺少 mainClass";
    const std::vector<std::tuple<std::string, json, std::string>> cores = {  // id, JSON written, error
        {"absent", nullptr, "未找到版本 JSON：" + Native(folderOf("absent") + "/absent.json")},
        {"bad", nullptr, "未找到版本 JSON：" + Native(folderOf("bad") + "/bad.json")}, {"empty", {{"mainClass", ""}}, noMain},
        {"number", {{"mainClass", 5}}, noMain}, {"list", {1, 2}, noMain},
        {"typed", json::parse(R"({"mainClass":"M","libraries":[{"name":"a:b:1","rules":[{"action":true}]}]})"), "版本 JSON 无法解析："}};
    for (const auto& [id, document, error] : cores) {
        if (!document.is_null()) installVersion(id, document);
        LaunchPlan plan;
        EXPECT_NO_THROW(plan = buildLaunchCommand(requestFor(id))) << id;
        EXPECT_TRUE(!plan.success && plan.arguments.empty() && plan.commandLine.empty()) << id;
        EXPECT_EQ(plan.workingDirectory, folderOf(id));
        EXPECT_TRUE(plan.error.starts_with(error)) << plan.error;
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

}  // namespace
}  // namespace lumivale::test
