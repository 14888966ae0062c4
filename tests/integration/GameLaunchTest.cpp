// "game:launch" from end to end: a core with a missing library and a damaged official client jar, a
// loopback mirror that has them, the machine's JDK, a small game that prints its arguments, and the
// reference backend that keeps the play time; and the core choice as the page sees it.
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
    // A signed-in player, so the command line carries a token that the log must not show.
    WriteFile(home.store(), R"({"cloud":{"private_key":""},"littleskin":{"access_token":"secret-token-123","client_token":"c",)"
                            R"("current_role":"Steve","current_role_id":"0123abcd","account_id":"u-77"}})");
    fs::permissions(home.store(), fs::perms::owner_read | fs::perms::owner_write);
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
    EXPECT_EQ(NextOfType(*launcher, "game:error"), R"({"type":"game:error","reason":"未找到核心 jar 文件"})");
    launcher->CloseInput();
    EXPECT_EQ(launcher->Wait(), 0);
    const std::regex upload("上传时长：账号=u-77 本局=([2-9]|[1-9]\\d+)秒 增量=\\d+秒 结果=成功\\(服务端累计=([2-9]|[1-9]\\d+)\\)");
    EXPECT_TRUE(std::regex_search(launcher->Stderr(), upload))
        << launcher->Stderr();
}

TEST(CoreSelection, ChoosingACoreReportsItAndPicksItsJavaWhileOnAuto) {
    TempHome home;
    const fs::path core = home.program() / ".minecraft" / "versions" / "1.20.1";
    WriteFile(core / "1.20.1.jar", "");
    fs::resize_file(core / "1.20.1.jar", 25u << 20);
    WriteFile(core / "1.20.1.json", R"({"id":"1.20.1"})");
    const fs::path java8 = home.root() / "jdk8/bin/java", java17 = home.root() / "jdk17/bin/java";
    WriteFile(java8, "");
    WriteFile(java17, "");
    WriteFile(home.config(), "[launcher]\nselected_java=auto\n[java]\ncount=2\njava0_name=java version \"1.8.0_392\"\njava0_exe=" +
                                 java8.string() + "\njava1_name=openjdk version \"17.0.9\"\njava1_exe=" + java17.string() + "\n");
    auto launcher = StartHeadless(home);
    const std::string choose = R"({"type":"config:set","key":"selected_core","value":")" + core.string() + R"("})";
    launcher->Send(choose);
    EXPECT_EQ(NextOfType(*launcher, "sys:core_info"),
              R"({"type":"sys:core_info","realVersion":"1.20.1","javaMajor":17,"javaDisplay":"openjdk version \"17.0.9\""})");
    EXPECT_EQ(launcher->ReadLine().value_or(""), R"({"type":"sys:select_java","value":")" + java17.string() + R"("})");
    // A core nobody has is not reported; with a Java chosen, no second automatic choice.
    launcher->Send(R"({"type":"config:set","key":"selected_core","value":"/no/such/core"})");
    launcher->Send(choose);
    EXPECT_TRUE(launcher->ReadLine().value_or("").starts_with(R"({"type":"sys:core_info",)"));
    launcher->Send(R"({"type":"game:stop"})");
    EXPECT_EQ(launcher->ReadLine().value_or(""), R"({"type":"game:stopped"})");
    launcher->CloseInput();
    EXPECT_EQ(launcher->Wait(), 0);
    EXPECT_NE(ReadFile(home.config()).find("selected_java=" + java17.string() + "\n"), std::string::npos);
}

}  // namespace
}  // namespace lumivale::test
