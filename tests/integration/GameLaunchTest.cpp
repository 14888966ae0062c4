// "game:launch" end to end: files completed from a loopback mirror, the JDK runs a small game, play time uploaded.
#include <gtest/gtest.h>

#include <regex>

#include "BackendServer.h"
#include "LaunchTestKit.h"
#include "TestHttpServer.h"
#include "TestJava.h"

namespace lumivale::test {
namespace {

constexpr const char* kGameSource = R"(public class Game {
    public static void main(String[] args) throws Exception {
        System.out.println("GAME ARGS " + String.join(" ", args));
        System.err.write(new byte[] {(byte) 0xE4, (byte) 0xB8, (byte) 0xAD, (byte) 0xFF, 0, '\r', '\n'});  // raw bytes
        System.err.flush();
        int code = 0;
        for (int i = 0; i + 1 < args.length; i++) {
            if (args[i].equals("--exit")) code = Integer.parseInt(args[i + 1]);
            if (args[i].equals("--sleep")) Thread.sleep(Long.parseLong(args[i + 1]));
        }
        System.out.println("bye");
        System.exit(code);
    }
})";

// A signed-in player, so the command line carries a token that no log may show.
void SignedIn(const TempHome& home) {
    WriteFile(home.store(), R"({"cloud":{"private_key":""},"littleskin":{"access_token":"secret-token-123","client_token":"c",)"
                            R"("current_role":"Steve","current_role_id":"0123abcd","account_id":"u-77"}})");
    fs::permissions(home.store(), fs::perms::owner_read | fs::perms::owner_write);
}

TEST(GameLaunch, LaunchCompletesFilesRunsTheGameUploadsItsLengthAndReportsAnAbnormalEnd) {
    if (!HasTestJdk()) GTEST_SKIP() << "no JDK 17 here";
    TempHome home;
    const fs::path build = home.root() / "build", core = home.program() / ".minecraft" / "versions" / "1.20.1";
    const fs::path officialJar = home.program() / ".minecraft/libraries/net/minecraft/client/1.20.1/client-1.20.1-official.jar";
    ASSERT_TRUE(CompileJava(build, {{"Game", kGameSource}}));
    WriteFile(core / "1.20.1.jar", CoreJarBytes(build / "core.jar", ReadFile(build / "Game.class")));
    // A missing library and a damaged official client jar, which the mirror has.
    const std::string library = ZipBytes(build / "lib.jar", {{"com/example/Lib.txt", "library"}});
    const std::string client = ZipBytes(build / "client.jar", {{"net/minecraft/Client.txt", "the real client"}});
    WriteFile(officialJar, "damaged");
    TestHttpServer mirror, official;
    mirror.Serve("/libraries/com/example/lib/1.0/lib-1.0.jar", TestReply::Ok(library));
    mirror.Serve("/v1/objects/client.jar", TestReply::Ok(client));
    const auto versionJson = [&](const std::string& extraArguments) {
        WriteFile(core / "1.20.1.json",
                  R"({"id":"1.20.1","mainClass":"Game","minecraftArguments":"--username ${auth_player_name} --accessToken )"
                  R"(${auth_access_token} )" + extraArguments + R"(","downloads":{"client":{"sha1":")" + Sha1OfBytes(client) +
                      R"(","url":")" + official.Url("/DATA/v1/objects/client.jar") + R"("}},"libraries":[{"name":)"
                      R"("com.example:lib:1.0","downloads":{"artifact":{"path":"com/example/lib/1.0/lib-1.0.jar","url":")" +
                      official.Url("/LIBRARIES/com/example/lib/1.0/lib-1.0.jar") + R"("}}}]})");
    };
    versionJson("--exit 0 --sleep 2500");
    WriteFile(home.config(), "[launcher]\nselected_java=auto\nmemory_mb=256\ngc_preset=g1_std\n");
    SignedIn(home);
    backend::BackendServer backend(home.root() / "backend.sqlite");
    ASSERT_TRUE(backend.Start("127.0.0.1", 0));
    Strings env = {"LUMIVALE_LITTLESKIN_BASE=http://127.0.0.1:9", "JAVA_HOME=" + std::string(kTestJdk),
                   "LUMIVALE_MIRROR_BASE=" + mirror.Url("/"),
                   "LUMIVALE_BACKEND_BASE=http://127.0.0.1:" + std::to_string(backend.Port())};
    for (const std::string name : {"DATA", "LIBRARIES", "META", "ASSETS", "MAVEN"}) {
        env.push_back("LUMIVALE_OFFICIAL_" + name + "_BASE=" + official.Url("/" + name + "/"));
    }
    auto launcher = StartHeadless(home, env);

    launcher->Send(R"({"type":"game:launch"})");
    Strings lines;
    NextOfType(*launcher, "game:stopped", &lines);
    std::erase_if(lines, [](const std::string& line) { return ReadTextField(line, "type").starts_with("cloud:"); });
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[1], R"({"type":"game:info","msg":"已为版本 1.20.1 自动选择推荐 Java"})");
    EXPECT_EQ(ReadFile(home.program() / ".minecraft/libraries/com/example/lib/1.0/lib-1.0.jar"), library);
    EXPECT_EQ(ReadFile(officialJar), client);
    EXPECT_EQ(ReadFile(officialJar.string() + ".badsha1.bak"), "damaged");  // kept aside
    EXPECT_TRUE(official.Requests().empty());

    // The log: the launch id, the command line without the token, then both streams byte for byte.
    const std::string log = ReadFile(home.program() / "log" / "MC启动诊断.log");
    EXPECT_TRUE(std::regex_search(log, std::regex("^\\[Lumivale\\] 本次启动标记 launch-id: [0-9a-f-]{36}\r\n\\[Lumivale\\] 启动命令行：\r\n")))
        << log;
    const std::string command = "Game --username Steve --accessToken *** --exit 0 --sleep 2500\r\n\r\n[Lumivale] Java 输出：\r\n";
    ASSERT_NE(log.find(command), std::string::npos) << log;
    EXPECT_EQ(log.substr(0, log.find(command)).find("secret-token-123"), std::string::npos);
    EXPECT_EQ(log.substr(log.find(command) + command.size()),
              "GAME ARGS --username Steve --accessToken secret-token-123 --exit 0 --sleep 2500\n" +
                  std::string("\xE4\xB8\xAD\xFF\0\r\n", 7) + "bye\n");
    // The game's length reaches the backend on a thread of its own.
    EXPECT_TRUE(launcher->WaitForStderr("结果=成功(服务端累计=")) << launcher->Stderr();

    // An abnormal end: "game:stopped", then the error.
    versionJson("--exit 1");
    launcher->Send(R"({"type":"game:launch"})");
    Strings failed;
    EXPECT_EQ(NextOfType(*launcher, "game:error", &failed),
              R"({"type":"game:error","reason":"游戏进程异常退出（可能是 Java 版本不符或游戏文件缺失）"})");
    EXPECT_EQ(ReadTextField(failed.empty() ? "" : failed.back(), "type"), "game:stopped");
    // A core that is gone.
    launcher->Send(R"({"type":"config:set","key":"selected_core","value":"/elsewhere"})");
    launcher->Send(R"({"type":"game:launch"})");
    EXPECT_EQ(NextOfType(*launcher, "game:error"), R"({"type":"game:error","reason":"所选游戏版本缺少核心 jar 文件，请在「启动」页换一个版本或重新安装"})");
    launcher->CloseInput();
    EXPECT_EQ(launcher->Wait(), 0);
    const std::regex upload("上传时长：账号=u-77 本局=([2-9]|[1-9]\\d+)秒 增量=\\d+秒 结果=成功\\(服务端累计=([2-9]|[1-9]\\d+)\\)");
    EXPECT_TRUE(std::regex_search(launcher->Stderr(), upload)) << launcher->Stderr();
}

// A 1.7-style core signed in: JSON --userProperties, a library cut by the mirror, the agent checked by SHA-256.
TEST(GameLaunch, ALegacyCoreGetsJsonPropertiesAWholeLibraryAndTheCheckedAgent) {
    if (!HasTestJdk()) GTEST_SKIP() << "no JDK 17 here";
    TempHome home;
    const fs::path build = home.root() / "build", core = home.program() / ".minecraft" / "versions" / "legacy";
    ASSERT_TRUE(CompileJava(build, {{"Lib", "public class Lib {}"},
                                    {"Agent", R"(public class Agent {
    public static void premain(String argument) throws Exception {
        java.nio.file.Files.writeString(java.nio.file.Path.of("agent-argument.txt"), argument);
    }
})"},
                                    {"Game", R"(public class Game {
    static String s; static int at;
    static void eat(char c) { if (at >= s.length() || s.charAt(at++) != c) throw new IllegalStateException("not JSON: " + s); }
    static void value() {  // objects, arrays and strings: what the game's properties hold
        char c = at < s.length() ? s.charAt(at) : '?';
        if (c == '"') { at = s.indexOf('"', at + 1) + 1; if (at == 0) throw new IllegalStateException(s); return; }
        boolean object = c == '{';
        eat(object ? '{' : '[');
        if (s.charAt(at) == (object ? '}' : ']')) { at++; return; }
        do { if (object) { value(); eat(':'); } value(); } while (s.charAt(at++) == ',');
        at--;
        eat(object ? '}' : ']');
    }
    public static void main(String[] args) throws Exception {
        for (int i = 0; i + 1 < args.length; i++) {
            if (!args[i].equals("--userProperties")) continue;
            s = args[i + 1];
            value();
            if (at != s.length()) throw new IllegalStateException("not JSON: " + s);
            System.out.println("PROPERTIES " + s);
        }
        System.out.println("LIBRARY " + Class.forName("Lib").getName());
    }
})"}}));
    WriteFile(core / "legacy.jar", ZipBytes(build / "core.jar", {{"Game.class", ReadFile(build / "Game.class")}}));
    const std::string library = ZipBytes(build / "lib.jar", {{"Lib.class", ReadFile(build / "Lib.class")}});
    const std::string path = "com/example/lib/1.0/lib-1.0.jar";
    WriteFile(home.program() / ".minecraft/libraries" / path, library.substr(0, 10));  // present but cut short
    TestHttpServer mirror, official;
    mirror.Serve("/libraries/" + path, TestReply::Ok(library.substr(0, library.size() / 2)));
    official.Serve("/libraries/" + path, TestReply::Ok(library));
    nlohmann::json legacy = {{"id", "legacy"}, {"mainClass", "Game"}, {"minecraftArguments", Fixture("1.7.10")["minecraftArguments"]},
                             {"libraries", {{{"name", "com.example:lib:1.0"}, {"downloads", {{"artifact", {{"path", path},
                                 {"url", official.Url("/libraries/" + path)}, {"sha1", Sha1OfBytes(library)}, {"size", library.size()}}}}}}}}};
    WriteFile(core / "legacy.json", legacy.dump());

    const std::string agent = ZipBytes(build / "agent.jar", {{"META-INF/MANIFEST.MF", "Manifest-Version: 1.0\r\nPremain-Class: Agent\r\n\r\n"},
                                                             {"Agent.class", ReadFile(build / "Agent.class")}});
    const auto release = [&](const std::string& sha256) {
        mirror.Serve("/mirrors/authlib-injector/artifact/latest.json",
                     TestReply::Ok(nlohmann::json{{"version", "9.9.9"}, {"download_url", mirror.Url("/agent/9.9.9.jar")},
                                                  {"checksums", {{"sha256", sha256}}}}.dump()));
    };
    release(Sha256OfBytes(agent));
    mirror.Serve("/agent/9.9.9.jar", TestReply::Ok(agent));
    WriteFile(home.config(), "[launcher]\nselected_java=auto\nmemory_mb=256\ngc_preset=g1_std\n");
    SignedIn(home);
    auto launcher = StartHeadless(home, {"JAVA_HOME=" + std::string(kTestJdk), "LUMIVALE_MIRROR_BASE=" + mirror.Url("/"),
                                         "LUMIVALE_OFFICIAL_LIBRARIES_BASE=" + official.Url("/libraries/")});

    EXPECT_EQ(LaunchAndReadGameOutput(*launcher, home, core), "PROPERTIES {}\nLIBRARY Lib\n");
    EXPECT_EQ(ReadFile(home.program() / ".minecraft/libraries" / path), library);
    EXPECT_EQ(ReadFile(core / "agent-argument.txt"), "127.0.0.1:9");  // the skin site's host and port
    EXPECT_EQ(ReadFile(home.program() / "cache/authlib-injector-9.9.9.jar"), agent);

    // The cached agent serves the same day; once gone, a release with a wrong SHA-256 is left out and said so.
    release(std::string(64, '0'));
    for (const bool cached : {true, false}) {
        fs::remove(core / "agent-argument.txt");
        EXPECT_EQ(LaunchAndReadGameOutput(*launcher, home, core), "PROPERTIES {}\nLIBRARY Lib\n");
        EXPECT_EQ(fs::exists(core / "agent-argument.txt"), cached);
        EXPECT_EQ(mirror.CountOf("/mirrors/authlib-injector/artifact/latest.json"), cached ? 1 : 2);
        fs::remove_all(home.program() / "cache");
    }
    launcher->CloseInput();
    EXPECT_EQ(launcher->Wait(), 0);
    EXPECT_NE(launcher->Stderr().find(std::string("authlib-injector 下载内容的 sha256 与发布信息不符，已丢弃：") + mirror.Url("/agent/9.9.9.jar")),
              std::string::npos) << launcher->Stderr();
    EXPECT_NE(launcher->Stderr().find("authlib-injector 内嵌资源解压失败，跳过（游戏内 LittleSkin 皮肤可能不生效）"), std::string::npos);
}

TEST(CoreSelection, ChoosingACoreReportsTheJavaAutoTakesAndAutoStaysAuto) {
    TempHome home;
    const fs::path core = home.program() / ".minecraft" / "versions" / "1.12.2";
    WriteFile(core / "1.12.2.jar", "");
    fs::resize_file(core / "1.12.2.jar", 25u << 20);
    WriteFile(core / "1.12.2.json", R"({"id":"1.12.2","javaVersion":{"majorVersion":17}})");  // the JSON decides
    const fs::path java8 = home.root() / "jdk8/bin/java", java17 = home.root() / "jdk17/bin/java";
    WriteFile(java8, "");
    WriteFile(java17, "");
    // No Java chosen yet: the start makes it "auto", as the page shows it.
    WriteFile(home.config(), "[java]\ncount=2\njava0_name=java version \"1.8.0_392\"\njava0_exe=" +
                                 java8.string() + "\njava1_name=openjdk version \"17.0.9\"\njava1_exe=" + java17.string() + "\n");
    auto launcher = StartHeadless(home);
    const std::string choose = R"({"type":"config:set","key":"selected_core","value":")" + core.string() + R"("})";
    launcher->Send(choose);
    EXPECT_EQ(NextOfType(*launcher, "sys:core_info"),
              R"({"type":"sys:core_info","realVersion":"1.12.2","javaMajor":17,"javaDisplay":"openjdk version \"17.0.9\""})");
    // A core nobody has is not reported; nothing picks a Java behind the page's back.
    launcher->Send(R"({"type":"config:set","key":"selected_core","value":"/no/such/core"})");
    launcher->Send(R"({"type":"game:stop"})");
    EXPECT_EQ(launcher->ReadLine().value_or(""), R"({"type":"config:saved","key":"selected_core","ok":true})");
    EXPECT_EQ(launcher->ReadLine().value_or(""), R"({"type":"game:stopped"})");
    launcher->CloseInput();
    EXPECT_EQ(launcher->Wait(), 0);
    EXPECT_NE(ReadFile(home.config()).find("selected_java=auto\n"), std::string::npos);
}

}  // namespace
}  // namespace lumivale::test
