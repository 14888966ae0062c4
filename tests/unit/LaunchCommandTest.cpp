// The Java command of a launch: option presets, splitting, placeholders, quoting, and whole
// commands built from real version JSON in a fresh game folder with real natives jars.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "LaunchCommand.h"
#include "Log.h"
#include "Paths.h"
#include "Resources.h"
#include "TempHome.h"
#include "VersionManifest.h"
#include "ZipWriter.h"

#ifndef LUMIVALE_TEST_DATA
#error "LUMIVALE_TEST_DATA must name the fixtures folder"
#endif

namespace lumivale {
namespace {

using nlohmann::json;
namespace fs = std::filesystem;
using Strings = std::vector<std::string>;

const Strings kFixedOptions = {
    "--add-opens", "java.base/java.lang.invoke=ALL-UNNAMED", "--add-opens",
    "java.base/java.lang.reflect=ALL-UNNAMED", "--add-opens", "java.base/java.util=ALL-UNNAMED",
    "-XX:HeapDumpPath=MojangTricksIntelDriversForPerformance_javaw.exe_minecraft.exe.heapdump"};

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

TEST(LaunchCommandOptions, SixPresetsGiveTheirExactFlags) {
    const std::vector<std::pair<std::string, Strings>> presets = {
        {"g1_optimized",
         {"-XX:+UnlockExperimentalVMOptions", "-XX:+UseG1GC", "-XX:MaxGCPauseMillis=200",
          "-XX:G1HeapRegionSize=16m", "-XX:+ParallelRefProcEnabled", "-XX:+AlwaysPreTouch"}},
        {"zgc", {"-XX:+UnlockExperimentalVMOptions", "-XX:+UseZGC", "-XX:+AlwaysPreTouch"}},
        {"zgc_gen",
         {"-XX:+UnlockExperimentalVMOptions", "-XX:+UseZGC", "-XX:+ZGenerational",
          "-XX:+AlwaysPreTouch"}},
        {"g1_std", {"-XX:+UseG1GC"}},
        {"g1_throughput",
         {"-XX:+UnlockExperimentalVMOptions", "-XX:+UseG1GC", "-XX:MaxGCPauseMillis=400",
          "-XX:G1HeapRegionSize=16m", "-XX:+UseStringDeduplication", "-XX:+AlwaysPreTouch"}},
        {"custom", {}},
        {"G1_OPTIMIZED", {}},  // compared case-sensitively
        {"", {}},
    };
    for (const auto& [preset, flags] : presets) {
        EXPECT_EQ(buildOptionList(preset, ""), flags) << preset;
        EXPECT_EQ(buildOptionList(preset, " -Dx=1\t-Xss4M "), Concat({flags, {"-Dx=1", "-Xss4M"}}))
            << preset;
    }
}

TEST(LaunchCommandOptions, CustomArgumentsSplitOnlyAtWhitespace) {
    EXPECT_EQ(splitCustomJvmArgs(" a\tb\nc\vd\fe\rf  "), (Strings{"a", "b", "c", "d", "e", "f"}));
    EXPECT_TRUE(splitCustomJvmArgs("").empty());
    EXPECT_TRUE(splitCustomJvmArgs(" \t\r\n").empty());
    // No quoting: quotes are ordinary characters and a quoted space still splits.
    EXPECT_EQ(splitCustomJvmArgs("\"-Da=b c\""), (Strings{"\"-Da=b", "c\""}));
    // A path with Chinese characters (and a full-width space, which is not whitespace here).
    const std::string chinese = "-Dlog.dir=/home/\xE7\x8E\xA9\xE5\xAE\xB6/\xE6\x97\xA5\xE5\xBF\x97\xE3\x80\x80\xE7\x9B\xAE\xE5\xBD\x95";
    EXPECT_EQ(splitCustomJvmArgs("-Xss2M " + chinese + "\n-Dy=2"), (Strings{"-Xss2M", chinese, "-Dy=2"}));
    EXPECT_EQ(buildOptionList("custom", chinese), (Strings{chinese}));
}

TEST(LaunchCommandText, PlaceholdersQuotingAndServerPart) {
    const PlaceholderTable table = {{"a", "${a}${b}"}, {"b", "B"}, {"name", "Steve"}, {"empty", ""}};
    // Table order: "a" first (its value brings a ${b} that "b" then fills), the search goes on
    // after each inserted value so a value holding its own placeholder does not loop.
    EXPECT_EQ(substitutePlaceholders("${a}", table), "${a}B");
    EXPECT_EQ(substitutePlaceholders("--u ${name}/${name}${empty}.", table), "--u Steve/Steve.");
    EXPECT_EQ(substitutePlaceholders("${unknown} ${name", table), "${unknown} ${name");
    EXPECT_EQ(substitutePlaceholders("", table), "");

    EXPECT_EQ(quoteArgument(""), "");
    EXPECT_EQ(quoteArgument("-Dplain=1"), "-Dplain=1");
    EXPECT_EQ(quoteArgument("a\"b"), "a\"b");  // a quote alone changes nothing
    EXPECT_EQ(quoteArgument("a b"), "\"a b\"");
    EXPECT_EQ(quoteArgument("a\tb"), "\"a\tb\"");
    EXPECT_EQ(quoteArgument("say \"hi\""), "\"say \\\"hi\\\"\"");
    EXPECT_EQ(quoteArgument("C:\\My Games\\"), "\"C:\\My Games\\\"");  // backslashes stay single
    EXPECT_EQ(quoteArgument("a\nb"), "a\nb");

    EXPECT_EQ(authServerPart("https://skin.example.invalid:8443/api/yggdrasil"),
              "skin.example.invalid:8443");
    EXPECT_EQ(authServerPart("skin.example.invalid/api/yggdrasil"), "skin.example.invalid");
    EXPECT_EQ(authServerPart("http://host"), "host");
    EXPECT_EQ(authServerPart("host/a://b"), "b");  // the first "://" anywhere
    EXPECT_EQ(authServerPart("a/b://host/x"), "host");

    EXPECT_EQ(maskSecret("--accessToken tok --x tok2", "tok"), "--accessToken *** --x ***2");
    EXPECT_EQ(maskSecret("aaaa", "aa"), "******");
    EXPECT_EQ(maskSecret("unchanged", ""), "unchanged");
}

class LaunchCommandTest : public ::testing::Test {
protected:
    LaunchCommandTest() { SetConsoleLogToStderr(false); }

    fs::path root() const { return home_.program() / ".minecraft"; }
    std::string rootText() const { return PathUtf8(root()); }
    std::string lib(const std::string& relative) const {
        return PathUtf8(root() / "libraries" / relative);
    }
    std::string folderOf(const std::string& id) const {
        return PathUtf8(root() / "versions" / id);
    }

    void installVersion(const std::string& id, const json& document) const {
        test::WriteFile(root() / "versions" / id / (id + ".json"), document.dump());
        test::WriteFile(root() / "versions" / id / (id + ".jar"), "jar");
    }
    void installFixture(const std::string& id) const {
        installVersion(id, loadJsonFile(std::string(LUMIVALE_TEST_DATA) + "/versions/" + id + ".json"));
    }
    void touchLibrary(const std::string& relative) const { test::WriteFile(lib(relative), "jar"); }
    void zipLibrary(const std::string& relative,
                    const std::vector<std::pair<std::string, std::string>>& entries) const {
        fs::create_directories(fs::path(lib(relative)).parent_path());
        test::WriteZip(lib(relative), entries);
    }

    LaunchRequest requestFor(const std::string& id) const {
        LaunchRequest request;
        request.javaPath = "/usr/lib/jvm/java-17/bin/java";
        request.gameRoot = rootText();
        request.coreId = id;
        request.coreFolder = folderOf(id);
        request.gameDirectory = folderOf(id);
        request.coreJar = PathUtf8(root() / "versions" / id / (id + ".jar"));
        request.memoryMb = 4096;
        request.options = buildOptionList("g1_std", "");
        request.serverPort = 25565;
        request.playerName = "Steve";
        request.playerUuid = "0123456789abcdef0123456789abcdef";
        request.accessToken = "token-1";
        request.launchId = "launch-1";
        return request;
    }

    // A tiny core with enough libraries to keep the fallback out of the way.
    LaunchRequest smallCore(const json& extra) const {
        json document = {{"mainClass", "net.minecraft.client.main.Main"}};
        document.update(extra);
        installVersion("small", document);
        return requestFor("small");
    }

    test::TempHome home_;
};

TEST_F(LaunchCommandTest, Vanilla1122WithNativesAndLegacyArguments) {
    installFixture("1.12.2");
    for (const char* path : {
             "com/mojang/patchy/1.3.9/patchy-1.3.9.jar",
             "net/sf/jopt-simple/jopt-simple/5.0.3/jopt-simple-5.0.3.jar",
             "org/apache/logging/log4j/log4j-api/2.8.1/log4j-api-2.8.1.jar",
             "org/lwjgl/lwjgl/lwjgl_util/2.9.4-nightly-20150209/lwjgl_util-2.9.4-nightly-20150209.jar",
             "org/lwjgl/lwjgl/lwjgl/2.9.4-nightly-20150209/lwjgl-2.9.4-nightly-20150209.jar"}) {
        touchLibrary(path);
    }
    zipLibrary("org/lwjgl/lwjgl/lwjgl-platform/2.9.4-nightly-20150209/"
               "lwjgl-platform-2.9.4-nightly-20150209-natives-linux.jar",
               {{"META-INF/MANIFEST.MF", "m"}, {"liblwjgl64.so", "elf"}, {"readme.txt", "r"}});
    zipLibrary("org/lwjgl/lwjgl/lwjgl-platform/2.9.4-nightly-20150209/"
               "lwjgl-platform-2.9.4-nightly-20150209-natives-windows.jar",
               {{"lwjgl64.dll", "pe"}});

    const LaunchRequest request = requestFor("1.12.2");
    const LaunchPlan plan = buildLaunchCommand(request);
    ASSERT_TRUE(plan.success) << plan.error;
    EXPECT_EQ(plan.error, "");
    EXPECT_EQ(plan.workingDirectory, folderOf("1.12.2"));

    const std::string natives = PathUtf8(root() / "versions" / "1.12.2" / "natives_cache" / "1.12.2");
    const std::string classpath = Join(
        {request.coreJar, lib("com/mojang/patchy/1.3.9/patchy-1.3.9.jar"),
         lib("net/sf/jopt-simple/jopt-simple/5.0.3/jopt-simple-5.0.3.jar"),
         lib("org/apache/logging/log4j/log4j-api/2.8.1/log4j-api-2.8.1.jar"),
         lib("org/lwjgl/lwjgl/lwjgl/2.9.4-nightly-20150209/lwjgl-2.9.4-nightly-20150209.jar"),
         lib("org/lwjgl/lwjgl/lwjgl_util/2.9.4-nightly-20150209/lwjgl_util-2.9.4-nightly-20150209.jar")},
        ":");
    const Strings expected = Concat({
        {request.javaPath, "-Dlumivale.launch.id=launch-1", "-Xmx4096M", "-Xms4096M"},
        kFixedOptions,
        {"-Djna.tmpdir=" + natives, "-Dorg.lwjgl.system.SharedLibraryExtractPath=" + natives,
         "-Dio.netty.native.workdir=" + natives, "-XX:+UseG1GC",
         "-Djava.library.path=" + natives, "-cp", classpath, "net.minecraft.client.main.Main",
         "--username", "Steve", "--version", "1.12.2", "--gameDir", folderOf("1.12.2"),
         "--assetsDir", PathUtf8(root() / "assets"), "--assetIndex", "1.12", "--uuid",
         "0123456789abcdef0123456789abcdef", "--accessToken", "token-1", "--userType", "mojang",
         "--versionType", "release"},
    });
    EXPECT_EQ(plan.arguments, expected);
    EXPECT_EQ(plan.commandLine, Join(expected, " "));

    // Only this system's natives, only the libraries themselves.
    EXPECT_EQ(test::ReadFile(fs::path(natives) / "liblwjgl64.so"), "elf");
    EXPECT_FALSE(fs::exists(fs::path(natives) / "lwjgl64.dll"));
    EXPECT_FALSE(fs::exists(fs::path(natives) / "readme.txt"));
    EXPECT_FALSE(fs::exists(fs::path(natives) / "META-INF"));
}

TEST_F(LaunchCommandTest, Forge1201OverItsParentWithQuickJoinAgentAndOwnHeap) {
    installFixture("1.20.1");
    installFixture("1.20.1-forge-47.2.0");
    zipLibrary("org/lwjgl/lwjgl-glfw/3.3.1/lwjgl-glfw-3.3.1-natives-linux.jar",
               {{"linux/x64/org/lwjgl/glfw/libglfw.so", "glfw"}, {"META-INF/x.so", "no"}});

    LaunchRequest request = requestFor("1.20.1-forge-47.2.0");
    request.options = buildOptionList("zgc", "-Xmx2048M");
    request.serverAddress = "play.example.invalid";
    request.serverPort = 0;
    request.authRoot = "https://skin.example.invalid:8443/api/yggdrasil";
    request.launchId.clear();

    testing::internal::CaptureStdout();
    LaunchPlan plan = buildLaunchCommand(request);
    const std::string console = testing::internal::GetCapturedStdout();
    ASSERT_TRUE(plan.success) << plan.error;

    // The client id is a fresh UUID; check its form, then compare the rest whole.
    const auto clientId = std::find(plan.arguments.begin(), plan.arguments.end(), "--clientId");
    ASSERT_NE(clientId, plan.arguments.end());
    ASSERT_NE(clientId + 1, plan.arguments.end());
    EXPECT_TRUE(std::regex_match(*(clientId + 1),
                                 std::regex("[0-9a-f]{8}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{4}-[0-9a-f]{12}")))
        << *(clientId + 1);
    const std::string uuid = *(clientId + 1);
    *(clientId + 1) = "<uuid>";

    const std::string id = "1.20.1-forge-47.2.0";
    const std::string gameDir = folderOf(id);
    const std::string natives = PathUtf8(root() / "versions" / id / "natives_cache" / id);
    const std::string libraries = PathUtf8(root() / "libraries");
    const std::string nativesJar = lib("org/lwjgl/lwjgl-glfw/3.3.1/lwjgl-glfw-3.3.1-natives-linux.jar");
    // Core jar + one library: the fallback lists every jar below libraries/.
    const std::string classpath = request.coreJar + ":" + nativesJar;
    std::string modulePath;
    for (const char* jar : {"cpw/mods/bootstraplauncher/1.1.2/bootstraplauncher-1.1.2.jar",
                            "cpw/mods/securejarhandler/2.1.10/securejarhandler-2.1.10.jar",
                            "org/ow2/asm/asm-commons/9.5/asm-commons-9.5.jar",
                            "org/ow2/asm/asm-util/9.5/asm-util-9.5.jar",
                            "org/ow2/asm/asm-analysis/9.5/asm-analysis-9.5.jar",
                            "org/ow2/asm/asm-tree/9.5/asm-tree-9.5.jar",
                            "org/ow2/asm/asm/9.5/asm-9.5.jar",
                            "net/minecraftforge/JarJarFileSystems/0.3.19/JarJarFileSystems-0.3.19.jar"}) {
        modulePath += (modulePath.empty() ? "" : ":") + libraries + "/" + jar;
    }

    Strings agent;
    if (!GetResource(IDR_AGENT_JAR).empty()) {
        agent = {"-javaagent:" + gameDir + "/authlib-injector-1.2.8.jar=skin.example.invalid:8443"};
        EXPECT_TRUE(fs::exists(fs::path(gameDir) / "authlib-injector-1.2.8.jar"));
        EXPECT_EQ(console.find(kAgentExtractFailedMessage), std::string::npos);
    } else {
        EXPECT_NE(console.find(std::string("[Lumivale] ") + kAgentExtractFailedMessage + "\n"),
                  std::string::npos)
            << console;
    }

    const Strings expected = Concat({
        {request.javaPath},
        agent,
        kFixedOptions,  // -Xmx2048M of the player replaces both memory flags
        {"-Djna.tmpdir=" + natives, "-Dorg.lwjgl.system.SharedLibraryExtractPath=" + natives,
         "-Dio.netty.native.workdir=" + natives},
        {"-XX:+UnlockExperimentalVMOptions", "-XX:+UseZGC", "-XX:+AlwaysPreTouch", "-Xmx2048M"},
        // Manifest JVM arguments: the parent's that apply here (it names java.library.path
        // itself, so none is added), then Forge's, placeholders filled.
        {"-Djava.library.path=" + natives, "-Djna.tmpdir=" + natives,
         "-Dorg.lwjgl.system.SharedLibraryExtractPath=" + natives,
         "-Dio.netty.native.workdir=" + natives, "-Dminecraft.launcher.brand=LumivaleLauncher",
         "-Dminecraft.launcher.version=1.0", "-cp", classpath,
         "-Djava.net.preferIPv6Addresses=system",
         "-DignoreList=bootstraplauncher,securejarhandler,asm-commons,asm-util,asm-analysis,"
         "asm-tree,asm,JarJarFileSystems,client-extra,fmlcore,javafmllanguage,lowcodelanguage,"
         "mclanguage,forge-,1.20.1-forge-47.2.0.jar",
         "-DmergeModules=jna-5.10.0.jar,jna-platform-5.10.0.jar",
         "-DlibraryDirectory=" + libraries, "-p", modulePath, "--add-modules", "ALL-MODULE-PATH",
         "--add-opens", "java.base/java.util.jar=cpw.mods.securejarhandler", "--add-opens",
         "java.base/java.lang.invoke=cpw.mods.securejarhandler", "--add-exports",
         "java.base/sun.security.util=cpw.mods.securejarhandler", "--add-exports",
         "jdk.naming.dns/com.sun.jndi.dns=java.naming"},
        // No second -cp: the manifest has one.
        {"cpw.mods.bootstraplauncher.BootstrapLauncher", "--username", "Steve", "--version", id,
         "--gameDir", gameDir, "--assetsDir", PathUtf8(root() / "assets"), "--assetIndex", "5",
         "--uuid", "0123456789abcdef0123456789abcdef", "--accessToken", "token-1", "--clientId",
         "<uuid>", "--xuid", "0123456789abcdef0123456789abcdef", "--userType", "mojang",
         "--versionType", "release", "--launchTarget", "forgeclient", "--fml.forgeVersion",
         "47.2.0", "--fml.mcVersion", "1.20.1", "--fml.forgeGroup", "net.minecraftforge",
         "--fml.mcpVersion", "20230612.114412", "--server", "play.example.invalid", "--port",
         "25565"},
    });
    EXPECT_EQ(plan.arguments, expected);
    *(clientId + 1) = uuid;
    EXPECT_EQ(plan.commandLine, Join(plan.arguments, " "));
    EXPECT_EQ(test::ReadFile(fs::path(natives) / "linux/x64/org/lwjgl/glfw/libglfw.so"), "glfw");
    EXPECT_FALSE(fs::exists(fs::path(natives) / "META-INF"));
}

TEST_F(LaunchCommandTest, QuickJoinPortOutsideRangeBecomesDefault) {
    LaunchRequest request = smallCore(json::object());
    const auto tail = [&](const std::string& address, std::int32_t port) {
        request.serverAddress = address;
        request.serverPort = port;
        const LaunchPlan plan = buildLaunchCommand(request);
        EXPECT_TRUE(plan.success) << plan.error;
        const auto main = std::find(plan.arguments.begin(), plan.arguments.end(),
                                    "net.minecraft.client.main.Main");
        return main == plan.arguments.end() ? Strings{"<no main class>"} : Strings(main + 1, plan.arguments.end());
    };
    const Strings none;
    for (const std::int32_t port : {0, -1, 65536, 70000, INT32_MIN, INT32_MAX}) {
        EXPECT_EQ(tail("mc.example.invalid", port),
                  (Strings{"--server", "mc.example.invalid", "--port", "25565"})) << port;
    }
    for (const std::int32_t port : {1, 25566, 65535}) {
        EXPECT_EQ(tail("mc.example.invalid", port),
                  (Strings{"--server", "mc.example.invalid", "--port", std::to_string(port)}));
    }
    EXPECT_EQ(tail("", 25566), none);
}

TEST_F(LaunchCommandTest, MemoryFlagsOnlyWhenNoHeapOptionIsGiven) {
    const auto memoryFlags = [](const LaunchPlan& plan) {
        Strings flags;
        for (const auto& a : plan.arguments) {
            if (a.starts_with("-Xm")) flags.push_back(a);
        }
        return flags;
    };
    LaunchRequest request = smallCore(json::object());
    request.memoryMb = 2048;
    EXPECT_EQ(memoryFlags(buildLaunchCommand(request)), (Strings{"-Xmx2048M", "-Xms2048M"}));
    request.memoryMb = 0;  // the value is not checked
    EXPECT_EQ(memoryFlags(buildLaunchCommand(request)), (Strings{"-Xmx0M", "-Xms0M"}));

    request.memoryMb = 2048;
    request.options = buildOptionList("custom", "-Xmx6G");
    EXPECT_EQ(memoryFlags(buildLaunchCommand(request)), (Strings{"-Xmx6G"}));
    request.options = buildOptionList("g1_optimized", "-Xms1G");
    EXPECT_EQ(memoryFlags(buildLaunchCommand(request)), (Strings{"-Xms1G"}));

    LaunchRequest manifestHeap = smallCore({{"arguments", {{"jvm", {"-Xmx3G"}}}}});
    manifestHeap.memoryMb = 2048;
    EXPECT_EQ(memoryFlags(buildLaunchCommand(manifestHeap)), (Strings{"-Xmx3G"}));
}

TEST_F(LaunchCommandTest, QuotedArgumentsOnTheCommandLineAndEmptyOnesDropped) {
    touchLibrary("z/z.jar");
    LaunchRequest request = smallCore({{"minecraftArguments", "--username ${auth_player_name} "
                                                              "--accessToken ${auth_access_token} "
                                                              "--userType ${user_type}"},
                                       {"arguments", {{"game", {"--ignored"}}}}});
    request.javaPath = "/opt/my java/bin/java";
    request.playerName = "Say \"hi\" now";
    request.accessToken.clear();
    request.launchId = "id-7";
    const std::string chinese = "-Dlog.dir=/home/\xE7\x8E\xA9\xE5\xAE\xB6/\xE6\x97\xA5\xE5\xBF\x97";
    request.options = buildOptionList("custom", "-Dquote=\"x\" " + chinese);

    const LaunchPlan plan = buildLaunchCommand(request);
    ASSERT_TRUE(plan.success) << plan.error;
    const std::string classpath = request.coreJar + ":" + lib("z/z.jar");
    const Strings expected = Concat({
        {"/opt/my java/bin/java", "-Dlumivale.launch.id=id-7", "-Xmx4096M", "-Xms4096M"},
        kFixedOptions,
        {"-Dquote=\"x\"", chinese, "-cp", classpath, "net.minecraft.client.main.Main",
         "--username", "Say \"hi\" now", "--accessToken", "--userType", "mojang"},
    });
    EXPECT_EQ(plan.arguments, expected);
    EXPECT_EQ(plan.commandLine,
              "\"/opt/my java/bin/java\" -Dlumivale.launch.id=id-7 -Xmx4096M -Xms4096M " +
                  Join(kFixedOptions, " ") + " -Dquote=\"x\" " + chinese + " -cp " + classpath +
                  " net.minecraft.client.main.Main --username \"Say \\\"hi\\\" now\" "
                  "--accessToken --userType mojang");
    EXPECT_EQ(plan.commandLine.find("  "), std::string::npos);
}

TEST_F(LaunchCommandTest, ClasspathFromTheManifestOrTheLauncher) {
    // "-classpath" in the manifest keeps the launcher's own -cp out; without natives no
    // java.library.path is added, though the natives folder is still made.
    LaunchRequest request = smallCore({{"arguments",
                                        {{"jvm", {"-classpath", "${classpath}", "-Dsep=${classpath_separator}"}},
                                         {"game", {"--dir", "${library_directory}", "${unknown}"}}}},
                                       {"assets", 3},
                                       {"type", "snapshot"}});
    const LaunchPlan plan = buildLaunchCommand(request);
    ASSERT_TRUE(plan.success) << plan.error;
    EXPECT_EQ(plan.arguments,
              Concat({{request.javaPath, "-Dlumivale.launch.id=launch-1", "-Xmx4096M", "-Xms4096M"},
                      kFixedOptions,
                      {"-XX:+UseG1GC", "-classpath", request.coreJar, "-Dsep=:",
                       "net.minecraft.client.main.Main", "--dir", PathUtf8(root() / "libraries"),
                       "${unknown}"}}));
    EXPECT_TRUE(fs::is_directory(root() / "versions" / "small" / "natives_cache" / "small"));

    LaunchRequest named = smallCore({{"minecraftArguments", "${assets_index_name} ${version_type}"},
                                     {"assets", "legacy"}, {"type", "old_beta"}});
    named.coreJar.clear();
    const LaunchPlan second = buildLaunchCommand(named);
    ASSERT_TRUE(second.success) << second.error;
    // No core jar and no library at all: no class path, and no "-cp" without its value.
    const Strings tail(second.arguments.end() - 4, second.arguments.end());
    EXPECT_EQ(tail, (Strings{"-XX:+UseG1GC", "net.minecraft.client.main.Main", "legacy", "old_beta"}));
    EXPECT_EQ(std::count(second.arguments.begin(), second.arguments.end(), "-cp"), 0);
}

TEST_F(LaunchCommandTest, BrokenCoresFailWithTheirMessage) {
    LaunchRequest missing = requestFor("absent");
    const LaunchPlan noJson = buildLaunchCommand(missing);
    EXPECT_FALSE(noJson.success);
    EXPECT_EQ(noJson.error, std::string("未找到版本 JSON：") + folderOf("absent") + "/absent.json");
    EXPECT_EQ(noJson.workingDirectory, folderOf("absent"));
    EXPECT_TRUE(noJson.arguments.empty());
    EXPECT_EQ(noJson.commandLine, "");

    test::WriteFile(root() / "versions" / "bad" / "bad.json", "{\"mainClass\":\"M\",}");
    EXPECT_EQ(buildLaunchCommand(requestFor("bad")).error,
              std::string("未找到版本 JSON：") + folderOf("bad") + "/bad.json");

    for (const json& document : {json::parse(R"({"id":"x"})"), json::parse(R"({"mainClass":""})"),
                                 json::parse(R"({"mainClass":5})"), json::parse("[1,2]")}) {
        installVersion("nomain", document);
        const LaunchPlan plan = buildLaunchCommand(requestFor("nomain"));
        EXPECT_FALSE(plan.success) << document;
        EXPECT_EQ(plan.error, "版本 JSON 缺少 mainClass") << document;
        EXPECT_TRUE(plan.arguments.empty());
    }

    // A rule whose action is not a string ends the build as a failure, not an exception.
    LaunchRequest typed = smallCore(
        {{"libraries", {{{"name", "a:b:1"}, {"rules", {{{"action", true}}}},
                         {"downloads", {{"artifact", {{"path", "a.jar"}}}}}}}}});
    LaunchPlan plan;
    EXPECT_NO_THROW(plan = buildLaunchCommand(typed));
    EXPECT_FALSE(plan.success);
    EXPECT_FALSE(plan.error.empty());
    EXPECT_TRUE(plan.arguments.empty());
    EXPECT_EQ(plan.workingDirectory, typed.gameDirectory);
}

}  // namespace
}  // namespace lumivale
